#include "CommandManager.h"

#include <chrono>

#include "BuiltinCommands.h"
#include "Timers.h"
#include "common.h"
#include "log.h"

CommandManager CommandManager::INSTANCE;

namespace {
// How long Cleanup waits for commands that are still running.
constexpr auto CLEANUP_WAIT = std::chrono::seconds(5);
} // namespace

class CommandManager::RunGuard {
public:
    RunGuard(CommandManager& m, const std::string& name) : m_manager(m), cmd(m.acquire(name)) {}
    ~RunGuard() {
        if (cmd) {
            m_manager.release();
        }
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

private:
    CommandManager& m_manager;

public:
    Command* const cmd;
};

CommandManager::~CommandManager() {
    Cleanup();
}

void CommandManager::Init() {
    LoadPresets();
    // A second Init would replace (and so leak) every built-in command.
    if (m_builtinsRegistered.exchange(true)) {
        return;
    }
    RegisterBuiltinCommands(*this);
    // Preset timers fire on the main loop and trigger through the registry.
    Timers::SetPresetTrigger([](const std::string& name) { CommandManager::INSTANCE.TriggerPreset(name); });
    // The MQTT client delivers "/set/command" and "/set/command/#" to
    // HandleMQTTMessage once the event hub exists.
}

void CommandManager::Cleanup() {
    std::map<std::string, Command*> old;
    {
        std::unique_lock<std::shared_mutex> lock(m_lock);
        old.swap(m_commands);
    }
    {
        // Nothing new can start now; let what runs finish before its command goes.
        std::unique_lock<std::mutex> lock(m_runningLock);
        if (!m_runningDone.wait_for(lock, CLEANUP_WAIT, [this] { return m_running == 0; })) {
            LogWarn(kivlog::Command, "%d commands still running at cleanup, not deleting them\n",
                    m_running);
            return;
        }
    }
    for (auto& [name, cmd] : old) {
        if (name != "GPIO") {
            delete cmd;
        }
    }
}

void CommandManager::addCommand(Command* cmd) {
    if (!cmd) {
        return;
    }
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_commands[cmd->name] = cmd;
}

void CommandManager::removeCommand(Command* cmd) {
    if (!cmd) {
        return;
    }
    std::unique_lock<std::shared_mutex> lock(m_lock);
    auto it = m_commands.find(cmd->name);
    if (it != m_commands.end() && it->second == cmd) {
        m_commands.erase(it);
    }
}

Command* CommandManager::acquire(const std::string& name) {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    auto it = m_commands.find(name);
    if (it == m_commands.end()) {
        return nullptr;
    }
    std::lock_guard<std::mutex> running(m_runningLock);
    m_running++;
    return it->second;
}

void CommandManager::release() {
    std::lock_guard<std::mutex> running(m_runningLock);
    if (--m_running == 0) {
        m_runningDone.notify_all();
    }
}

Json::Value CommandManager::getDescriptions() {
    Json::Value all(Json::arrayValue);
    std::shared_lock<std::shared_mutex> lock(m_lock);
    for (const auto& [name, cmd] : m_commands) {
        if (!cmd->hidden()) {
            all.append(cmd->getDescription());
        }
    }
    return all;
}

Json::Value CommandManager::getDescription(const std::string& name) {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    auto it = m_commands.find(name);
    return it == m_commands.end() ? Json::Value() : it->second->getDescription();
}

bool CommandManager::hasCommand(const std::string& name) {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    return m_commands.count(name) != 0;
}

std::string CommandManager::ArgToString(const Json::Value& v) {
    if (v.isString()) {
        return v.asString();
    }
    if (v.isNull()) {
        return "";
    }
    if (v.isArray() || v.isObject()) {
        return SaveJsonToString(v, "");
    }
    return v.asString();  // numbers and bools convert without throwing
}

Command::ResultPtr CommandManager::runFound(Command* cmd, const std::string& name,
                                            const std::vector<std::string>& args) {
    if (!cmd) {
        LogWarn(kivlog::Command, "No command found for \"%s\"\n", name.c_str());
        return std::make_shared<Command::ErrorResult>("No Command: " + name);
    }
    try {
        Command::ResultPtr r = cmd->run(args);
        return r ? r : std::make_shared<Command::Result>("");
    } catch (const std::exception& e) {
        LogErr(kivlog::Command, "Command \"%s\" failed: %s\n", name.c_str(), e.what());
        return std::make_shared<Command::ErrorResult>("Command failed: " + std::string(e.what()));
    }
}

Command::ResultPtr CommandManager::run(const std::string& command, const std::vector<std::string>& args) {
    RunGuard guard(*this, command);
    if (guard.cmd) {
        LogDebug(kivlog::Command, "Running command \"%s\"\n", command.c_str());
    }
    return runFound(guard.cmd, command, args);
}

Command::ResultPtr CommandManager::run(const std::string& command, const Json::Value& args) {
    std::vector<std::string> list;
    if (args.isArray()) {
        for (const auto& a : args) {
            list.push_back(ArgToString(a));
        }
    } else if (!args.isNull()) {
        // A lone value where a list belongs: take it as the only argument.
        LogWarn(kivlog::Command, "Arguments of \"%s\" are not a list, taking them as one argument\n",
                command.c_str());
        list.push_back(ArgToString(args));
    }
    RunGuard guard(*this, command);
    if (guard.cmd && WillLog(LOG_LEVEL_DEBUG, kivlog::Command)) {
        std::string joined;
        for (size_t i = 0; i < list.size(); i++) {
            joined += (i ? "," : "") + list[i];
        }
        LogDebug(kivlog::Command, "Running command \"%s(%s)\"\n", command.c_str(), joined.c_str());
    }
    return runFound(guard.cmd, command, list);
}

Command::ResultPtr CommandManager::run(const Json::Value& command) {
    if (!command.isObject()) {
        LogWarn(kivlog::Command, "A command must be a JSON object\n");
        return std::make_shared<Command::ErrorResult>("Invalid command object");
    }
    std::string name = ArgToString(command["command"]);
    if (command.isMember("multisyncCommand") && command["multisyncCommand"].isConvertibleTo(Json::booleanValue) &&
        command["multisyncCommand"].asBool()) {
        std::string hosts = ArgToString(command["multisyncHosts"]);
        std::vector<std::string> args;
        if (command["args"].isArray()) {
            for (const auto& a : command["args"]) {
                args.push_back(ArgToString(a));
            }
        }
        MultiSyncSender sender;
        {
            std::shared_lock<std::shared_mutex> lock(m_lock);
            sender = m_multiSync;
        }
        if (!sender || !sender(hosts, name, args)) {
            LogWarn(kivlog::Command, "Unable to send \"%s\" to other players\n", name.c_str());
            return std::make_shared<Command::ErrorResult>("Command not sent: player synchronisation unavailable");
        }
        return std::make_shared<Command::Result>("Command Sent");
    }
    return run(name, command["args"]);
}

Command::ResultPtr CommandManager::runRemoteCommand(const std::string& remoteHost,
                                                    const std::string& command,
                                                    const std::vector<std::string>& args) {
    std::string escaped = command;
    replaceAll(escaped, " ", "%20");
    std::string url = "http://" + remoteHost + ":32322/command/" + escaped;
    Json::Value body(Json::arrayValue);
    for (const auto& a : args) {
        body.append(a);
    }
    return run("URL", std::vector<std::string>{url, "POST", SaveJsonToString(body, "")});
}

void CommandManager::SetMultiSyncSender(MultiSyncSender sender) {
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_multiSync = std::move(sender);
}

void CommandManager::HandleMQTTMessage(const std::string& topic, const std::string& payload) {
    if (topic.size() <= 13) {
        Json::Value cmd;
        if (LoadJsonFromString(payload, cmd) && cmd.isObject()) {
            run(cmd);
        } else {
            LogWarn(kivlog::Command, "Invalid JSON Payload: %s\n", payload.c_str());
        }
        return;
    }
    std::vector<std::string> pieces = splitWithQuotes(topic.substr(13), '/');
    if (pieces.empty()) {
        return;
    }
    std::string name = pieces[0];
    std::vector<std::string> args(pieces.begin() + 1, pieces.end());
    bool replaced = false;
    for (auto& a : args) {
        if (a == "{Payload}") {
            a = payload;
            replaced = true;
        }
    }
    if (!replaced && !payload.empty()) {
        args.push_back(payload);
    }
    run(name, args);
}
