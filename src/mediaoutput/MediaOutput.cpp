#include "mediaoutput/MediaOutput.h"

#include "commands/VolumeCommands.h"

void InitMediaOutput() {}
void CleanupMediaOutput() {}

// One volume for the command line, the commands and the control socket.
void setVolume(int v) { VolumeStore::INSTANCE.Set(v); }
int getVolume() { return VolumeStore::INSTANCE.Get(); }

int GetMediaOutputStatus() { return 0; }
