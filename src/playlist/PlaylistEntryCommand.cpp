#include "playlist/PlaylistEntryCommand.h"

#include <thread>

#include "CommandManager.h"
#include "log.h"
#include "playlist/PlaylistEntryFactory.h"

bool PlaylistEntryCommand::Init(const Json::Value& config) {
    PlaylistEntryBase::Init(config);
    if (!config["command"].isString() || config["command"].asString().empty()) {
        LogErr(kivlog::Playlist, "Command entry without a \"command\" name\n");
        return false;
    }
    m_command = config["command"].asString();
    m_args.clear();
    const Json::Value& a = config["args"];
    if (!a.isNull() && !a.isArray()) {
        LogErr(kivlog::Playlist, "Command entry \"%s\": \"args\" is not an array\n", m_command.c_str());
        return false;
    }
    for (const auto& v : a) {
        m_args.push_back(CommandManager::ArgToString(v));
    }
    return true;
}

bool PlaylistEntryCommand::StartPlaying() {
    PlaylistEntryBase::StartPlaying();
    LogDebug(kivlog::Playlist, "Playlist running command \"%s\"\n", m_command.c_str());
    auto run = std::make_shared<Run>();
    m_run = run;
    CommandManager* manager = &m_manager;
    try {
        std::thread([run, manager, name = m_command, args = m_args] {
            auto result = manager->run(name, args);
            if (result && result->isError()) {
                LogWarn(kivlog::Playlist, "Playlist command \"%s\" failed: %s\n", name.c_str(),
                        result->get().c_str());
                run->error = true;
            }
            run->done = true;
        }).detach();
    } catch (const std::exception& e) {
        LogErr(kivlog::Playlist, "Could not run playlist command \"%s\": %s\n", m_command.c_str(), e.what());
        Finished();
        return false;
    }
    return true;
}

void PlaylistEntryCommand::Process() {
    if (IsPlaying() && m_run && m_run->done) {
        Finished();
    }
}

Json::Value PlaylistEntryCommand::GetInfo() {
    Json::Value info = PlaylistEntryBase::GetInfo();
    info["command"] = m_command;
    for (const auto& a : m_args) {
        info["args"].append(a);
    }
    return info;
}

void RegisterPlaylistEntryCommand(CommandManager& manager) {
    RegisterPlaylistEntryType("command", [&manager] { return std::make_unique<PlaylistEntryCommand>(manager); });
}
