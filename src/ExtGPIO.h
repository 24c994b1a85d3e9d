#pragma once

#include <string>

// Pins driven directly by control requests ("Input", "Output", "SoftPWM"). No pin can be
// driven yet: both calls fail with a log line until the pin subsystem provides them.

// 0 on success.
int SetupExtGPIO(int pin, const std::string& mode);
// The value written (or read), negative on failure.
int ExtGPIO(int pin, const std::string& mode, int value);
