#pragma once

#include <string>

// The board's pin table. Not built yet: initialising it does nothing, and no pin exists.
class PinCapabilities {
public:
    // process: the program that owns the pins ("KIVD" for the daemon).
    static void InitGPIO(const std::string& process);
};
