#pragma once

#include <functional>
#include <map>

// GPIO inputs that trigger commands. Not built yet: no input is configured, so nothing is
// added to the main loop and the per-pass check returns at once.
class GPIOManager {
public:
    static GPIOManager INSTANCE;

    // Main-loop descriptors: descriptor to handler (true when it produced channel data).
    void Initialize(std::map<int, std::function<bool(int)>>& callbacks) {}
    // Main loop, every pass: polls inputs that have no descriptor. Must not block.
    void CheckGPIOInputs() {}
    void Cleanup() {}
};
