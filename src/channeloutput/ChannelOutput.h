#pragma once

#include <functional>
#include <string>

#include <json/json.h>

// The channel-data buffer every output reads: channel 1 at index 0.
constexpr unsigned KIV_MAX_CHANNELS = 8388608;
// Spare bytes after the channels; index KIV_MAX_CHANNELS is always 0 and
// KIV_MAX_CHANNELS + 4 always 255, so pixel maps can point at fixed off and full values.
constexpr unsigned KIV_CHANNEL_BUFFER_SIZE = KIV_MAX_CHANNELS + 8;
constexpr unsigned KIV_FIXED_OFF_INDEX = KIV_MAX_CHANNELS;
constexpr unsigned KIV_FIXED_FULL_INDEX = KIV_MAX_CHANNELS + 4;

// One configured output. Created by its module's plugin, initialised from its JSON
// object by the output manager, then called once per frame on the output thread:
// PrepData, then (next pass) SendData, both with the whole channel-data buffer.
// The virtual operations keep this slot order; modules are built against it.
class ChannelOutput {
public:
    ChannelOutput(unsigned int startChannel = 0, unsigned int channelCount = 0);
    virtual ~ChannelOutput();

    // The dynamic class's name, as run-time type information gives it.
    virtual std::string GetOutputType() const;

    // Subclasses read their own keys, then return the base Init's result. Non-zero on success.
    virtual int Init(Json::Value config);
    virtual int Close();

    virtual void PrepData(unsigned char* channelData) {}
    virtual int SendData(unsigned char* channelData) = 0;

    // add(first, last): 0-based, inclusive, once per range of the buffer the output reads.
    virtual void GetRequiredChannelRanges(const std::function<void(int, int)>& add);

    virtual void StartingOutput() {}
    virtual void StoppingOutput() {}

    virtual void OverlayTestData(unsigned char* channelData, int cycleCount, float percentOfCycle, int testType) {}
    virtual bool SupportsTesting() const { return false; }

    virtual void DumpConfig();
    virtual void ConvertToCSV(Json::Value config, char* csv) {}

    unsigned int GetStartChannel() const { return m_startChannel; }
    unsigned int GetChannelCount() const { return m_channelCount; }

protected:
    unsigned int m_startChannel;
    unsigned int m_channelCount;
    // Filled by the base Init from "type"; some outputs put it in front of their warnings.
    std::string m_outputType;
};
