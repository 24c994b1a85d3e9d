#pragma once

#include <string>

// Effect sequences run by name over the channel data. None can run yet: starting one fails
// (with a log line), so the frame path's IsEffectRunning() stays false.
int InitEffects();
void CloseEffects();
// Non-zero (an effect id) on success, 0 on failure.
int StartEffect(const std::string& effectName, int startChannel, int loop = 0, bool background = false);
int StopEffect(const std::string& effectName);
// By the id StartEffect returned; non-zero when it was running.
int StopEffect(int effectID);
void StopAllEffects();
// The whole reply of the control socket's effect listing: prefix, then one field per
// running effect, then "\n".
std::string GetRunningEffects(const std::string& prefix);
int IsEffectRunning();
// Output thread: lays the running effects over the buffer.
int OverlayEffects(unsigned char* channelData);
