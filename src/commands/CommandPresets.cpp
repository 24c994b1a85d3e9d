// Presets of the command registry: loading the presets file (and converting
// legacy event files into it) and triggering presets by name or slot.

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "CommandManager.h"
#include "common.h"
#include "log.h"
#include "settings.h"

std::string CommandManager::PresetsFile() {
    return getKIVMediaDir("/config/commandPresets.json");
}

bool CommandManager::ReadPresetSlot(const Json::Value& entry, int& slot) {
    const Json::Value& v = entry["presetSlot"];
    if (v.isNull()) {
        slot = 0;
        return true;
    }
    if (v.isInt()) {
        slot = v.asInt();
        return true;
    }
    // Hand-edited files write the slot in quotes.
    return v.isString() && ParseSlot(v.asString(), slot);
}

bool CommandManager::ParseSlot(const std::string& text, int& slot) {
    errno = 0;
    char* end = nullptr;
    long n = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno != 0 || n < INT_MIN || n > INT_MAX) {
        return false;
    }
    slot = (int)n;
    return true;
}

namespace {

// Reads the file's "commands" into name -> entries, logging what cannot be used.
Json::Value presetsFromFile(const Json::Value& file) {
    Json::Value presets(Json::objectValue);
    if (!file.isObject() || !file.isMember("commands")) {
        return presets;
    }
    const Json::Value& commands = file["commands"];
    if (!commands.isArray()) {
        LogWarn(kivlog::Command, "\"commands\" in the presets file is not a list, no presets loaded\n");
        return presets;
    }
    for (Json::ArrayIndex i = 0; i < commands.size(); i++) {
        const Json::Value& entry = commands[i];
        if (!entry.isObject() || !entry["name"].isString()) {
            LogWarn(kivlog::Command, "Preset entry %u has no name, skipped\n", (unsigned)i);
            continue;
        }
        std::string name = entry["name"].asString();
        int slot = 0;
        if (!CommandManager::ReadPresetSlot(entry, slot)) {
            LogWarn(kivlog::Command, "Preset \"%s\": unreadable presetSlot, the entry runs by name only\n",
                    name.c_str());
        }
        const Json::Value& args = entry["args"];
        if (args.isArray()) {
            for (const auto& a : args) {
                if (!a.isString()) {
                    LogWarn(kivlog::Command, "Preset \"%s\": argument %s is not text, using it as text\n",
                            name.c_str(), CommandManager::ArgToString(a).c_str());
                }
            }
        } else if (!args.isNull()) {
            LogWarn(kivlog::Command, "Preset \"%s\": \"args\" is not a list\n", name.c_str());
        }
        presets[name].append(entry);
    }
    return presets;
}

Json::Value convertLegacyEvents() {
    Json::Value commands(Json::arrayValue);
    for (int major = 1; major <= 25; major++) {
        for (int minor = 1; minor <= 25; minor++) {
            char id[16];
            snprintf(id, sizeof(id), "%02d_%02d", major, minor);
            std::string file = getKIVMediaDir("/events/") + id + ".fevt";
            if (!FileExists(file)) {
                continue;
            }
            LogDebug(kivlog::Command, "Converting old %s event to a Command Preset\n", id);
            Json::Value event;
            if (LoadJsonFromFile(file, event) && event.isObject()) {
                event.removeMember("majorId");
                event.removeMember("minorId");
                event["presetSlot"] = 0;
                commands.append(event);
            }
        }
    }
    return commands;
}

} // namespace

void CommandManager::LoadPresets() {
    LogDebug(kivlog::Command, "Loading Command Presets\n");
    std::string path = PresetsFile();
    Json::Value file;
    if (FileExists(path)) {
        if (!LoadJsonFromFile(path, file)) {
            LogWarn(kivlog::Command, "Unable to read %s, no presets loaded\n", path.c_str());
        }
    } else {
        file = Json::Value(Json::objectValue);
        file["commands"] = convertLegacyEvents();
        // The folder may not exist on a fresh media directory.
        mkdir(getKIVMediaDir("/config").c_str(), 0775);
        if (!SaveJsonToFile(file, path, "\t")) {
            LogWarn(kivlog::Command, "Unable to write %s\n", path.c_str());
        }
    }
    Json::Value presets = presetsFromFile(file);
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_presets = presets;
}

Json::Value CommandManager::ReplaceCommandKeywords(Json::Value command,
                                                   std::map<std::string, std::string>& keywords) {
    if (command.isObject() && command["args"].isArray()) {
        Json::Value args(Json::arrayValue);
        for (const auto& a : command["args"]) {
            args.append(ReplaceKeywords(ArgToString(a), keywords));
        }
        command["args"] = args;
    }
    return command;
}

void CommandManager::runPresetEntries(const std::vector<Json::Value>& entries,
                                      std::map<std::string, std::string>& keywords) {
    for (const auto& entry : entries) {
        // The result is dropped: a preset never waits for its commands.
        run(ReplaceCommandKeywords(entry, keywords));
    }
}

bool CommandManager::TriggerPreset(std::string name) {
    std::map<std::string, std::string> keywords;
    return TriggerPreset(name, keywords);
}

bool CommandManager::TriggerPreset(std::string name, std::map<std::string, std::string>& keywords) {
    std::vector<Json::Value> entries;
    {
        std::shared_lock<std::shared_mutex> lock(m_lock);
        const Json::Value& presets = m_presets;
        if (!presets.isMember(name)) {
            return false;
        }
        for (const auto& e : presets[name]) {
            entries.push_back(e);
        }
    }
    runPresetEntries(entries, keywords);
    return true;
}

bool CommandManager::TriggerPreset(int slot) {
    std::map<std::string, std::string> keywords;
    return TriggerPreset(slot, keywords);
}

bool CommandManager::TriggerPreset(int slot, std::map<std::string, std::string>& keywords) {
    std::vector<Json::Value> entries;
    {
        std::shared_lock<std::shared_mutex> lock(m_lock);
        const Json::Value& presets = m_presets;
        for (const auto& name : presets.getMemberNames()) {  // sorted
            for (const auto& e : presets[name]) {
                int s = 0;
                if (ReadPresetSlot(e, s) && s == slot) {
                    entries.push_back(e);
                }
            }
        }
    }
    runPresetEntries(entries, keywords);
    return true;
}
