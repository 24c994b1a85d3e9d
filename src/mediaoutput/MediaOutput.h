#pragma once

// Audio and video output as the daemon drives it. No media plays yet: initialising and
// cleaning up do nothing, the volume is only remembered, and media is never playing.
void InitMediaOutput();
void CleanupMediaOutput();
// 0..100; values outside are clamped.
void setVolume(int volume);
int getVolume();
// The media output status: 1 while media plays, 0 otherwise.
int GetMediaOutputStatus();
