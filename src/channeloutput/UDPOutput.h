#pragma once

#include "ChannelOutput.h"
#include "UDPOutputEngine.h"

// The "UDP" output module's output object: the output contract over UDPOutputEngine.
// Its own channel range is always 1/1; the ranges it reads come from its entries.
class UDPOutput : public ChannelOutput {
public:
    UDPOutput(unsigned int startChannel, unsigned int channelCount);
    ~UDPOutput() override;

    int Init(Json::Value config) override;
    int Close() override;
    void PrepData(unsigned char* channelData) override { m_engine.PrepData(channelData); }
    int SendData(unsigned char* channelData) override { return m_engine.SendData(channelData); }
    void GetRequiredChannelRanges(const std::function<void(int, int)>& addRange) override {
        m_engine.GetRequiredChannelRanges(addRange);
    }
    void StartingOutput() override { m_engine.StartingOutput(); }
    void StoppingOutput() override { m_engine.StoppingOutput(); }
    void DumpConfig() override;

    UDPOutputEngine& engine() { return m_engine; }

    // The live output, if any.
    static UDPOutput* INSTANCE;

private:
    UDPOutputEngine m_engine;
};
