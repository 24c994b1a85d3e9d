#include "UDPOutputEngine.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <curl/curl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

#include "ArtNetOutputData.h"
#include "DDPOutputData.h"
#include "E131OutputData.h"
#include "KiNetOutputData.h"
#include "NetworkMonitor.h"
#include "Ping.h"
#include "WarningHolder.h"
#include "log.h"
#include "settings.h"

namespace {

using Clock = std::chrono::steady_clock;

// A send that takes longer than this counts as failed.
constexpr auto SLOW_SEND = std::chrono::milliseconds(100);
constexpr int SEND_RETRIES = 9;
// Linux sends at most this many datagrams per sendmmsg call.
constexpr unsigned MAX_BATCH = 1024;

struct InterfaceInfo {
    bool found = false;
    bool loopback = false;
    in_addr address{};
    in_addr broadcast{};
};

InterfaceInfo interfaceInfo(const std::string& name) {
    InterfaceInfo info;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return info;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || name != i->ifa_name) continue;
        info.found = true;
        info.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        info.address = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
        if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr)
            info.broadcast = reinterpret_cast<sockaddr_in*>(i->ifa_broadaddr)->sin_addr;
        break;
    }
    freeifaddrs(list);
    return info;
}

std::string hostName() {
    std::string name = getSetting("HostName", "");
    if (name.empty()) {
        char buf[256] = {};
        if (gethostname(buf, sizeof(buf) - 1) == 0) name = buf;
    }
    return name.empty() ? "KIV" : name;
}

UDPOutputData* createSender(const Json::Value& entry, const UDPOutputContext& context) {
    bool ok = true;
    int type = configInt(entry, "type", 0, ok);
    if (!ok) type = -1;
    switch (type) {
    case 0:
    case 1: return new E131OutputData(entry, context);
    case 2:
    case 3: return new ArtNetOutputData(entry, context);
    case 4:
    case 5: return new DDPOutputData(entry, context);
    case 6:
    case 7: return new KiNetOutputData(entry, context);
    default:
        // Type 8 (Twinkly) is a destination kind this module does not carry.
        LogErr(kivlog::ChannelOut, "Unknown IP output type %d\n", type);
        return nullptr;
    }
}

int intKey(const Json::Value& config, const char* key, int defaultValue) {
    bool ok = true;
    const int v = configInt(config, key, defaultValue, ok);
    if (!ok) LogErr(kivlog::ChannelOut, "UDP output: \"%s\" is not an integer\n", key);
    return v;
}

} // namespace

UDPOutputEngine::UDPOutputEngine()
    : pinger([](const std::vector<PingRequest>& requests) { return pingMany(requests); },
             [this](const std::vector<std::string>& hosts) { return probeControllers(hosts); }) {
    curlMulti = curl_multi_init();
}

UDPOutputEngine::~UDPOutputEngine() {
    {
        std::lock_guard<std::mutex> l(workMutex);
        runWorkThreads = false;
    }
    workSignal.notify_all();
    for (std::thread& t : workThreads)
        if (t.joinable()) t.join();
    stopPingThread();
    if (networkCallbackId >= 0) NetworkMonitor::INSTANCE.removeCallback(networkCallbackId);
    networkCallbackId = -1;
    for (UDPOutputData* o : outputs) delete o;
    outputs.clear();
    if (curlMulti) curl_multi_cleanup(static_cast<CURLM*>(curlMulti));
    curlMulti = nullptr;
}

void UDPOutputEngine::addOutput(UDPOutputData* output) { outputs.push_back(output); }

bool UDPOutputEngine::Init(const Json::Value& config) {
    if (!config.isObject()) {
        LogErr(kivlog::ChannelOut, "UDP output configuration is not an object\n");
        return false;
    }
    enabled = intKey(config, "enabled", 0) != 0;
    useThreads = intKey(config, "threaded", 1) != 0;
    if (config.isMember("interface") && config["interface"].isString())
        interfaceName = config["interface"].asString();

    // Interface choice: the configured one, else the first whose name starts with 'e',
    // else the first other than loopback, else "eth0".
    std::set<uint32_t> localAddresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        std::string fallback;
        const bool choose = interfaceName.empty();
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
            localAddresses.insert(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
            if (choose && interfaceName.empty()) {
                const std::string name = i->ifa_name;
                if (fallback.empty() && name != "lo") fallback = name;
                if (name[0] == 'e') interfaceName = name;
            }
        }
        freeifaddrs(list);
        if (interfaceName.empty()) interfaceName = fallback.empty() ? "eth0" : fallback;
    } else if (interfaceName.empty()) {
        interfaceName = "eth0";
    }

    UDPOutputContext context;
    context.sourceName = hostName();
    context.cid = E131OutputData::cidFromUUID(getSetting("SystemUUID", ""), context.sourceName);
    context.broadcastAddress = interfaceInfo(interfaceName).broadcast.s_addr;

    const Json::Value universes = config.get("universes", Json::Value());
    if (universes.isArray()) {
        for (Json::ArrayIndex n = 0; n < universes.size(); n++) {
            UDPOutputData* o = createSender(universes[n], context);
            if (!o) continue;
            if (!o->configError().empty()) {
                const std::string text = "UDP output entry " + std::to_string(n + 1) + " (" +
                                         o->GetOutputTypeString() + " " + o->description +
                                         ") disabled: " + o->configError();
                LogErr(kivlog::ChannelOut, "%s\n", text.c_str());
                WarningHolder::AddWarning(text);
                o->active = false;
            }
            addOutput(o);
        }
    }

    if (getSettingInt("DisableFakeNetworkBridges", 0) == 0) {
        for (UDPOutputData* o : outputs) {
            // Compared by address, so a host name of this machine is caught too.
            if (o->IsPingable() && o->active && localAddresses.count(o->destinationKey())) {
                const std::string text = "UDP Output set to send data to myself.  Disabling " +
                                         o->ipAddress;
                LogWarn(kivlog::ChannelOut, "%s\n", text.c_str());
                WarningHolder::AddWarning(text);
                o->active = false;
            }
        }
    }

    networkCallbackId = NetworkMonitor::INSTANCE.registerCallback(
        [this](NetworkMonitor::NetEventType type, int state, const std::string& iface) {
            networkEvent(int(type), state, iface);
        });
    // Ready only once sockets exist, so a later "address up" event still sets them up.
    networkReady = InitNetwork();
    // Escalating time-outs: a dead controller is invalid before output starts.
    PingControllers(false);
    PingControllers(true);
    PingControllers(true);

    runPingThread = true;
    pingThread = std::thread([this] { pingLoop(); });
    return true;
}

void UDPOutputEngine::Close() {
    stopPingThread();
    if (networkCallbackId >= 0) NetworkMonitor::INSTANCE.removeCallback(networkCallbackId);
    networkCallbackId = -1;
}

void UDPOutputEngine::stopPingThread() {
    {
        std::lock_guard<std::mutex> l(pingMutex);
        runPingThread = false;
    }
    pingSignal.notify_all();
    if (pingThread.joinable()) pingThread.join();
}

bool UDPOutputEngine::InitNetwork() {
    std::lock_guard<std::mutex> l(outputMutex);
    if (messages.hasSockets()) return true;
    if (!enabledBySockets) return false;
    const InterfaceInfo info = interfaceInfo(interfaceName);
    char text[INET_ADDRSTRLEN] = "127.0.0.1";
    if (info.found) inet_ntop(AF_INET, &info.address, text, sizeof(text));
    LogDebug(kivlog::ChannelOut, "UDPLocalAddress = %s\n", text);
    // An interface without an address reads as 127.0.0.1: no network yet. A loopback
    // interface named on purpose is used as it is (shows and tests on one machine).
    if (!info.found || (!info.loopback && std::strncmp(text, "127", 3) == 0)) return false;
    localAddress = sockaddr_in{};
    localAddress.sin_family = AF_INET;
    localAddress.sin_port = 0;
    localAddress.sin_addr = info.address;
    const int fd = createSocket(0, true);
    if (fd < 0) return false;
    messages.ForceSocket(udpproto::BROADCAST_KEY, fd);
    return true;
}

void UDPOutputEngine::disableForSocketFailure(const char* what, int error) {
    const std::string text = std::string("UDP output disabled: ") + what + ": " + strerror(error);
    LogErr(kivlog::ChannelOut, "%s\n", text.c_str());
    WarningHolder::AddWarning(text);
    enabledBySockets = false;
}

int UDPOutputEngine::createSocket(int port, bool broadcast) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int e = errno;
        disableForSocketFailure("Error opening datagram socket", e);
        return -1;
    }
    int off = 0;
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof(off)) < 0) {
        LogErr(kivlog::ChannelOut, "Error setting IP_MULTICAST_LOOP error\n");
        close(fd);
        return -1;
    }
    if (broadcast) {
        int on = 1;
        if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) < 0) {
            const int e = errno;
            close(fd);
            disableForSocketFailure("Error setting SO_BROADCAST", e);
            return -1;
        }
    } else if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &localAddress.sin_addr,
                          sizeof(localAddress.sin_addr)) < 0) {
        LogErr(kivlog::ChannelOut, "Error setting IP_MULTICAST_IF error\n");
    }
    sockaddr_in local = localAddress;
    local.sin_port = htons(uint16_t(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) < 0)
        LogErr(kivlog::ChannelOut, "Error in bind:errno=%d, %s\n", errno, strerror(errno));
    // Connected to ourselves so nothing from elsewhere queues up on a send-only socket;
    // every datagram names its destination.
    if (connect(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) < 0)
        LogErr(kivlog::ChannelOut, "Error connecting IP_MULTICAST_LOOP socket\n");
    return fd;
}

SendSocketInfo* UDPOutputEngine::findOrCreateSocket(uint32_t key, int count) {
    SendSocketInfo* info = messages.GetSocket(key);
    if (info->sockets.empty()) {
        for (int n = 0; n < count; n++) {
            const int fd = createSocket(0, false);
            if (fd < 0) {
                info->closeAll();
                return nullptr;
            }
            info->sockets.push_back(fd);
        }
    }
    if (info->nextSocket < 0) info->nextSocket = 0;
    return info;
}

int UDPOutputEngine::SendMessages(uint32_t key, SendSocketInfo* info, std::vector<mmsghdr>& msgs) {
    const size_t total = msgs.size();
    if (total == 0 || info->sockets.empty()) return 0;
    if (info->nextSocket < 0 || size_t(info->nextSocket) >= info->sockets.size())
        info->nextSocket = 0;
    int fd = info->sockets[size_t(info->nextSocket)];
    info->nextSocket = (info->nextSocket + 1) % int(info->sockets.size());

    size_t sent = 0;
    int attempts = 0;
    while (sent < total) {
        const unsigned batch = unsigned(std::min<size_t>(total - sent, MAX_BATCH));
        const int r = sendFunction(fd, msgs.data() + sent, batch, MSG_DONTWAIT);
        if (r > 0) sent += size_t(r);
        if (sent >= total) break;
        if (r == int(batch)) continue; // a full batch: the rest goes in the next call
        if (attempts++ >= SEND_RETRIES) break;
        const int e = errno;
        LogErr(kivlog::ChannelOut,
               "sendmmsg() failed for UDP output (key: %X   Socket: %d   output count: %d/%d) with error: %d   %s\n",
               key, fd, int(sent), int(total), e, strerror(e));
        if (e == EAGAIN || e == EWOULDBLOCK) {
            if (key == udpproto::BROADCAST_KEY) break;
            fd = info->sockets[size_t(info->nextSocket)];
            info->nextSocket = (info->nextSocket + 1) % int(info->sockets.size());
        }
    }
    return int(sent);
}

bool UDPOutputEngine::sendGroup(uint32_t key, SendSocketInfo* info, std::vector<mmsghdr>& msgs) {
    const auto start = Clock::now();
    errno = 0;
    const int sent = SendMessages(key, info, msgs);
    const int e = errno;
    const auto took = Clock::now() - start;
    if (size_t(sent) == msgs.size() && took <= SLOW_SEND) {
        info->errCount = 0;
        return true;
    }
    info->errCount++;
    LogErr(kivlog::ChannelOut,
           "sendmmsg() failed for UDP output (key: %X   output count: %d/%d   time: %u ms    errCount: %d) with error: %d   %s\n",
           key, sent, int(msgs.size()),
           unsigned(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
           info->errCount, e, strerror(e));
    return false;
}

void UDPOutputEngine::PrepData(unsigned char* channelData) {
    if (!enabled || !enabledBySockets) return;
    std::lock_guard<std::mutex> l(outputMutex);
    // A group whose worker overran an earlier frame still sends from its vector and its
    // senders' buffers: leave both alone this frame.
    const bool anyBusy = jobsInFlight.load() > 0;
    for (auto& [key, v] : messages.messages) {
        SendSocketInfo* info = nullptr;
        if (anyBusy) {
            auto it = messages.sockets.find(key);
            if (it != messages.sockets.end()) info = it->second;
        }
        if (info) info->skipFrame = info->busy.load();
        if (!info || !info->skipFrame) v.clear();
    }
    if (!anyBusy)
        for (auto& [key, info] : messages.sockets) info->skipFrame = false;
    for (UDPOutputData* o : outputs) {
        if (!o->valid || !o->active) continue;
        if (anyBusy) {
            auto it = messages.sockets.find(o->destinationKey());
            if (it != messages.sockets.end() && it->second->skipFrame) continue;
        }
        o->PrepareData(channelData, messages);
    }
    for (UDPOutputData* o : outputs)
        if (o->valid && o->active) o->PostPrepareData(channelData, messages);
}

int UDPOutputEngine::SendData(unsigned char* channelData) {
    if (!enabled || !enabledBySockets) return 0;
    std::lock_guard<std::mutex> l(outputMutex);
    if (!messages.hasSockets()) return 0;

    auto wakePingIfFailing = [this](SendSocketInfo* info) {
        if (info->errCount > 2) {
            {
                std::lock_guard<std::mutex> pl(pingMutex);
                pingWake = true;
            }
            pingSignal.notify_all();
            info->errCount = 0;
        }
    };

    if (!useThreads) {
        for (auto& [key, v] : messages.messages) {
            if (v.empty()) continue;
            SendSocketInfo* info = findOrCreateSocket(key, SOCKETS_PER_DESTINATION);
            if (!info) return 0;
            if (!sendGroup(key, info, v)) wakePingIfFailing(info);
        }
        return 1;
    }

    const uint32_t frame = ++frameNumber;
    doneCount = uint64_t(frame) << 32;
    const auto start = Clock::now();
    uint32_t jobs = 0;
    for (auto& [key, v] : messages.messages) {
        if (v.empty() || key == udpproto::BROADCAST_KEY || key == udpproto::MULTICAST_KEY)
            continue;
        // A late worker still owns the set; touch nothing of it until it is done.
        if (SendSocketInfo* late = messages.GetSocket(key); late->skipFrame || late->busy)
            continue;
        SendSocketInfo* info = findOrCreateSocket(key, SOCKETS_PER_DESTINATION);
        if (!info) return 0;
        info->busy = true;
        jobsInFlight++;
        {
            std::lock_guard<std::mutex> wl(workMutex);
            workQueue.push_back(SendJob{key, info, &v, frame});
        }
        workSignal.notify_one();
        jobs++;
    }
    {
        std::lock_guard<std::mutex> wl(workMutex);
        while (size_t(numWorkThreads.load()) < workQueue.size() - workHead) {
            numWorkThreads++;
            workThreads.emplace_back([this] { workerLoop(); });
        }
        if (workHead < workQueue.size()) workSignal.notify_all();
    }
    {
        std::unique_lock<std::mutex> dl(doneMutex);
        doneSignal.wait_until(dl, start + std::chrono::milliseconds(WORKER_WAIT_MS),
                              [&] { return uint32_t(doneCount.load()) >= jobs; });
    }
    if (uint32_t(doneCount.load()) < jobs) return 1; // reserved groups wait for a frame whose workers finish

    for (auto& [key, v] : messages.messages) {
        if (v.empty()) continue;
        if (key == udpproto::BROADCAST_KEY || key == udpproto::MULTICAST_KEY) {
            SendSocketInfo* info = findOrCreateSocket(key, SOCKETS_PER_DESTINATION);
            if (!info) return 0;
            sendGroup(key, info, v);
            wakePingIfFailing(info);
        } else if (SendSocketInfo* info = messages.GetSocket(key); !info->busy) {
            wakePingIfFailing(info);
        }
    }
    return 1;
}

void UDPOutputEngine::workerLoop() {
    for (;;) {
        SendJob job;
        {
            std::unique_lock<std::mutex> l(workMutex);
            workSignal.wait(l, [this] { return !runWorkThreads || workHead < workQueue.size(); });
            if (!runWorkThreads) break;
            job = workQueue[workHead++];
            if (workHead == workQueue.size()) {
                workQueue.clear();
                workHead = 0;
            }
        }
        sendGroup(job.key, job.info, *job.msgs);
        // Hand the group back first: once the frame sees its jobs done, the next PrepData
        // must find every on-time group free. Nothing of the group is touched after this.
        job.info->busy = false;
        jobsInFlight--;
        // Counted only while its frame still waits; a late finish is not the next frame's.
        uint64_t current = doneCount.load();
        while (uint32_t(current >> 32) == job.frame &&
               !doneCount.compare_exchange_weak(current, current + 1)) {
        }
        {
            std::lock_guard<std::mutex> dl(doneMutex); // no lost wake-up of the frame thread
        }
        doneSignal.notify_one();
    }
    numWorkThreads--;
}

void UDPOutputEngine::GetRequiredChannelRanges(const std::function<void(int, int)>& addRange) {
    if (!enabled) return;
    for (UDPOutputData* o : outputs) {
        if (!o->active) continue;
        int first = 0, last = 0;
        o->GetRequiredChannelRange(first, last);
        addRange(first, last);
    }
}

void UDPOutputEngine::StartingOutput() {
    for (UDPOutputData* o : outputs)
        if (o->valid && o->active) o->StartingOutput();
}

void UDPOutputEngine::StoppingOutput() {
    for (UDPOutputData* o : outputs)
        if (o->valid && o->active) o->StoppingOutput();
}

void UDPOutputEngine::DumpConfig() {
    LogDebug(kivlog::ChannelOut, "    Interface %s, %s, %d entries\n", interfaceName.c_str(),
             useThreads ? "threaded" : "unthreaded", int(outputs.size()));
    for (UDPOutputData* o : outputs) o->DumpConfig();
}

bool UDPOutputEngine::PingControllers(bool failedOnly) {
    return pinger.PingControllers(outputs, failedOnly);
}

std::vector<bool> UDPOutputEngine::probeControllers(const std::vector<std::string>& hosts) {
    std::vector<bool> answered(hosts.size(), false);
    CURLM* multi = static_cast<CURLM*>(curlMulti);
    if (!multi) return answered;
    std::vector<CURL*> handles(hosts.size(), nullptr);
    for (size_t i = 0; i < hosts.size(); i++) {
        CURL* c = curl_easy_init();
        if (!c) continue;
        const std::string url = "http://" + hosts[i] + "/";
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, 2000L);
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 5000L);
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_PRIVATE, reinterpret_cast<void*>(i));
        if (curl_multi_add_handle(multi, c) != CURLM_OK) {
            curl_easy_cleanup(c);
            continue;
        }
        handles[i] = c;
    }
    int running = 0;
    do {
        if (curl_multi_perform(multi, &running) != CURLM_OK) break;
        if (running) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    } while (running > 0);
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
        if (m->msg != CURLMSG_DONE) continue;
        void* p = nullptr;
        curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &p);
        const size_t i = reinterpret_cast<size_t>(p);
        if (i < answered.size()) answered[i] = m->data.result == CURLE_OK;
    }
    for (CURL* c : handles) {
        if (!c) continue;
        curl_multi_remove_handle(multi, c);
        curl_easy_cleanup(c);
    }
    return answered;
}

void UDPOutputEngine::pingLoop() {
    auto next = Clock::now() + std::chrono::seconds(10);
    std::unique_lock<std::mutex> l(pingMutex);
    while (runPingThread) {
        pingSignal.wait_until(l, next, [this] { return !runPingThread || pingWake; });
        if (!runPingThread) break;
        pingWake = false;
        const bool networkUp = networkUpPending;
        networkUpPending = false;
        l.unlock();
        if (networkUp) {
            PingControllers(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            networkReady = InitNetwork();
            if (networkReady)
                LogInfo(kivlog::ChannelOut, "UDP Interface %s now up\n", interfaceName.c_str());
        } else {
            PingControllers(false);
        }
        l.lock();
        next = Clock::now() + std::chrono::seconds(15);
    }
}

void UDPOutputEngine::networkEvent(int type, int state, const std::string& iface) {
    if (iface != interfaceName) return;
    using T = NetworkMonitor::NetEventType;
    if (type == int(T::NEW_ADDR) && state != 0) {
        // The main loop must not block: pinging and socket set-up run on the ping thread.
        {
            std::lock_guard<std::mutex> l(pingMutex);
            if (!networkReady) networkUpPending = true;
            pingWake = true;
        }
        pingSignal.notify_all();
    } else if (type == int(T::DEL_ADDR)) {
        LogInfo(kivlog::ChannelOut, "UDP Interface %s now down\n", interfaceName.c_str());
        networkReady = false;
        tearDownNetwork();
        // Another address may remain on the interface; the ping thread sets up again if so,
        // so losing a secondary address does not silence the show.
        {
            std::lock_guard<std::mutex> l(pingMutex);
            networkUpPending = true;
            pingWake = true;
        }
        pingSignal.notify_all();
    }
}

void UDPOutputEngine::tearDownNetwork() {
    std::lock_guard<std::mutex> l(outputMutex);
    // Workers send without blocking; wait for the ones still running before their
    // socket sets go away.
    const auto start = Clock::now();
    while (jobsInFlight.load() > 0) std::this_thread::sleep_for(std::chrono::microseconds(250));
    if (Clock::now() - start > std::chrono::milliseconds(100))
        LogWarn(kivlog::ChannelOut, "UDP send workers took %d ms to finish before teardown\n",
                int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
    messages.clearSockets();
}
