#pragma once

#include <atomic>
#include <functional>
#include <map>

// The daemon's main loop: one epoll wait over the descriptors of every network-facing
// subsystem, then the player, the scheduler tick, timers and housekeeping about once a
// second. Runs on the main thread; descriptor handlers must not block.

// Descriptor -> handler; the handler returns true when its input produced channel data that
// should be sent at once. Subsystems add their sockets before the loop starts.
using DescriptorCallbacks = std::map<int, std::function<bool(int)>>;

// Non-zero while the loop runs; 0 ends it after the current pass; -1 once shut down.
// Written by other threads and by signal handlers.
extern std::atomic<int> runMainKIVDLoop;
// When set at the end of shutdown the daemon executes itself again.
extern std::atomic<bool> restartKIVD;

// The shutdown hook behind ShutdownKIVD(restart).
void ShutdownKIVDCallback(bool restart);

// Runs until runMainKIVDLoop is 0; tears down the loop's own parts (output thread, bridge,
// HTTP server) before returning.
void MainLoop();
