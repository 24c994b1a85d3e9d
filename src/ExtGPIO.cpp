#include "ExtGPIO.h"

#include "log.h"

int SetupExtGPIO(int pin, const std::string& mode) {
    LogWarn(kivlog::GPIO, "GPIO %d cannot be set up as '%s': external GPIO is not available\n", pin, mode.c_str());
    return -1;
}

int ExtGPIO(int pin, const std::string& mode, int value) {
    LogWarn(kivlog::GPIO, "GPIO %d cannot be set ('%s', %d): external GPIO is not available\n", pin, mode.c_str(),
            value);
    return -1;
}
