#pragma once

#include "Command.h"

// Commands that drive the playlist player (Player::INSTANCE). Each takes the
// player's own lock, so they are safe from any thread.

class StopPlaylistCommand : public Command {
public:
    StopPlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

// Finishes the current item (or, with its argument true, the current loop)
// and plays the lead-out.
class StopGracefullyPlaylistCommand : public Command {
public:
    StopGracefullyPlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class RestartPlaylistCommand : public Command {
public:
    RestartPlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class NextPlaylistCommand : public Command {
public:
    NextPlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class PrevPlaylistCommand : public Command {
public:
    PrevPlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class StartPlaylistCommand : public Command {
public:
    StartPlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class TogglePlaylistCommand : public Command {
public:
    TogglePlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class StartPlaylistAtCommand : public Command {
public:
    StartPlaylistAtCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class StartPlaylistAtRandomCommand : public Command {
public:
    StartPlaylistAtRandomCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

// The player plays one playlist at a time and has no queue to insert into:
// the three insert commands answer an error saying so.
class InsertPlaylistCommand : public Command {
public:
    InsertPlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class InsertPlaylistImmediate : public Command {
public:
    InsertPlaylistImmediate();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class InsertRandomItemFromPlaylistCommand : public Command {
public:
    InsertRandomItemFromPlaylistCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class PlaylistPauseCommand : public Command {
public:
    PlaylistPauseCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class PlaylistResumeCommand : public Command {
public:
    PlaylistResumeCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

// Arguments shared with the remote playlist command.
Command::CommandArg PlaylistNameArg();
Command::CommandArg PlaylistRepeatArg();
Command::CommandArg PlaylistIfNotRunningArg();
// "true"/"1"/"yes" (any case) read as true, everything else as false.
bool CommandArgIsTrue(const std::string& value);
