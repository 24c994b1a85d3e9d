#include "DDPOutputData.h"

#include "log.h"

namespace {
const std::string DDP_TYPE = "DDP";
} // namespace

DDPOutputData::DDPOutputData(const Json::Value& config, const UDPOutputContext&)
    : DatagramOutputData(config, m_sender) {
    setRangeLength(channelCount);
    resolveDestination();
    DDPSender::Config c;
    c.channelCount = channelCount;
    c.firstOffset = type == 4 && startChannel > 0 ? uint32_t(startChannel - 1) : 0;
    c.address = m_key;
    configureSender(m_sender, c);
}

void DDPOutputData::DumpConfig() {
    LogDebug(kivlog::ChannelOut, "    DDP %s channels %d-%d to %s, %s\n", description.c_str(),
             startChannel, int(startChannel - 1 + m_rangeLength), ipAddress.c_str(),
             type == 4 ? "raw channel numbers" : "one-based");
}

const std::string& DDPOutputData::GetOutputTypeString() const { return DDP_TYPE; }
