#pragma once

#include <functional>
#include <map>

#include <json/json.h>

// Hardware sensors (temperatures, voltages, currents). None are known yet: detection finds
// nothing, configured sensors are accepted and ignored, and the status gets no keys.
class Sensors {
public:
    static Sensors INSTANCE;

    void DetectHWSensors() {}
    void addSensorSources(const Json::Value& sources) {}
    void addSensors(const Json::Value& sensors) {}
    // Main-loop descriptors: descriptor to handler (true when it produced channel data).
    void Init(std::map<int, std::function<bool(int)>>& callbacks) {}
    void Close() {}
    void reportSensors(Json::Value& result) {}
};
