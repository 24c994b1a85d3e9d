#include "gpio/PinCapabilities.h"

void PinCapabilities::InitGPIO(const std::string& process) {}
