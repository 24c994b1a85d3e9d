#include "channeloutput/ChannelOutputManager.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "PluginLoader.h"
#include "Plugin.h"
#include "WarningHolder.h"
#include "channeloutput/ChannelOutput.h"
#include "channeloutput/ChannelOutputThread.h"
#include "common.h"
#include "log.h"
#include "settings.h"

std::atomic<unsigned int> channelOutputFrame{0};
std::atomic<float> mediaElapsedSeconds{0.0f};

namespace {

struct Module {
    void* handle = nullptr;
    KIVPlugins::Plugin* plugin = nullptr;
    KIVPlugins::ChannelOutputPlugin* outputs = nullptr;
};

struct Manager {
    std::map<std::string, Module> modules; // by module file name
    std::vector<ChannelOutput*> outputs;
    std::vector<std::pair<uint32_t, uint32_t>> preciseRanges;
    std::vector<std::pair<uint32_t, uint32_t>> configuredRanges;
};

Manager& mgr() {
    static Manager m;
    return m;
}

// Sorted, overlapping or touching ranges joined; input and output as (start, count).
std::vector<std::pair<uint32_t, uint32_t>> mergeRanges(std::vector<std::pair<uint64_t, uint64_t>> spans) {
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<uint32_t, uint32_t>> out;
    uint64_t runStart = 0, runEnd = 0; // end exclusive
    bool open = false;
    for (auto& [start, end] : spans) {
        if (open && start <= runEnd) {
            runEnd = std::max(runEnd, end);
            continue;
        }
        if (open) {
            out.emplace_back((uint32_t)runStart, (uint32_t)(runEnd - runStart));
        }
        runStart = start;
        runEnd = end;
        open = true;
    }
    if (open) {
        out.emplace_back((uint32_t)runStart, (uint32_t)(runEnd - runStart));
    }
    return out;
}

void computeRanges() {
    auto& m = mgr();
    std::vector<std::pair<uint64_t, uint64_t>> precise, configured;
    for (auto* o : m.outputs) {
        if (o->GetChannelCount() > 0) {
            configured.emplace_back(o->GetStartChannel(), (uint64_t)o->GetStartChannel() + o->GetChannelCount());
        }
        o->GetRequiredChannelRanges([&precise, o](int first, int last) {
            if (first < 0 || last < first || (unsigned)first >= KIV_MAX_CHANNELS) {
                LogWarn(kivlog::ChannelOut, "Output %s reports an invalid channel range %d-%d, ignored\n",
                        o->GetOutputType().c_str(), first, last);
                return;
            }
            uint64_t end = std::min<uint64_t>((uint64_t)last + 1, KIV_MAX_CHANNELS);
            precise.emplace_back((uint64_t)first, end);
        });
    }
    for (auto& r : configured) {
        r.second = std::min<uint64_t>(r.second, KIV_MAX_CHANNELS);
    }
    m.preciseRanges = mergeRanges(std::move(precise));
    m.configuredRanges = mergeRanges(std::move(configured));
}

std::string lowerCopy(std::string s) {
    for (auto& c : s) {
        c = (char)tolower((unsigned char)c);
    }
    return s;
}

// Reads an integer member that may be stored as a number or a numeric string.
bool readInt(const Json::Value& obj, const char* key, long long& out) {
    const Json::Value& v = obj[key];
    if (v.isIntegral()) {
        out = v.asInt64();
        return true;
    }
    if (v.isString()) {
        try {
            size_t used = 0;
            out = std::stoll(v.asString(), &used);
            return used == v.asString().size();
        } catch (...) {
            return false;
        }
    }
    return false;
}

bool isEnabled(const Json::Value& obj) {
    if (!obj.isMember("enabled")) {
        return true;
    }
    const Json::Value& v = obj["enabled"];
    if (v.isBool()) {
        return v.asBool();
    }
    long long n = 0;
    return readInt(obj, "enabled", n) && n != 0;
}

void skipOutput(const std::string& type, const std::string& why) {
    std::string text = "Could not start the " + type + " channel output: " + why;
    LogErr(kivlog::ChannelOut, "%s\n", text.c_str());
    WarningHolder::AddWarning(text);
}

Module* loadModule(const std::string& type, std::string& error) {
    auto& m = mgr();
    std::string file = "output-" + lowerCopy(type) + ".so";
    auto it = m.modules.find(file);
    if (it != m.modules.end()) {
        return &it->second;
    }
    std::string path;
    void* handle = OpenPluginModule(file, path, error);
    if (!handle) {
        return nullptr;
    }
    auto create = reinterpret_cast<KIVCreatePluginFunc>(FindPluginSymbol(handle, "createPlugin", error));
    KIVPlugins::Plugin* plugin = nullptr;
    if (create) {
        try {
            plugin = create();
        } catch (...) {
            plugin = nullptr;
        }
        if (!plugin) {
            error = "createPlugin of " + path + " returned nothing";
        }
    }
    auto* outputs = dynamic_cast<KIVPlugins::ChannelOutputPlugin*>(plugin);
    if (plugin && !outputs) {
        error = path + " is not a channel output module";
        delete plugin;
        plugin = nullptr;
    }
    if (!plugin) {
        ClosePluginModule(handle);
        return nullptr;
    }
    Module& mod = m.modules[file];
    mod.handle = handle;
    mod.plugin = plugin;
    mod.outputs = outputs;
    return &mod;
}

void startOutput(const Json::Value& cfg, int index) {
    if (!cfg.isObject()) {
        LogErr(kivlog::ChannelOut, "channelOutputs entry %d is not an object, skipped\n", index);
        return;
    }
    if (!isEnabled(cfg)) {
        return;
    }
    if (!cfg["type"].isString() || cfg["type"].asString().empty()) {
        skipOutput("(untyped)", "entry " + std::to_string(index) + " has no \"type\"");
        return;
    }
    std::string type = cfg["type"].asString();
    long long start = 0, count = 0;
    if (!readInt(cfg, "startChannel", start)) {
        start = 0;
    }
    if (!readInt(cfg, "channelCount", count)) {
        count = 0;
    }
    if (start < 0 || count < 0 || start + count > (long long)KIV_MAX_CHANNELS) {
        skipOutput(type, "channels " + std::to_string(start) + " + " + std::to_string(count) +
                             " lie outside 0-" + std::to_string(KIV_MAX_CHANNELS - 1));
        return;
    }
    std::string error;
    Module* mod = loadModule(type, error);
    if (!mod) {
        skipOutput(type, error);
        return;
    }
    ChannelOutput* out = nullptr;
    int ok = 0;
    try {
        out = mod->outputs->createChannelOutput((unsigned)start, (unsigned)count);
        ok = out ? out->Init(cfg) : 0;
    } catch (const std::exception& e) {
        LogErr(kivlog::ChannelOut, "%s output threw during Init: %s\n", type.c_str(), e.what());
        ok = 0;
    } catch (...) {
        ok = 0;
    }
    if (!ok) {
        if (out) {
            try {
                out->Close();
            } catch (...) {
            }
            delete out;
        }
        skipOutput(type, "its initialisation failed (see the log)");
        return;
    }
    LogInfo(kivlog::ChannelOut, "Started %s output for channels %lld-%lld\n", type.c_str(), start + 1, start + count);
    out->DumpConfig();
    mgr().outputs.push_back(out);
}

} // namespace

int InitializeChannelOutputsFromJson(const Json::Value& root) {
    const Json::Value& list = root.isObject() ? root["channelOutputs"] : Json::Value::nullSingleton();
    if (!list.isNull() && !list.isArray()) {
        LogErr(kivlog::ChannelOut, "\"channelOutputs\" is not a list; no outputs started\n");
        WarningHolder::AddWarning("Channel output configuration is invalid: \"channelOutputs\" is not a list");
    } else {
        for (Json::ArrayIndex i = 0; i < list.size(); i++) {
            startOutput(list[i], (int)i);
        }
    }
    computeRanges();
    return (int)mgr().outputs.size();
}

int InitializeChannelOutputs() {
    std::string path = getKIVMediaDir("/config/channeloutputs.json");
    if (!FileExists(path)) {
        LogInfo(kivlog::ChannelOut, "No channel output configuration at %s\n", path.c_str());
        computeRanges();
        return 0;
    }
    Json::Value root;
    if (!LoadJsonFromFile(path, root)) {
        LogErr(kivlog::ChannelOut, "Could not parse %s; no outputs started\n", path.c_str());
        WarningHolder::AddWarning("Channel output configuration " + path + " is not valid JSON");
        computeRanges();
        return 0;
    }
    return InitializeChannelOutputsFromJson(root);
}

void CloseChannelOutputs() {
    // No pass may run while outputs are deleted, and nothing may start one meanwhile.
    bool held = HoldChannelOutputThread(true);
    StopChannelOutputThread();
    auto& m = mgr();
    for (auto* o : m.outputs) {
        try {
            o->Close();
        } catch (...) {
        }
        delete o;
    }
    m.outputs.clear();
    for (auto& [file, mod] : m.modules) {
        delete mod.plugin;
        ClosePluginModule(mod.handle);
    }
    m.modules.clear();
    computeRanges();
    HoldChannelOutputThread(held);
}

const std::vector<std::pair<uint32_t, uint32_t>>& GetOutputRanges(bool precise) {
    return precise ? mgr().preciseRanges : mgr().configuredRanges;
}

void PrepareChannelData(unsigned char* channelData) {
    for (auto* o : mgr().outputs) {
        o->PrepData(channelData);
    }
}

void SendChannelData(unsigned char* channelData) {
    for (auto* o : mgr().outputs) {
        o->SendData(channelData);
    }
}

void StartingOutput() {
    for (auto* o : mgr().outputs) {
        o->StartingOutput();
    }
}

void StoppingOutput() {
    for (auto* o : mgr().outputs) {
        o->StoppingOutput();
    }
}

void SetChannelOutputFrameNumber(int frameNumber) {
    channelOutputFrame = frameNumber < 0 ? 0u : (unsigned)frameNumber;
}

void ResetChannelOutputFrameNumber() {
    channelOutputFrame = 0;
}

const std::vector<ChannelOutput*>& GetChannelOutputs() {
    return mgr().outputs;
}
