#pragma once

#include <functional>
#include <memory>
#include <string>

#include <json/json.h>

#include "playlist/PlaylistEntryBase.h"

// Entry types by their "type" text. "sequence" and "pause" are built in; other entry kinds
// ("media", "both", "command", ...) register their creator here.
using PlaylistEntryCreator = std::function<std::unique_ptr<PlaylistEntryBase>()>;
void RegisterPlaylistEntryType(const std::string& type, PlaylistEntryCreator creator);

// A new, initialised entry; null (with a log line) for an unknown type or a bad entry.
std::unique_ptr<PlaylistEntryBase> CreatePlaylistEntry(const Json::Value& config);
