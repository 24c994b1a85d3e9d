#pragma once

#include <json/json.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "Command.h"
#include "httpserver/http_resource.h"

// The registry of every command, the presets, and the HTTP resource mounted
// on "/command", "/commands" and "/commandPresets".
//
// Threads: commands are registered by subsystems while HTTP workers, the
// MQTT thread and the main loop may already run commands, so the map and the
// presets are guarded by one reader/writer lock. A command is looked up under
// the lock and run outside it (a command may run others). Cleanup() waits for
// runs in progress before it deletes the commands.
class CommandManager : public httpserver::http_resource {
public:
    static CommandManager INSTANCE;

    // Sends a command to other players instead of running it here; set by the
    // player synchronisation component. Returns false when nothing was sent.
    using MultiSyncSender = std::function<bool(const std::string& hosts, const std::string& command,
                                               const std::vector<std::string>& args)>;

    CommandManager() = default;
    ~CommandManager() override;

    // Loads the presets and registers the built-in commands. Called once at start-up.
    void Init();
    // Empties the registry, deleting every command but "GPIO" (owned by its component).
    void Cleanup();

    // Takes ownership. A command of the same name is replaced; the replaced
    // one is forgotten (neither run nor deleted by the registry any more).
    void addCommand(Command* cmd);
    // Forgets the command without deleting it.
    void removeCommand(Command* cmd);

    Json::Value getDescriptions();
    // The description of one command, hidden ones too; null when not registered.
    Json::Value getDescription(const std::string& name);
    bool hasCommand(const std::string& name);

    virtual Command::ResultPtr run(const std::string& command, const std::vector<std::string>& args);
    virtual Command::ResultPtr run(const std::string& command, const Json::Value& args);
    virtual Command::ResultPtr run(const Json::Value& command);
    virtual Command::ResultPtr runRemoteCommand(const std::string& remoteHost,
                                                const std::string& command,
                                                const std::vector<std::string>& args);

    bool TriggerPreset(std::string name);
    bool TriggerPreset(std::string name, std::map<std::string, std::string>& keywords);
    bool TriggerPreset(int slot);
    bool TriggerPreset(int slot, std::map<std::string, std::string>& keywords);
    Json::Value ReplaceCommandKeywords(Json::Value command, std::map<std::string, std::string>& keywords);

    // Fills the presets from the presets file, converting legacy event files
    // into a new presets file when there is none.
    void LoadPresets();
    // The presets file's path.
    static std::string PresetsFile();

    // Messages of the MQTT topics "/set/command" and "/set/command/#",
    // topic relative to the player's prefix.
    void HandleMQTTMessage(const std::string& topic, const std::string& payload);

    void SetMultiSyncSender(MultiSyncSender sender);

    std::shared_ptr<httpserver::http_response> render_GET(const httpserver::http_request& req) override;
    std::shared_ptr<httpserver::http_response> render_POST(const httpserver::http_request& req) override;

    // One command argument as text: strings as they are, numbers and bools
    // as jsoncpp writes them, null as "", arrays and objects as compact JSON.
    static std::string ArgToString(const Json::Value& v);
    // A preset entry's "presetSlot": absent is 0; an int, or a text holding
    // one, is that number; anything else is unreadable (false).
    static bool ReadPresetSlot(const Json::Value& entry, int& slot);
    // A whole decimal int ("12", "-1"); false for anything else.
    static bool ParseSlot(const std::string& text, int& slot);

private:
    // Finds a command and counts it as running until the guard goes.
    class RunGuard;
    Command* acquire(const std::string& name);
    void release();
    Command::ResultPtr runFound(Command* cmd, const std::string& name,
                                const std::vector<std::string>& args);
    void runPresetEntries(const std::vector<Json::Value>& entries,
                          std::map<std::string, std::string>& keywords);

    std::shared_ptr<httpserver::http_response> renderCommandPresets(const httpserver::http_request& req);
    std::shared_ptr<httpserver::http_response> answerResult(const Command::ResultPtr& result,
                                                            bool plainText);

    std::shared_mutex m_lock;
    Json::Value m_presets{Json::objectValue};
    std::map<std::string, Command*> m_commands;
    MultiSyncSender m_multiSync;
    std::atomic<bool> m_builtinsRegistered{false};

    std::mutex m_runningLock;
    std::condition_variable m_runningDone;
    int m_running = 0;
};
