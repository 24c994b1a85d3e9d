// The main loop's run and restart flags live apart from the loop, so the signal and crash
// handlers that set them link without the rest of the daemon.
#include "MainLoop.h"

std::atomic<int> runMainKIVDLoop{1};
std::atomic<bool> restartKIVD{false};
