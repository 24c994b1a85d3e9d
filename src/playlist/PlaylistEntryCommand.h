#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "playlist/PlaylistEntryBase.h"

class CommandManager;

// {"type": "command", "command": NAME, "args": ["a", "b"]}: runs a command of
// the registry and finishes when the command's run has returned.
//
// The command runs on a short-lived thread of its own, not in the player's
// main-loop pass: a command such as "Stop Now" or "Start Playlist" replaces
// the very playlist that holds this entry, which must not happen while that
// playlist is in the middle of driving the entry.
class PlaylistEntryCommand : public PlaylistEntryBase {
public:
    explicit PlaylistEntryCommand(CommandManager& manager) : m_manager(manager) {}

    bool Init(const Json::Value& config) override;
    bool StartPlaying() override;
    void Process() override;

    Json::Value GetInfo() override;

private:
    struct Run {
        std::atomic<bool> done{false};
        std::atomic<bool> error{false};
    };

    CommandManager& m_manager;
    std::string m_command;
    std::vector<std::string> m_args;
    std::shared_ptr<Run> m_run;
};

// Registers the "command" entry type with the playlist entry factory.
void RegisterPlaylistEntryCommand(CommandManager& manager);
