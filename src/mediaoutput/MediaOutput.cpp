#include "mediaoutput/MediaOutput.h"

#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> volume{70};
}

void InitMediaOutput() {}
void CleanupMediaOutput() {}

void setVolume(int v) { volume = std::clamp(v, 0, 100); }
int getVolume() { return volume; }

int GetMediaOutputStatus() { return 0; }
