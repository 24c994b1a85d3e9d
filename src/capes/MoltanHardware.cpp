#include "capes/MoltanHardware.h"

#include "log.h"

bool DetectMoltanHardware(bool configure) {
    LogInfo(kivlog::Settings, "No add-on hardware detection is available; nothing detected%s\n",
            configure ? " or configured" : "");
    return false;
}
