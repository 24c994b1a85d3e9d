#include "channeloutput/ChannelOutput.h"

#include <typeinfo>

#include "log.h"

ChannelOutput::ChannelOutput(unsigned int startChannel, unsigned int channelCount)
    : m_startChannel(startChannel), m_channelCount(channelCount) {}

ChannelOutput::~ChannelOutput() = default;

std::string ChannelOutput::GetOutputType() const {
    const char* raw = typeid(*this).name();
    if (*raw == '*') {
        ++raw;
    }
    return raw;
}

int ChannelOutput::Init(Json::Value config) {
    if (config.isObject() && config["type"].isString()) {
        m_outputType = config["type"].asString();
    } else if (m_outputType.empty()) {
        m_outputType = GetOutputType();
    }
    return 1;
}

int ChannelOutput::Close() {
    return 1;
}

void ChannelOutput::GetRequiredChannelRanges(const std::function<void(int, int)>& add) {
    if (m_channelCount > 0) {
        add((int)m_startChannel, (int)(m_startChannel + m_channelCount - 1));
    }
}

void ChannelOutput::DumpConfig() {
    LogDebug(kivlog::ChannelOut, "ChannelOutput::DumpConfig() %s\n", m_outputType.c_str());
    LogDebug(kivlog::ChannelOut, "    StartChannel : %u\n", m_startChannel);
    LogDebug(kivlog::ChannelOut, "    ChannelCount : %u\n", m_channelCount);
}
