#include "E131OutputData.h"

#include <cctype>

#include "log.h"

namespace {
const std::string E131_TYPE = "E1.31";
} // namespace

std::array<uint8_t, 16> E131OutputData::cidFromUUID(const std::string& uuid,
                                                    const std::string& seed) {
    std::array<uint8_t, 16> cid{};
    int nibbles = 0;
    bool isUUID = true;
    for (char c : uuid) {
        if (c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)) || nibbles >= 32) {
            isUUID = false;
            break;
        }
        const int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                  : std::tolower(c) - 'a' + 10;
        cid[size_t(nibbles / 2)] |= uint8_t(nibbles % 2 ? v : v << 4);
        nibbles++;
    }
    if (isUUID && nibbles == 32) return cid;
    // FNV-1a over the text, spread over 16 bytes, marked as a version 4 / variant 1 UUID
    // so it looks like any other random component id and stays the same across restarts.
    const std::string text = uuid + "/" + seed;
    uint64_t h1 = 0xcbf29ce484222325ull, h2 = 0x84222325cbf29ce4ull;
    for (unsigned char c : text) {
        h1 = (h1 ^ c) * 0x100000001b3ull;
        h2 = (h2 ^ c) * 0x100000001b3ull ^ (h1 >> 29);
    }
    for (int i = 0; i < 8; i++) {
        cid[size_t(i)] = uint8_t(h1 >> (8 * i));
        cid[size_t(8 + i)] = uint8_t(h2 >> (8 * i));
    }
    cid[6] = uint8_t((cid[6] & 0x0F) | 0x40);
    cid[8] = uint8_t((cid[8] & 0x3F) | 0x80);
    return cid;
}

E131OutputData::E131OutputData(const Json::Value& config, const UDPOutputContext& context)
    : DatagramOutputData(config, m_sender) {
    universe = intValue(config, "id", 1);
    universeCount = intValue(config, "universeCount", 1);
    priority = intValue(config, "priority", udpproto::E131_DEFAULT_PRIORITY);
    setRangeLength((long long)channelCount * universeCount);
    if (type == 1)
        resolveDestination();
    else
        m_key = udpproto::MULTICAST_KEY;

    E131Sender::Config c;
    c.cid = context.cid;
    c.sourceName = context.sourceName;
    c.priority = priority;
    c.firstUniverse = universe;
    c.universeCount = universeCount;
    c.channelsPerUniverse = channelCount;
    c.multicast = type == 0;
    c.unicastAddress = m_key;
    configureSender(m_sender, c);
}

void E131OutputData::DumpConfig() {
    LogDebug(kivlog::ChannelOut, "    E1.31 %s universe %d (count %d) channels %d-%d, %s %s, priority %d\n",
             description.c_str(), universe, universeCount, startChannel,
             int(startChannel - 1 + m_rangeLength), type == 0 ? "multicast" : "unicast",
             ipAddress.c_str(), priority);
}

const std::string& E131OutputData::GetOutputTypeString() const { return E131_TYPE; }
