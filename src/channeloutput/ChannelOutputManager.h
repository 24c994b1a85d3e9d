#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <json/json.h>

class ChannelOutput;

// The output manager: creates one output per enabled entry of the media directory's
// "config/channeloutputs.json" through the module named by its "type", and drives them
// each frame. Initialize and Close run while the channel output thread is stopped (start-up,
// shutdown); the per-frame calls run on the output thread and touch no lock or heap.

// Loads the configuration; returns the number of outputs running. An output whose module
// is missing or whose Init fails is skipped with a user warning; the others still run.
int InitializeChannelOutputs();
// Same from a given JSON object ({"channelOutputs": [...]}); tests and tools use it.
int InitializeChannelOutputsFromJson(const Json::Value& root);
// Stops the output thread, closes and deletes every output, then unloads the modules.
void CloseChannelOutputs();

// (start, count) ranges the outputs read, sorted and merged. With precise true the outputs'
// own GetRequiredChannelRanges, else their configured start and count.
const std::vector<std::pair<uint32_t, uint32_t>>& GetOutputRanges(bool precise);

void PrepareChannelData(unsigned char* channelData);
void SendChannelData(unsigned char* channelData);
void StartingOutput();
void StoppingOutput();

void SetChannelOutputFrameNumber(int frameNumber);
void ResetChannelOutputFrameNumber();

// The number of the frame in the channel-data buffer.
extern std::atomic<unsigned int> channelOutputFrame;
// The media position in seconds (written by the output thread's media synchronisation).
extern std::atomic<float> mediaElapsedSeconds;

// Outputs currently running, in configuration order (valid until CloseChannelOutputs).
const std::vector<ChannelOutput*>& GetChannelOutputs();
