#include "RuntimeInfo.h"

#include <unistd.h>

#include <cerrno>

#include "common.h"
#include "log.h"
#include "settings.h"

std::string RuntimeInfoFilePath() { return getKIVMediaDir("/kiv-info.json"); }

void WriteRuntimeInfoFile(const Json::Value& systems, const std::string& requestedPath) {
    std::string path = requestedPath.empty() ? RuntimeInfoFilePath() : requestedPath;
    const Json::Value empty(Json::arrayValue);
    const Json::Value& list = systems.isObject() && systems["systems"].isArray() ? systems["systems"] : empty;
    if (list.empty() || !list[0].isObject()) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            LogWarn(kivlog::General, "Failed to remove file: %s\n", path.c_str());
        }
        LogInfo(kivlog::General, "Not creating %s as no IP addresses found\n", path.c_str());
        return;
    }
    std::string addresses;
    for (const auto& system : list) {
        if (!system.isObject() || !system["address"].isString()) {
            continue;
        }
        if (!addresses.empty()) {
            addresses += ",";
        }
        addresses += system["address"].asString();
    }
    Json::Value info = list[0];
    info.removeMember("address");
    info["addresses"] = addresses;
    if (!SaveJsonToFile(info, path, "\t")) {
        LogWarn(kivlog::General, "Could not write %s\n", path.c_str());
    }
}
