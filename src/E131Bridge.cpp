#include "E131Bridge.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "MonotonicClock.h"
#include "WarningHolder.h"
#include "log.h"

namespace {
constexpr uint64_t DDP_MIN_CHANNEL_START = 0x0FFFFFFF;
// Linux allows 20 group memberships per socket unless raised.
constexpr int DEFAULT_IGMP_MEMBERSHIPS = 20;
// Broadcast replies serve every poller at once: more than one per interval only amplifies a flood.
constexpr uint64_t POLL_REPLY_INTERVAL_MS = 100;
// Ending a stream expires its range; the bytes handed over with it are never shown.
const uint8_t ZEROS[UDPReceiveBatch::BUFFER_SIZE] = {};

void CloseSocket(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}
} // namespace

E131Bridge::E131Bridge(BridgeDataSink* sink, BridgeOptions options)
    : m_sink(sink), m_universeCache(65536, NOT_CONFIGURED) {
    m_ddpMinChannel.Set(DDP_MIN_CHANNEL_START);
    SetOptions(std::move(options));
}

void E131Bridge::SetOptions(BridgeOptions options) {
    m_options = std::move(options);
    if (m_options.artPollReplyTo.sin_port == 0) {
        m_options.artPollReplyTo.sin_family = AF_INET;
        m_options.artPollReplyTo.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        m_options.artPollReplyTo.sin_port = htons(ARTNET_PORT);
    }
}

E131Bridge::~E131Bridge() { Shutdown(); }

uint64_t E131Bridge::Now() const {
    return m_options.clockMs ? m_options.clockMs() : (uint64_t)GetMonotonicTimeMS();
}

bool E131Bridge::LoadInputUniversesFromFile(const std::string& path) {
    SetInputUniverses(LoadInputUniverses(path));
    return m_loaded;
}

void E131Bridge::SetInputUniverses(const InputUniverseConfig& config) {
    m_loaded = config.loaded;
    m_universes.clear();
    for (const auto& u : config.universes) {
        if (IsValidUniverseEntry(u)) {
            m_universes.push_back(u);
        } else {
            LogWarn(kivlog::E131Bridge, "Input universe %d (channels %d+%d) is not valid, skipped\n", u.universe,
                    u.startAddress, u.size);
        }
    }
    if (config.timeoutMs >= 0) {
        m_expireOffset = config.timeoutMs;
    }
    // Filled up front (first entry of a number wins, whatever its type), so unknown
    // universes cost a table read, not a scan.
    std::fill(m_universeCache.begin(), m_universeCache.end(), NOT_CONFIGURED);
    for (size_t i = 0; i < m_universes.size(); i++) {
        int& slot = m_universeCache[m_universes[i].universe];
        if (slot == NOT_CONFIGURED) {
            slot = (int)i;
        }
    }
}

void E131Bridge::InputUniversesPrint() const {
    LogInfo(kivlog::E131Bridge, "Universe Count = %d\n", (int)m_universes.size());
    for (const auto& u : m_universes) {
        if (u.type == UNIVERSE_TYPE_E131_MULTICAST || u.type == UNIVERSE_TYPE_E131_UNICAST) {
            LogDebug(kivlog::E131Bridge, "E1.31 Universe: %d:%d:%d:%d:%d  %s\n", u.active, u.universe,
                     u.startAddress, u.size, u.type, u.unicastAddress.c_str());
        } else {
            LogDebug(kivlog::E131Bridge, "ArtNet Universe: %d:%d:%d:%d:%d  %s\n", u.active, u.universe,
                     u.startAddress, u.size, u.type, u.unicastAddress.c_str());
        }
    }
}

bool E131Bridge::Initialize() {
    // A second call starts over instead of leaking the first call's sockets.
    CloseSocket(m_e131Sock);
    CloseSocket(m_ddpSock);
    InputUniversesPrint();
    bool needArtNet = false;
    if (!m_options.disableFakeBridges || m_loaded) {
        m_ddpSock = OpenBridgeSocket("bridge DDP", m_options.bindAddress, m_options.ddpPort, false);
        if (m_ddpSock < 0) {
            return false;
        }
        bool hasE131 = false;
        int multicast = 0;
        for (const auto& u : m_universes) {
            needArtNet |= u.type == UNIVERSE_TYPE_ARTNET || u.type == UNIVERSE_TYPE_ARTNET_UNICAST;
            hasE131 |= u.type == UNIVERSE_TYPE_E131_MULTICAST || u.type == UNIVERSE_TYPE_E131_UNICAST;
            multicast += u.type == UNIVERSE_TYPE_E131_MULTICAST;
        }
        needArtNet &= m_loaded;
        if (!(m_loaded && m_options.disableFakeBridges && !hasE131)) {
            if (m_options.raiseMulticastLimit && multicast > DEFAULT_IGMP_MEMBERSHIPS) {
                // -n: never wait for a password on the main loop.
                if (system("sudo -n sysctl net/ipv4/igmp_max_memberships=512 > /dev/null 2>&1") != 0) {
                    LogWarn(kivlog::E131Bridge, "Could not raise igmp_max_memberships for %d groups\n", multicast);
                }
            }
            m_e131Sock = OpenBridgeSocket("bridge", m_options.bindAddress, m_options.e131Port, false);
            if (m_e131Sock < 0) {
                return false;
            }
            std::vector<NetInterface> interfaces;
            if (multicast) {
                interfaces = MulticastInterfaces(m_options.listInterfaces());
            }
            for (const auto& u : m_universes) {
                if (u.type == UNIVERSE_TYPE_E131_MULTICAST) {
                    JoinE131Multicast(m_e131Sock, u.universe, interfaces);
                }
            }
        }
    }
    if (needArtNet || m_options.artNetTimeCodeSync) {
        if (CreateArtNetSocket() < 0) {
            return false;
        }
    }
    return true;
}

int E131Bridge::CreateArtNetSocket() {
    if (m_artnetSock < 0) {
        m_artnetSock = OpenBridgeSocket("ArtNet", m_options.bindAddress, m_options.artNetPort, true);
    }
    return m_artnetSock;
}

void E131Bridge::Shutdown() {
    CloseSocket(m_e131Sock);
    CloseSocket(m_ddpSock);
    CloseSocket(m_artnetSock);
    m_artnetHandlers.Clear();
}

std::vector<std::pair<int, E131Bridge::FDHandler>> E131Bridge::GetBridgeFDs() {
    std::vector<std::pair<int, FDHandler>> fds;
    bool warn = !m_options.disableFakeBridges;
    if (m_e131Sock >= 0) {
        if (m_loaded) {
            fds.emplace_back(m_e131Sock, [this](int fd) { return ReceiveE131Data(fd); });
        } else if (warn) {
            fds.emplace_back(m_e131Sock, [this](int fd) { return AddWarningForProtocol(fd, "E1.31"); });
        }
    }
    if (m_ddpSock >= 0) {
        if (m_loaded) {
            fds.emplace_back(m_ddpSock, [this](int fd) { return ReceiveDDPData(fd); });
        } else if (warn) {
            fds.emplace_back(m_ddpSock, [this](int fd) { return AddWarningForProtocol(fd, "DDP"); });
        }
    }
    if (m_artnetSock >= 0 && m_loaded) {
        InstallArtNetHandlers();
        fds.emplace_back(m_artnetSock, [this](int fd) { return ReceiveArtNetData(fd); });
    }
    return fds;
}

void E131Bridge::InstallArtNetHandlers() {
    AddArtNetOpcodeHandler(ARTNET_OP_DMX, [this](const uint8_t* p, size_t n, long long t) {
        return StoreArtNetData(p, n, (uint64_t)t);
    });
    AddArtNetOpcodeHandler(ARTNET_OP_SYNC, [this](const uint8_t* p, size_t n, long long t) {
        return HandleArtNetSync(p, n, (uint64_t)t);
    });
    AddArtNetOpcodeHandler(ARTNET_OP_POLL, [this](const uint8_t* p, size_t n, long long t) {
        return HandleArtNetPoll(p, n, (uint64_t)t);
    });
}

void E131Bridge::AddArtNetOpcodeHandler(int opcode, ArtNetOpcodeTable::Handler handler) {
    m_artnetHandlers.Add(opcode, std::move(handler));
}

void E131Bridge::RemoveArtNetOpcodeHandler(int opcode) { m_artnetHandlers.Remove(opcode); }

template <typename F>
bool E131Bridge::DrainSocket(int fd, F&& perDatagram) {
    bool result = false;
    for (int batch = 0; batch < MAX_BATCHES_PER_CALL; batch++) {
        int n = m_batch.Receive(fd);
        if (n == 0) {
            break;
        }
        uint64_t timeMs = Now();
        for (int i = 0; i < n; i++) {
            result |= perDatagram(i, timeMs);
        }
    }
    return result;
}

bool E131Bridge::ReceiveE131Data(int fd) {
    return DrainSocket(fd, [this](int i, uint64_t t) { return StoreE131Data(m_batch.Data(i), m_batch.Length(i), t); });
}

bool E131Bridge::ReceiveDDPData(int fd) {
    return DrainSocket(fd, [this](int i, uint64_t t) { return StoreDDPData(m_batch.Data(i), m_batch.Length(i), t); });
}

bool E131Bridge::ReceiveArtNetData(int fd) {
    return DrainSocket(fd,
                       [this](int i, uint64_t t) { return HandleArtNetDatagram(m_batch.Data(i), m_batch.Length(i), t); });
}

bool E131Bridge::AddWarningForProtocol(int fd, const char* protocol) {
    bool ddp = strcmp(protocol, "DDP") == 0;
    std::set<uint32_t> seen;
    DrainSocket(fd, [&](int i, uint64_t) {
        if (ddp && (m_batch.Length(i) <= DDP_ID_OFFSET || m_batch.Data(i)[DDP_ID_OFFSET] != DDP_ID_DISPLAY)) {
            return false;
        }
        in_addr from = m_batch.Source(i).sin_addr;
        if (seen.insert(from.s_addr).second) {
            char address[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &from, address, sizeof(address));
            std::string text = std::string("Received ") + protocol + " data from " + address;
            LogDebug(kivlog::E131Bridge, "%s\n", text.c_str());
            WarningHolder::AddWarningTimeout(text, 30);
        }
        return false;
    });
    return false;
}

UniverseEntry* E131Bridge::FindUniverse(int universe) {
    if (universe < 0 || universe >= (int)m_universeCache.size()) {
        return nullptr;
    }
    int index = m_universeCache[universe];
    return index == NOT_CONFIGURED ? nullptr : &m_universes[index];
}

void E131Bridge::CountSequence(UniverseEntry& e, int sequence, bool zeroMeansUnused) {
    int last = e.lastSequenceNumber.load(std::memory_order_relaxed);
    // Art-Net senders that do not count send 0.
    bool unused = zeroMeansUnused && (sequence == 0 || last == 0);
    if (e.packetsReceived.Get() > 0 && !unused && IsSequenceError(last, sequence)) {
        e.errorPackets.Add(1);
    }
    e.lastSequenceNumber.store(sequence, std::memory_order_relaxed);
}

void E131Bridge::Bridge(UniverseEntry& e, const uint8_t* data, int available, uint64_t timeMs) {
    // Only what the datagram holds, never more than the universe is configured for; the
    // configuration keeps the universe inside the channel-data buffer.
    int length = std::min(available, e.size);
    m_lastPacketTime.store(timeMs, std::memory_order_relaxed);
    m_bridgeDataReceived.store(true, std::memory_order_relaxed);
    if (length > 0 && m_sink) {
        m_sink->SetBridgeData(data, e.startAddress - 1, length, timeMs + m_expireOffset);
    }
    e.lastLength = length;
    e.bytesReceived.Add(length);
    e.packetsReceived.Add(1);
}

bool E131Bridge::StoreE131Data(const uint8_t* data, size_t length, uint64_t timeMs) {
    E131Packet p = ParseE131Packet(data, length);
    switch (p.kind) {
    case E131PacketKind::Malformed:
        m_e131Errors.Add(1);
        LogDebug(kivlog::E131Bridge, "Dropped e1.31 packet of %d bytes: %s\n", (int)length, p.error);
        return false;
    case E131PacketKind::Unknown:
        m_e131Errors.Add(1);
        LogDebug(kivlog::E131Bridge, "Unknown e1.31 packet type %d, start code %d\n", p.rootVector, p.startCode);
        return false;
    case E131PacketKind::UnknownExtended:
        m_e131Errors.Add(1);
        LogDebug(kivlog::E131Bridge, "Unknown e1.31 extended packet type %d\n", p.extendedVector);
        return false;
    case E131PacketKind::Sync:
        m_e131SyncPackets.Add(1);
        return true;
    case E131PacketKind::Data:
        break;
    }
    UniverseEntry* e = FindUniverse(p.universe);
    if (e == nullptr) {
        m_unknownUniverse.packetsReceived.Add(1);
        m_unknownUniverse.bytesReceived.Add(p.rootLength);
        LogDebug(kivlog::E131Bridge, "Received e1.31 data packet for unconfigured universe %d\n", p.universe);
        return false;
    }
    if (p.preview) {
        // Preview data is meant for visualisers, not for live outputs.
        LogExcess(kivlog::E131Bridge, "Ignored e1.31 preview data for universe %d\n", p.universe);
        return false;
    }
    if (p.terminated) {
        // The source has stopped: its data ends now instead of at the timeout, and the
        // values in this packet are not used.
        CountSequence(*e, p.sequence, false);
        e->packetsReceived.Add(1);
        LogDebug(kivlog::E131Bridge, "e1.31 stream for universe %d terminated\n", p.universe);
        if (e->lastLength > 0 && m_sink) {
            m_sink->SetBridgeData(ZEROS, e->startAddress - 1, e->lastLength, 0);
        }
        e->lastLength = 0;
        return true;
    }
    CountSequence(*e, p.sequence, false);
    Bridge(*e, p.slots, p.slotCount, timeMs);
    return false;
}

bool E131Bridge::HandleArtNetDatagram(const uint8_t* data, size_t length, uint64_t timeMs) {
    if (ArtNetOpcode(data, length) < 0) {
        m_artnetErrors.Add(1);
        LogDebug(kivlog::E131Bridge, "Dropped a datagram of %d bytes that is not Art-Net 4\n", (int)length);
        return false;
    }
    bool handled = false;
    return m_artnetHandlers.Dispatch(data, length, (long long)timeMs, handled);
}

bool E131Bridge::StoreArtNetData(const uint8_t* data, size_t length, uint64_t timeMs) {
    ArtDmxPacket p = ParseArtDmx(data, length);
    if (!p.valid) {
        m_artnetErrors.Add(1);
        LogDebug(kivlog::E131Bridge, "Dropped ArtDmx packet of %d bytes: %s\n", (int)length, p.error);
        return false;
    }
    UniverseEntry* e = FindUniverse(p.portAddress);
    if (e == nullptr) {
        m_unknownUniverse.packetsReceived.Add(1);
        m_unknownUniverse.bytesReceived.Add(p.claimedLength & 0x0FFF);
        LogDebug(kivlog::E131Bridge, "Received ArtNet data packet for unconfigured universe %d\n", p.portAddress);
        return false;
    }
    CountSequence(*e, p.sequence, true);
    Bridge(*e, p.data, p.claimedLength, timeMs);
    return false;
}

bool E131Bridge::HandleArtNetSync(const uint8_t*, size_t, uint64_t) { return true; }

bool E131Bridge::HandleArtNetPoll(const uint8_t*, size_t, uint64_t timeMs) {
    if (m_lastPollReply != 0 && timeMs >= m_lastPollReply && timeMs - m_lastPollReply < POLL_REPLY_INTERVAL_MS) {
        LogExcess(kivlog::E131Bridge, "ArtPoll answered less than %d ms ago, not again\n", (int)POLL_REPLY_INTERVAL_MS);
        return false;
    }
    m_lastPollReply = timeMs ? timeMs : 1;
    SendArtPollReplies();
    return false;
}

void E131Bridge::SendArtPollReplies() {
    if (m_artnetSock < 0) {
        return;
    }
    int major = 0, minor = 0;
    ParseVersionNumbers(m_options.version.c_str(), major, minor);
    std::string name = m_options.hostName.empty() ? "KIV" : m_options.hostName;
    uint8_t reply[ARTPOLLREPLY_SIZE];
    for (const auto& i : ArtPollInterfaces(m_options.listInterfaces())) {
        BuildArtPollReply(reply, i.address.s_addr, major, minor, name);
        if (sendto(m_artnetSock, reply, sizeof(reply), MSG_DONTWAIT, (const sockaddr*)&m_options.artPollReplyTo,
                   sizeof(m_options.artPollReplyTo)) < 0) {
            LogDebug(kivlog::E131Bridge, "ArtPollReply for %s not sent: %s\n", i.name.c_str(), strerror(errno));
        }
    }
}

bool E131Bridge::StoreDDPData(const uint8_t* data, size_t length, uint64_t timeMs) {
    DDPPacket p = ParseDDPPacket(data, length);
    switch (p.kind) {
    case DDPPacketKind::Malformed:
        m_ddpErrors.Add(1);
        LogDebug(kivlog::E131Bridge, "Dropped DDP packet of %d bytes: %s\n", (int)length, p.error);
        return false;
    case DDPPacketKind::Query:
        if (p.id == DDP_ID_CONFIG) {
            LogDebug(kivlog::E131Bridge, "Query config packet: %d \n", p.id);
        } else if (p.id == DDP_ID_STATUS) {
            LogDebug(kivlog::E131Bridge, "Query status packet: %d \n", p.id);
        } else {
            LogDebug(kivlog::E131Bridge, "Unknown packet: %d \n", p.id);
        }
        return false;
    case DDPPacketKind::OtherId:
        LogDebug(kivlog::E131Bridge, "Unknown packet: %d \n", p.id);
        return false;
    case DDPPacketKind::Data:
        break;
    }
    m_ddpPacketsReceived.Add(1);
    if (p.sequence != 0) {
        if (m_ddpLastSequence != 0 && (p.sequence == 1 ? m_ddpLastSequence != 15 : p.sequence != m_ddpLastSequence + 1)) {
            m_ddpErrors.Add(1);
        }
        m_ddpLastSequence = p.sequence;
    }
    // Only channels inside the buffer; a range reaching past its end counts as an error.
    uint64_t offset = p.offset;
    uint64_t inside = offset < (uint64_t)BRIDGE_CHANNEL_SPACE ? BRIDGE_CHANNEL_SPACE - offset : 0;
    uint64_t count = std::min<uint64_t>(p.length, inside);
    if (count < p.length) {
        m_ddpErrors.Add(1);
        LogDebug(kivlog::E131Bridge, "DDP data for channels %llu-%llu reaches past the last channel, %llu bytes dropped\n",
                 (unsigned long long)offset + 1, (unsigned long long)offset + p.length,
                 (unsigned long long)(p.length - count));
    }
    m_lastPacketTime.store(timeMs, std::memory_order_relaxed);
    m_bridgeDataReceived.store(true, std::memory_order_relaxed);
    if (count > 0) {
        m_ddpMinChannel.Set(std::min<uint64_t>(m_ddpMinChannel.Get(), offset + 1));
        m_ddpMaxChannel.Set(std::max<uint64_t>(m_ddpMaxChannel.Get(), offset + count));
        if (m_sink) {
            m_sink->SetBridgeData(p.data, (int)offset, (int)count, timeMs + m_expireOffset);
        }
        m_ddpBytesReceived.Add(count);
    }
    return p.push;
}
