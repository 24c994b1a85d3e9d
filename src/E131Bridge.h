#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ArtNetReceiver.h"
#include "BridgeDataSink.h"
#include "BridgeSockets.h"
#include "DDPReceiver.h"
#include "E131Receiver.h"
#include "InputUniverses.h"
#include "UDPReceiveBatch.h"

namespace Json {
class Value;
}

// What the bridge takes from the daemon's settings and surroundings; tests replace ports,
// clock and interfaces.
struct BridgeOptions {
    uint32_t bindAddress = 0; // network order; 0 = any address
    uint16_t e131Port = E131_PORT;
    uint16_t artNetPort = ARTNET_PORT;
    uint16_t ddpPort = DDP_PORT;
    bool disableFakeBridges = false; // setting "DisableFakeNetworkBridges"
    bool artNetTimeCodeSync = false; // setting "ARTNETTimeCodeSync"
    // Raise the kernel's IGMP membership limit when more groups are joined than it allows.
    bool raiseMulticastLimit = true;
    std::string hostName;            // setting "HostName"; "KIV" when empty
    std::string version;             // major.minor for ArtPollReply
    sockaddr_in artPollReplyTo{};    // 255.255.255.255:6454 when the port is 0
    std::function<std::vector<NetInterface>()> listInterfaces = ListIPv4Interfaces;
    // Milliseconds for expiries and packet ages; the engine's monotonic clock when empty.
    std::function<uint64_t()> clockMs;
};

// The network input bridge: E1.31, Art-Net and DDP receive sockets, the universe table and
// statistics. Every method but the statistics getters and ResetBytesReceived runs on the
// main-loop thread; those may be called from the HTTP threads at any time.
class E131Bridge {
public:
    using FDHandler = std::function<bool(int fd)>;

    E131Bridge(BridgeDataSink* sink, BridgeOptions options);
    ~E131Bridge();
    E131Bridge(const E131Bridge&) = delete;
    E131Bridge& operator=(const E131Bridge&) = delete;

    // Replaces the options; before Initialize only.
    void SetOptions(BridgeOptions options);

    // Reads the input universes file; true when at least one enabled "universes" block was read.
    bool LoadInputUniversesFromFile(const std::string& path);
    void SetInputUniverses(const InputUniverseConfig& config);
    bool IsLoaded() const { return m_loaded; }
    void InputUniversesPrint() const;

    // Opens the sockets the configuration needs and joins the multicast groups. False when
    // a socket cannot be created or bound (logged); the caller decides whether that is fatal.
    bool Initialize();
    // Closes the sockets and removes every Art-Net opcode handler.
    void Shutdown();

    // The descriptors to watch (level-triggered, readable) with their handlers; a handler
    // returning true asks for an output frame at once. Installs the Art-Net opcode
    // handlers of a loaded configuration.
    std::vector<std::pair<int, FDHandler>> GetBridgeFDs();

    int E131Socket() const { return m_e131Sock; }
    int DDPSocket() const { return m_ddpSock; }
    int ArtNetSocket() const { return m_artnetSock; }
    int CreateArtNetSocket(); // -1 when it cannot be opened

    // ArtDmx, ArtSync and ArtPoll into this bridge (GetBridgeFDs does it for a loaded configuration).
    void InstallArtNetHandlers();
    // Not from inside a handler: the running handler would be destroyed under it.
    void AddArtNetOpcodeHandler(int opcode, ArtNetOpcodeTable::Handler handler);
    void RemoveArtNetOpcodeHandler(int opcode);

    // Socket handlers: drain the socket in batches (bounded per call so a flood cannot hold
    // the main loop; the next readiness continues).
    bool ReceiveE131Data(int fd);
    bool ReceiveDDPData(int fd);
    bool ReceiveArtNetData(int fd);
    // With no input configured: one 30-second warning per sender seen in this call.
    bool AddWarningForProtocol(int fd, const char* protocol);

    // One datagram each, `timeMs` its batch's receive time.
    bool StoreE131Data(const uint8_t* data, size_t length, uint64_t timeMs);
    bool StoreDDPData(const uint8_t* data, size_t length, uint64_t timeMs);
    bool HandleArtNetDatagram(const uint8_t* data, size_t length, uint64_t timeMs);
    bool StoreArtNetData(const uint8_t* data, size_t length, uint64_t timeMs);
    bool HandleArtNetSync(const uint8_t* data, size_t length, uint64_t timeMs);
    bool HandleArtNetPoll(const uint8_t* data, size_t length, uint64_t timeMs);

    bool HasBridgeData() const { return m_bridgeDataReceived.load(std::memory_order_relaxed); }
    double GetSecondsFromInputPacket() const;
    Json::Value GetE131UniverseBytesReceived() const;
    void ResetBytesReceived();
    const std::vector<UniverseEntry>& InputUniverses() const { return m_universes; }
    int ExpireOffset() const { return m_expireOffset; }

private:
    static constexpr int NOT_CONFIGURED = 0xFFFFFF;
    // Batches per handler call: 64 x 48 datagrams, a few milliseconds of work at most.
    static constexpr int MAX_BATCHES_PER_CALL = 64;

    uint64_t Now() const;
    UniverseEntry* FindUniverse(int universe);
    void CountSequence(UniverseEntry& e, int sequence, bool zeroMeansUnused);
    void Bridge(UniverseEntry& e, const uint8_t* data, int available, uint64_t timeMs);
    void SendArtPollReplies();
    template <typename F>
    bool DrainSocket(int fd, F&& perDatagram);

    BridgeDataSink* m_sink;
    BridgeOptions m_options;
    UDPReceiveBatch m_batch;

    bool m_loaded = false;
    int m_expireOffset = 1000;
    std::vector<UniverseEntry> m_universes;
    std::vector<int> m_universeCache; // 65536 indexes into m_universes, NOT_CONFIGURED otherwise
    UniverseEntry m_unknownUniverse;

    BridgeCounter m_e131SyncPackets;
    BridgeCounter m_e131Errors;
    BridgeCounter m_artnetErrors;
    BridgeCounter m_ddpPacketsReceived;
    BridgeCounter m_ddpErrors;
    BridgeCounter m_ddpBytesReceived;
    BridgeCounter m_ddpMinChannel;
    BridgeCounter m_ddpMaxChannel;
    int m_ddpLastSequence = 0;

    std::atomic<uint64_t> m_lastPacketTime{0};
    std::atomic<bool> m_bridgeDataReceived{false};
    uint64_t m_lastPollReply = 0;

    int m_e131Sock = -1;
    int m_ddpSock = -1;
    int m_artnetSock = -1;
    ArtNetOpcodeTable m_artnetHandlers;
};
