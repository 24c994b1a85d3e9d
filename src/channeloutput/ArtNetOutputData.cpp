#include "ArtNetOutputData.h"

#include "log.h"

namespace {
const std::string ARTNET_TYPE = "ArtNet";
} // namespace

ArtNetOutputData::ArtNetOutputData(const Json::Value& config, const UDPOutputContext& context)
    : DatagramOutputData(config, m_sender) {
    universe = intValue(config, "id", 0);
    universeCount = intValue(config, "universeCount", 1);
    setRangeLength((long long)channelCount * universeCount);
    uint32_t address = 0;
    if (type == 3) {
        resolveDestination();
        address = m_key;
    } else {
        m_key = udpproto::BROADCAST_KEY;
        address = context.broadcastAddress ? context.broadcastAddress : INADDR_BROADCAST;
    }
    ArtNetSender::Config c;
    c.firstUniverse = universe;
    c.universeCount = universeCount;
    c.channelsPerUniverse = channelCount;
    c.address = address;
    configureSender(m_sender, c);
}

void ArtNetOutputData::DumpConfig() {
    LogDebug(kivlog::ChannelOut, "    ArtNet %s universe %d (count %d) channels %d-%d, %s %s\n",
             description.c_str(), universe, universeCount, startChannel,
             int(startChannel - 1 + m_rangeLength), type == 2 ? "broadcast" : "unicast",
             ipAddress.c_str());
}

const std::string& ArtNetOutputData::GetOutputTypeString() const { return ARTNET_TYPE; }
