#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "common.h"
#include "log.h"

SettingsConfig settings;

SettingsConfig::SettingsConfig() { LoadDefaults(); }

static std::string settingText(const Json::Value& value) {
    if (value.isString()) {
        return value.asString();
    }
    if (value.isNumeric() || value.isBool() || value.isNull()) {
        return value.asString();
    }
    return SaveJsonToString(value);
}

void SettingsConfig::LoadDefaults(const std::string& descriptionPath) {
    std::string path = descriptionPath.empty() ? getKIVDDir("/www/settings.json") : descriptionPath;
    Json::Value info;
    Json::Value values(Json::objectValue);
    if (LoadJsonFromFile(path, info) && info.isObject() && info["settings"].isObject()) {
        const Json::Value& entries = info["settings"];
        for (const auto& name : entries.getMemberNames()) {
            const Json::Value& entry = entries[name];
            std::string value;
            if (entry.isObject() && entry.isMember("default")) {
                value = settingText(entry["default"]);
            } else if (entry.isObject() && entry["type"].isString() &&
                       (entry["type"].asString() == "checkbox" || entry["type"].asString() == "number")) {
                value = "0";
            }
            values[name] = value;
            LogExcess(kivlog::Settings, "Setting default for '%s' setting to '%s'\n", name.c_str(), value.c_str());
        }
    }
    std::lock_guard<std::mutex> guard(lock);
    settingsInfo = info;
    settings = values;
    pendingUpdates.clear();
}

void SettingsConfig::Init() {
    mode = PLAYER_MODE;
    std::string script = getKIVDDir("/scripts/get_uuid");
    if (FileExists(script)) {
        std::string command = "'" + script + "'";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) {
            LogWarn(kivlog::Settings, "Couldn't execute get_uuid\n");
        } else {
            char line[500] = "";
            if (fgets(line, sizeof(line), pipe)) {
                size_t len = strlen(line);
                if (len && line[len - 1] == '\n') {
                    line[len - 1] = '\0';
                }
                if (line[0]) {
                    Set("SystemUUID", line);
                }
            }
            pclose(pipe);
        }
    }
    std::string uuid;
    if (!Get("SystemUUID", uuid) || uuid.empty()) {
        Set("SystemUUID", "Unknown");
        LogWarn(kivlog::Settings, "Couldn't find UUID\n");
    }
}

bool SettingsConfig::Get(const std::string& name, std::string& value) const {
    std::lock_guard<std::mutex> guard(lock);
    const Json::Value* found = settings.find(name.data(), name.data() + name.size());
    if (!found) {
        return false;
    }
    value = found->asString();
    return true;
}

void SettingsConfig::Set(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> guard(lock);
    settings[name] = value;
}

Json::Value SettingsConfig::GetSettingsCopy() const {
    std::lock_guard<std::mutex> guard(lock);
    return settings;
}

Json::Value SettingsConfig::GetSettingsInfoCopy() const {
    std::lock_guard<std::mutex> guard(lock);
    return settingsInfo;
}

void SettingsConfig::AddPendingUpdate(const std::string& name, const std::string& line) {
    std::lock_guard<std::mutex> guard(lock);
    pendingUpdates[name] = line;
}

std::map<std::string, std::string> SettingsConfig::GetPendingUpdates() const {
    std::lock_guard<std::mutex> guard(lock);
    return pendingUpdates;
}

std::map<std::string, std::string> SettingsConfig::TakePendingUpdates() {
    std::lock_guard<std::mutex> guard(lock);
    std::map<std::string, std::string> taken;
    taken.swap(pendingUpdates);
    return taken;
}

void SettingsConfig::RestorePendingUpdates(const std::map<std::string, std::string>& updates) {
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& [name, line] : updates) {
        pendingUpdates.emplace(name, line); // newer updates win
    }
}

char* trimwhitespace(const char* text, int stripQuotes) {
    if (!text) {
        text = "";
    }
    auto trimmed = [stripQuotes](char c) { return isspace((unsigned char)c) || (stripQuotes && c == '"'); };
    const char* begin = text;
    while (*begin && trimmed(*begin)) {
        begin++;
    }
    const char* end = begin + strlen(begin);
    while (end > begin && trimmed(end[-1])) {
        end--;
    }
    size_t len = (size_t)(end - begin);
    char* result = (char*)malloc(len + 1);
    if (!result) {
        fprintf(stderr, "Failed to allocate memory for string trimming\n");
        exit(1);
    }
    memcpy(result, begin, len);
    result[len] = '\0';
    return result;
}

static std::string trimmedCopy(const std::string& text) {
    char* t = trimwhitespace(text.c_str(), 1);
    std::string result(t);
    free(t);
    return result;
}

// One line of the settings file; false when it holds no setting.
static bool parseSettingLine(const std::string& line, std::string& name, std::string& value) {
    if (line.empty()) {
        return false;
    }
    // A value cannot hold "=": anything after a second "=" is ignored.
    size_t eq = line.find('=');
    name = trimmedCopy(line.substr(0, eq));
    if (name.empty()) {
        return false;
    }
    if (eq == std::string::npos) {
        fprintf(stderr, "Error tokenizing value for %s setting\n", name.c_str());
        return false;
    }
    size_t eq2 = line.find('=', eq + 1);
    value = trimmedCopy(line.substr(eq + 1, eq2 == std::string::npos ? std::string::npos : eq2 - eq - 1));
    return true;
}

int LoadSettings(const char* programPath) {
    settings.Init();
    std::string path = getKIVMediaDir("/settings");
    if (!FileExists(path)) {
        LogWarn(kivlog::Settings, "Attempted to load settings file %s which does not exist!\n", path.c_str());
        return 1;
    }
    std::ifstream in(path);
    if (!in) {
        LogWarn(kivlog::Settings, "Warning: couldn't open settings file: '%s'!\n", path.c_str());
        return 1;
    }
    settings.loading = true;
    std::string line;
    while (std::getline(in, line)) {
        std::string name, value;
        if (parseSettingLine(line, name, value)) {
            SetSetting(name, value);
        }
    }
    // A migrated line wins over a later line of the same name, in memory as in the file.
    for (const auto& [name, update] : settings.GetPendingUpdates()) {
        std::string n, v;
        if (parseSettingLine(update, n, v)) {
            settings.Set(n, v);
        }
    }
    settings.loading = false;
    in.close();
    UpgradeSettings();
    return 0;
}

std::string getSetting(const char* name, const char* fallback) {
    if (!fallback) {
        fallback = "";
    }
    if (!name || !*name) {
        LogErr(kivlog::Settings, "getSetting() called with NULL or empty value\n");
        return fallback;
    }
    std::string value;
    if (!settings.Get(name, value)) {
        value = fallback;
    }
    LogExcess(kivlog::Settings, "getSetting(%s) returning '%s'\n", name, value.c_str());
    return value;
}

int getSettingInt(const char* name, int fallback) {
    if (!name || !*name) {
        LogErr(kivlog::Settings, "getSettingInt() called with NULL or empty value\n");
        return fallback;
    }
    std::string text;
    int value = fallback;
    if (settings.Get(name, text)) {
        // Leading digits only; out-of-range numbers are clamped rather than wrapped.
        long long parsed = strtoll(text.c_str(), nullptr, 10);
        value = (int)std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, parsed));
    }
    LogExcess(kivlog::Settings, "getSettingInt(%s) returning %d\n", name, value);
    return value;
}

std::string getSetting(const std::string& name, const std::string& fallback) {
    return getSetting(name.c_str(), fallback.c_str());
}

int getSettingInt(const std::string& name, int fallback) { return getSettingInt(name.c_str(), fallback); }

bool SetSetting(const std::string& name, const std::string& value) {
    if (name == "kivMode") {
        if (value == "player") {
            settings.mode = PLAYER_MODE;
        } else if (value == "remote") {
            settings.mode = REMOTE_MODE;
        } else if (value == "bridge") {
            settings.mode = PLAYER_MODE;
            settings.AddPendingUpdate("kivMode", "kivMode = \"player\"");
        } else if (value == "master") {
            settings.mode = PLAYER_MODE;
            settings.Set("kivMode", "player");
            settings.Set("MultiSyncEnabled", "1");
            settings.AddPendingUpdate("kivMode", "kivMode = \"player\"");
            settings.AddPendingUpdate("MultiSyncEnabled", "MultiSyncEnabled = \"1\"");
            return true;
        } else if (settings.loading) {
            // A settings file with an unknown mode must not start anything.
            fprintf(stderr, "Error parsing mode\n");
            exit(1);
        } else {
            // At run time (API, MQTT, commands) a bad value must not end the show.
            LogErr(kivlog::Settings, "Invalid kivMode '%s', keeping '%s'\n", value.c_str(),
                   getKIVmodeStr().c_str());
            return false;
        }
        settings.Set(name, value);
        return true;
    }
    settings.Set(name, value);
    if (startsWith(name, "LogLevel_")) {
        KIVLogger::INSTANCE.SetLevel(name.c_str(), value.empty() ? "warn" : value.c_str());
    }
    return true;
}

bool SetSetting(const std::string& name, int value) { return SetSetting(name, std::to_string(value)); }

int SaveSettings() { return 0; }

kivMode getKIVmode() { return settings.mode; }

char* modeToString(int mode) {
    const char* name;
    switch (mode) {
    case BRIDGE_MODE:
        name = "bridge";
        break;
    case PLAYER_MODE:
        name = "player";
        break;
    case MASTER_MODE:
        name = "master";
        break;
    case REMOTE_MODE:
        name = "remote";
        break;
    default:
        name = "unknown";
        break;
    }
    char* copy = strdup(name);
    if (!copy) {
        fprintf(stderr, "Failed to allocate memory for the mode name\n");
        exit(1);
    }
    return copy;
}

std::string getKIVmodeStr(kivMode mode) {
    char* name = modeToString(mode ? mode : getKIVmode());
    std::string result(name);
    free(name);
    return result;
}

// The running program's path; a path of any length is read whole.
static std::string programPath() {
    std::string buffer(2048, '\0');
    while (true) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return "";
        }
        if ((size_t)n < buffer.size()) {
            buffer.resize((size_t)n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string getKIVDDir(const std::string& suffix) {
    static std::mutex dirLock;
    static std::string installDir;
    std::lock_guard<std::mutex> guard(dirLock);
    if (installDir.empty()) {
        // dir/src/program gives dir: drop the program's name and its directory.
        std::string path = programPath();
        for (int i = 0; i < 2 && !path.empty(); i++) {
            size_t slash = path.rfind('/');
            path = slash == std::string::npos ? "" : path.substr(0, slash);
        }
        installDir = path.empty() ? "/opt/kiv" : path;
    }
    return installDir + suffix;
}

std::string ResolveMediaDir(const std::string& overridePath) {
    bool exists = FileExists(overridePath);
    std::string content = exists ? GetFileContents(overridePath) : "";
    std::string dir = content;
    TrimWhiteSpace(dir);
    if (dir.empty()) {
        dir = "/home/kiv/media";
    }
    if (!exists || dir != content) {
        PutFileContents(overridePath, dir);
    }
    return dir;
}

std::string getKIVMediaDir(const std::string& suffix) {
    // Read on every call so a test (or a wrapper script) can point a process at a folder.
    const char* env = getenv("KIV_MEDIA_DIR");
    if (env && *env) {
        return std::string(env) + suffix;
    }
    static std::mutex dirLock;
    static std::string mediaDir;
    std::lock_guard<std::mutex> guard(dirLock);
    if (mediaDir.empty()) {
        mediaDir = ResolveMediaDir(getKIVDDir("/www/media_root.txt"));
    }
    return mediaDir + suffix;
}

bool UpgradeSettingsFile(const std::string& path) {
    const std::map<std::string, std::string> pending = settings.TakePendingUpdates();
    if (pending.empty()) {
        return true;
    }
    // On failure every update stays pending for the next attempt.
    auto fail = [&](const char* what) {
        LogErr(kivlog::Settings, "Unable to upgrade settings file %s (%s: %s); it is left unchanged\n", path.c_str(),
               what, strerror(errno));
        settings.RestorePendingUpdates(pending);
        return false;
    };
    std::map<std::string, std::string> updates = pending;

    // Replace the file a link points at, not the link itself.
    char* real = realpath(path.c_str(), nullptr);
    if (!real) {
        return fail("realpath");
    }
    std::string target(real);
    free(real);

    std::ifstream in(target);
    if (!in) {
        return fail("open");
    }
    std::string text;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        size_t pos = line.find(" = ");
        if (pos != std::string::npos) {
            auto it = updates.find(line.substr(0, pos));
            if (it != updates.end()) {
                line = it->second;
                updates.erase(it);
            }
        }
        text += line + "\n";
    }
    if (in.bad()) {
        return fail("read");
    }
    in.close();
    for (const auto& [name, replacement] : updates) {
        text += replacement + "\n";
    }

    // A private temporary file beside the settings, renamed over them once complete:
    // a crash leaves either the old or the new file, never a truncated one.
    std::string tempPath = target + ".XXXXXX";
    int fd = mkstemp(tempPath.data());
    if (fd < 0) {
        return fail("create temporary file");
    }
    struct stat st;
    if (stat(target.c_str(), &st) == 0) {
        fchmod(fd, st.st_mode & 07777);
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not owner-changing capable: the file keeps our ownership.
        }
    }
    bool ok = WriteFully(fd, text.data(), text.size()) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(tempPath.c_str(), target.c_str()) != 0) {
        int saved = errno;
        unlink(tempPath.c_str());
        errno = saved;
        return fail("write");
    }
    return true;
}

void UpgradeSettings() { UpgradeSettingsFile(getKIVMediaDir("/settings")); }
