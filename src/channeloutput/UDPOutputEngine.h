#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "ControllerPinger.h"
#include "UDPOutputData.h"
#include "UDPOutputMessages.h"

// Everything the "UDP" output does, apart from the output contract it is called through
// (UDPOutput is the thin glue): every E1.31, Art-Net, DDP and KiNet destination of the
// show from one list of universe entries. PrepData lets each sender queue its datagrams
// per destination; SendData sends each destination's datagrams with one sendmmsg, from a
// worker thread per destination when threaded. A ping thread takes unreachable
// controllers out of the output and puts them back when they answer.
//
// Threads: PrepData and SendData on the frame thread; send workers; the ping thread;
// networkEvent on the main loop. outputMutex serialises preparing, sending and socket
// teardown.
class UDPOutputEngine {
public:
    UDPOutputEngine();
    ~UDPOutputEngine();
    UDPOutputEngine(const UDPOutputEngine&) = delete;
    UDPOutputEngine& operator=(const UDPOutputEngine&) = delete;

    // Reads the output object; false only when it is not an object. Bad entries are
    // disabled with a user warning and do not fail the output.
    bool Init(const Json::Value& config);
    // Stops the ping thread and leaves the network monitor; send workers end with the
    // engine.
    void Close();
    void PrepData(unsigned char* channelData);
    // 1 when it sent, 0 when disabled or when no socket exists (yet).
    int SendData(unsigned char* channelData);
    void GetRequiredChannelRanges(const std::function<void(int, int)>& addRange);
    void StartingOutput();
    void StoppingOutput();
    void DumpConfig();

    void addOutput(UDPOutputData* output);
    // Network monitor callback (type, state, interface); runs on the main loop, so it only
    // tears sockets down and hands pinging and set-up to the ping thread.
    void networkEvent(int type, int state, const std::string& iface);
    bool PingControllers(bool failedOnly);

    // The system call that sends a batch (sendmmsg); tests put a fake socket here.
    using SendFunction = std::function<int(int fd, mmsghdr* msgs, unsigned count, int flags)>;
    void SetSendFunction(SendFunction f) { sendFunction = std::move(f); }

    // Time a frame waits for its send workers before it gives up on them.
    static constexpr int WORKER_WAIT_MS = 50;
    static constexpr int SOCKETS_PER_DESTINATION = 5;

private:
    struct SendJob {
        uint32_t key;
        SendSocketInfo* info;
        std::vector<mmsghdr>* msgs;
        uint32_t frame;
    };

    bool InitNetwork();
    void tearDownNetwork();
    int createSocket(int port, bool broadcast);
    SendSocketInfo* findOrCreateSocket(uint32_t key, int count);
    int SendMessages(uint32_t key, SendSocketInfo* info, std::vector<mmsghdr>& msgs);
    // Sends one group and keeps its error count; true when all went out within 100 ms.
    bool sendGroup(uint32_t key, SendSocketInfo* info, std::vector<mmsghdr>& msgs);
    void disableForSocketFailure(const char* what, int error);
    void workerLoop();
    void pingLoop();
    void stopPingThread();
    std::vector<bool> probeControllers(const std::vector<std::string>& hosts);

    std::atomic<bool> enabled{false};
    // Cleared for good when a socket cannot be made (descriptors ran out, ...): the
    // output stops with a user warning, the show goes on.
    std::atomic<bool> enabledBySockets{true};
    std::vector<UDPOutputData*> outputs;
    std::string interfaceName;
    sockaddr_in localAddress{};

    std::mutex outputMutex;
    UDPOutputMessages messages;

    bool useThreads = true;
    std::mutex workMutex;
    std::condition_variable workSignal;
    // Filled by SendData, drained by the workers; keeps its capacity, so queueing a job
    // allocates nothing once the pool has seen its largest frame.
    std::vector<SendJob> workQueue;
    size_t workHead = 0;
    std::atomic<int> numWorkThreads{0};
    std::vector<std::thread> workThreads;
    bool runWorkThreads = true;
    // Frame number (high 32 bits) and jobs of that frame done (low 32 bits): a worker
    // that finishes after its frame gave up on it is not counted in the next one.
    std::atomic<uint64_t> doneCount{0};
    std::mutex doneMutex;               // pairs with doneSignal only
    std::condition_variable doneSignal; // a job finished
    uint32_t frameNumber = 0;
    std::atomic<int> jobsInFlight{0};

    bool runPingThread = true;
    std::thread pingThread;
    std::mutex pingMutex;
    std::condition_variable pingSignal;
    bool pingWake = false;
    bool networkUpPending = false;
    void* curlMulti = nullptr;
    ControllerPinger pinger;

    SendFunction sendFunction = [](int fd, mmsghdr* m, unsigned n, int flags) {
        return ::sendmmsg(fd, m, n, flags);
    };

    std::atomic<bool> networkReady{false};
    int networkCallbackId = -1;
};
