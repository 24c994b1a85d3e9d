#include "effects.h"

#include "log.h"

int InitEffects() {
    return 1;
}

void CloseEffects() {}

int StartEffect(const std::string& effectName, int startChannel, int loop, bool background) {
    LogWarn(kivlog::Effect, "Effect %s cannot be started: effect sequences are not available\n", effectName.c_str());
    return 0;
}

int StopEffect(const std::string& effectName) {
    return 0;
}

int StopEffect(int effectID) {
    return 0;
}

void StopAllEffects() {}

std::string GetRunningEffects(const std::string& prefix) {
    return prefix + "\n";
}

int IsEffectRunning() {
    return 0;
}

int OverlayEffects(unsigned char* channelData) {
    return 0;
}
