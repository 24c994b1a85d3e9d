#include "playlist/PlaylistEntryFactory.h"

#include <map>
#include <mutex>

#include "log.h"
#include "playlist/PlaylistEntryPause.h"
#include "playlist/PlaylistEntrySequence.h"

namespace {

struct Registry {
    std::mutex lock;
    std::map<std::string, PlaylistEntryCreator> creators{
        {"sequence", [] { return std::make_unique<PlaylistEntrySequence>(); }},
        {"pause", [] { return std::make_unique<PlaylistEntryPause>(); }},
    };
};

Registry& registry() {
    static Registry r;
    return r;
}

} // namespace

void RegisterPlaylistEntryType(const std::string& type, PlaylistEntryCreator creator) {
    std::lock_guard<std::mutex> lk(registry().lock);
    registry().creators[type] = std::move(creator);
}

std::unique_ptr<PlaylistEntryBase> CreatePlaylistEntry(const Json::Value& config) {
    if (!config.isObject() || !config["type"].isString()) {
        LogErr(kivlog::Playlist, "Playlist entry without a \"type\"\n");
        return nullptr;
    }
    std::string type = config["type"].asString();
    PlaylistEntryCreator create;
    {
        std::lock_guard<std::mutex> lk(registry().lock);
        auto it = registry().creators.find(type);
        if (it != registry().creators.end()) {
            create = it->second;
        }
    }
    if (!create) {
        LogErr(kivlog::Playlist, "Unknown playlist entry type \"%s\"\n", type.c_str());
        return nullptr;
    }
    auto entry = create();
    if (!entry || !entry->Init(config)) {
        return nullptr;
    }
    return entry;
}
