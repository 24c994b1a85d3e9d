#include "KiNetOutputData.h"

#include "log.h"

namespace {
const std::string KINET_TYPE = "KiNet";
} // namespace

KiNetOutputData::KiNetOutputData(const Json::Value& config, const UDPOutputContext&)
    : DatagramOutputData(config, m_sender) {
    port = intValue(config, "id", 1);
    portCount = intValue(config, "universeCount", 1);
    setRangeLength((long long)channelCount * portCount);
    resolveDestination();
    KiNetSender::Config c;
    c.version = type == 6 ? 1 : 2;
    c.firstPort = port;
    c.portCount = portCount;
    c.channelsPerPort = channelCount;
    c.address = m_key;
    configureSender(m_sender, c);
}

void KiNetOutputData::DumpConfig() {
    LogDebug(kivlog::ChannelOut, "    KiNet v%d %s port %d (count %d) channels %d-%d to %s\n",
             type == 6 ? 1 : 2, description.c_str(), port, portCount, startChannel,
             int(startChannel - 1 + m_rangeLength), ipAddress.c_str());
}

const std::string& KiNetOutputData::GetOutputTypeString() const { return KINET_TYPE; }
