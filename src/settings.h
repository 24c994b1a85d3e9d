#pragma once

// The settings store: the user's settings file of `key = "value"` lines, in the media
// directory, over defaults from the settings description shipped in the installation
// directory ("www/settings.json"). Every getter and setter is safe from any thread.

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include <json/json.h>

// Operating modes. Only player and remote are ever in effect; bridge and master are
// older names that are converted to player when read.
typedef int kivMode;
enum {
    BRIDGE_MODE = 1,
    PLAYER_MODE = 2,
    MASTER_MODE = 6,
    REMOTE_MODE = 8,
};

class SettingsConfig {
public:
    SettingsConfig();

    // Replaces every value by the defaults of the description at `descriptionPath`
    // (empty: the installation's "www/settings.json"). Pending migrations are dropped.
    void LoadDefaults(const std::string& descriptionPath = "");
    void Init();

    // Copy of one value; false when it is not set.
    bool Get(const std::string& name, std::string& value) const;
    // Stores the value as is, without side effects.
    void Set(const std::string& name, const std::string& value);
    // A snapshot of the whole object (for status and API dumps).
    Json::Value GetSettingsCopy() const;
    Json::Value GetSettingsInfoCopy() const;

    // Pending rewrites of the settings file: name -> complete replacement line.
    void AddPendingUpdate(const std::string& name, const std::string& line);
    std::map<std::string, std::string> GetPendingUpdates() const;
    std::map<std::string, std::string> TakePendingUpdates();
    void RestorePendingUpdates(const std::map<std::string, std::string>& updates);

    std::atomic<int> mode{PLAYER_MODE};
    // True while LoadSettings reads the file: an invalid mode then ends the process.
    std::atomic<bool> loading{false};

private:
    // Held only for a lookup and a string copy. A plain mutex rather than a reader-writer
    // lock: under steady reads the latter can starve a writer indefinitely.
    mutable std::mutex lock;
    Json::Value settingsInfo;
    Json::Value settings;
    std::map<std::string, std::string> pendingUpdates;
};

extern SettingsConfig settings;

int LoadSettings(const char* programPath);
std::string getSetting(const char* name, const char* fallback = "");
int getSettingInt(const char* name, int fallback = 0);
// The same for callers holding std::string names.
std::string getSetting(const std::string& name, const std::string& fallback = "");
int getSettingInt(const std::string& name, int fallback = 0);
// false only when the value is refused (an unknown "kivMode" after start-up).
bool SetSetting(const std::string& name, const std::string& value);
bool SetSetting(const std::string& name, int value);
int SaveSettings();
kivMode getKIVmode();
std::string getKIVmodeStr(kivMode mode = 0);
// Heap-allocated (malloc); the caller frees it with free().
char* modeToString(int mode);
std::string getKIVDDir(const std::string& suffix = "");
// KIV_MEDIA_DIR, when set and not empty, is the media directory as is.
std::string getKIVMediaDir(const std::string& suffix = "");
// Heap-allocated (malloc); the caller frees it with free().
char* trimwhitespace(const char* text, int stripQuotes);
void UpgradeSettings();

// The media directory named by the override file at `overridePath` ("/home/kiv/media"
// when it is missing or empty); the file is rewritten when its content differs.
std::string ResolveMediaDir(const std::string& overridePath);
// Applies the pending updates to the settings file at `path` through a temporary file
// beside it, renamed over it; the old file stays untouched when anything fails.
bool UpgradeSettingsFile(const std::string& path);
