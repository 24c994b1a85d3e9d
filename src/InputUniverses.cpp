#include "InputUniverses.h"

#include <json/json.h>

#include "common.h"
#include "log.h"

UniverseEntry::UniverseEntry(const UniverseEntry& o) { *this = o; }

UniverseEntry& UniverseEntry::operator=(const UniverseEntry& o) {
    active = o.active;
    universe = o.universe;
    size = o.size;
    startAddress = o.startAddress;
    type = o.type;
    unicastAddress = o.unicastAddress;
    priority = o.priority;
    bytesReceived.Set(o.bytesReceived.Get());
    packetsReceived.Set(o.packetsReceived.Get());
    errorPackets.Set(o.errorPackets.Get());
    lastSequenceNumber.store(o.lastSequenceNumber.load(std::memory_order_relaxed), std::memory_order_relaxed);
    lastLength = o.lastLength;
    return *this;
}

bool IsValidUniverseEntry(const UniverseEntry& e) {
    return e.universe >= 0 && e.universe <= 65535 && e.startAddress >= 1 && e.size >= 1 &&
           (int64_t)e.startAddress - 1 + e.size <= BRIDGE_CHANNEL_SPACE;
}

namespace {
int IntMember(const Json::Value& v, const char* key, int dflt) {
    const Json::Value& m = v[key];
    if (m.isNull()) {
        return dflt;
    }
    if (m.isString()) {
        try {
            return std::stoi(m.asString());
        } catch (...) {
            return dflt;
        }
    }
    if (m.isConvertibleTo(Json::intValue)) {
        return m.asInt();
    }
    return dflt;
}

void AddDefinition(const Json::Value& u, InputUniverseConfig& cfg) {
    int id = IntMember(u, "id", -1);
    int count = IntMember(u, "universeCount", 1);
    int start = IntMember(u, "startChannel", 0);
    int size = IntMember(u, "channelCount", 0);
    int type = IntMember(u, "type", -1);
    if (type < UNIVERSE_TYPE_E131_MULTICAST || type > UNIVERSE_TYPE_ARTNET_UNICAST) {
        return;
    }
    if (id < 0 || id > 65535 || start < 1 || size < 1) {
        LogWarn(kivlog::E131Bridge,
                "Input universe %d (start channel %d, %d channels) is not valid, skipped\n", id, start, size);
        return;
    }
    std::string address;
    if (type == UNIVERSE_TYPE_E131_UNICAST && u["address"].isString()) {
        address = u["address"].asString();
    }
    int priority = IntMember(u, "priority", 0);
    for (int k = 0; k < count; k++) {
        int64_t first = (int64_t)start + (int64_t)k * size;
        UniverseEntry e;
        e.active = 1;
        e.universe = id + k;
        e.startAddress = first > BRIDGE_CHANNEL_SPACE ? 0 : (int)first;
        e.size = size;
        e.type = type;
        e.unicastAddress = address;
        e.priority = priority;
        if (!IsValidUniverseEntry(e)) {
            LogWarn(kivlog::E131Bridge,
                    "Input universe %d at channel %lld lies outside the universe or channel range, "
                    "it and the following %d of its definition are skipped\n",
                    id + k, (long long)first, count - k - 1);
            return;
        }
        cfg.universes.push_back(e);
    }
}
} // namespace

InputUniverseConfig ParseInputUniverses(const Json::Value& root) {
    InputUniverseConfig cfg;
    try {
        if (!root.isObject() || !root["channelInputs"].isArray()) {
            return cfg;
        }
        for (const Json::Value& block : root["channelInputs"]) {
            if (!block.isObject() || !block["type"].isString() || block["type"].asString() != "universes" ||
                IntMember(block, "enabled", 0) == 0) {
                continue;
            }
            cfg.loaded = true;
            if (block.isMember("timeout")) {
                cfg.timeoutMs = IntMember(block, "timeout", cfg.timeoutMs);
            }
            if (!block["universes"].isArray()) {
                continue;
            }
            for (const Json::Value& u : block["universes"]) {
                if (u.isObject() && IntMember(u, "active", 0) != 0) {
                    AddDefinition(u, cfg);
                }
            }
        }
    } catch (const std::exception& ex) {
        LogErr(kivlog::E131Bridge, "Input universes could not be read: %s\n", ex.what());
    }
    return cfg;
}

InputUniverseConfig LoadInputUniverses(const std::string& path) {
    if (!FileExists(path)) {
        LogErr(kivlog::E131Bridge, "Universe file %s does not exist\n", path.c_str());
        return {};
    }
    Json::Value root;
    if (!LoadJsonFromFile(path, root)) {
        LogErr(kivlog::E131Bridge, "Error parsing %s\n", path.c_str());
        return {};
    }
    return ParseInputUniverses(root);
}
