#include "UDPOutput.h"

UDPOutput* UDPOutput::INSTANCE = nullptr;

UDPOutput::UDPOutput(unsigned int, unsigned int) : ChannelOutput(1, 1) { INSTANCE = this; }

UDPOutput::~UDPOutput() {
    if (INSTANCE == this) INSTANCE = nullptr;
}

int UDPOutput::Init(Json::Value config) {
    if (!m_engine.Init(config)) return 0;
    return ChannelOutput::Init(config);
}

int UDPOutput::Close() {
    m_engine.Close();
    return ChannelOutput::Close();
}

void UDPOutput::DumpConfig() {
    ChannelOutput::DumpConfig();
    m_engine.DumpConfig();
}
