#include "PlaylistCommands.h"

#include <algorithm>
#include <random>
#include <strings.h>

#include "CommandManager.h"
#include "Player.h"
#include "log.h"
#include "playlist/Playlist.h"

namespace {

using ResultPtr = Command::ResultPtr;

ResultPtr Ok(const std::string& text) { return std::make_shared<Command::Result>(text); }
ResultPtr Error(const std::string& text) { return std::make_shared<Command::ErrorResult>(text); }

std::string Arg(const std::vector<std::string>& args, size_t i) { return i < args.size() ? args[i] : ""; }

// Repeat as the player takes it: an empty argument keeps the playlist file's own setting.
int RepeatArg(const std::vector<std::string>& args, size_t i) {
    std::string v = Arg(args, i);
    return v.empty() ? -1 : (CommandArgIsTrue(v) ? 1 : 0);
}

// "If Not Running": true leaves a playlist that is already playing alone.
bool SkipBecauseRunning(const std::vector<std::string>& args, size_t i, const std::string& name) {
    return CommandArgIsTrue(Arg(args, i)) && Player::INSTANCE.IsPlaying() &&
           Player::INSTANCE.GetPlaylistName() == name;
}

ResultPtr Start(const std::string& name, int repeat, int position) {
    if (name.empty()) {
        return Error("No playlist name given");
    }
    if (!Player::INSTANCE.StartPlaylist(name, repeat, position)) {
        return Error("Could not start playlist \"" + name + "\"");
    }
    return Ok("Playlist Starting");
}

ResultPtr NeedsPlaying(const char* what) {
    return Error(std::string("No playlist is running to ") + what);
}

// The item counts of a playlist file, as the player will number them.
bool CountItems(const std::string& name, int& leadIn, int& main, int& total) {
    Playlist probe;
    if (name.empty() || !probe.Load(name)) {
        return false;
    }
    const Json::Value& cfg = probe.GetConfig();
    leadIn = cfg["leadIn"].isArray() ? (int)cfg["leadIn"].size() : 0;
    main = cfg["mainPlaylist"].isArray() ? (int)cfg["mainPlaylist"].size() : 0;
    total = probe.GetSize();
    return true;
}

Command::CommandArg BoolArg(const std::string& name, const std::string& description) {
    Command::CommandArg a(name, "bool", description, true);
    a.defaultValue = "false";
    return a;
}

} // namespace

bool CommandArgIsTrue(const std::string& v) {
    return strcasecmp(v.c_str(), "true") == 0 || v == "1" || strcasecmp(v.c_str(), "yes") == 0;
}

Command::CommandArg PlaylistNameArg() {
    Command::CommandArg a("Playlist", "string", "Playlist");
    a.contentListUrl = "api/playlists";
    return a;
}
Command::CommandArg PlaylistRepeatArg() { return BoolArg("Repeat", "Repeat"); }
Command::CommandArg PlaylistIfNotRunningArg() { return BoolArg("IfNotRunning", "If Not Running"); }

StopPlaylistCommand::StopPlaylistCommand() : Command("Stop Now", "Stop the playlist now") {}
ResultPtr StopPlaylistCommand::run(const std::vector<std::string>&) {
    Player::INSTANCE.StopNow(1);
    return Ok("Stopped");
}

StopGracefullyPlaylistCommand::StopGracefullyPlaylistCommand()
    : Command("Stop Gracefully", "Stop the playlist after the current item, or after the current loop") {
    args.push_back(BoolArg("After Loop", "After the current loop"));
}
ResultPtr StopGracefullyPlaylistCommand::run(const std::vector<std::string>& a) {
    bool afterLoop = CommandArgIsTrue(Arg(a, 0));
    Player::INSTANCE.StopGracefully(1, afterLoop ? 1 : 0);
    return Ok(afterLoop ? "Stopping after the current loop" : "Stopping gracefully");
}

RestartPlaylistCommand::RestartPlaylistCommand()
    : Command("Restart Playlist Item", "Restart the current playlist item") {}
ResultPtr RestartPlaylistCommand::run(const std::vector<std::string>&) {
    if (!Player::INSTANCE.IsPlaying()) {
        return NeedsPlaying("restart");
    }
    // Restarting the playlist at the item's position plays the item from its start.
    return Start(Player::INSTANCE.GetPlaylistName(), Player::INSTANCE.GetRepeat(),
                 Player::INSTANCE.GetPosition());
}

NextPlaylistCommand::NextPlaylistCommand() : Command("Next Playlist Item", "Skip to the next playlist item") {}
ResultPtr NextPlaylistCommand::run(const std::vector<std::string>&) {
    if (!Player::INSTANCE.IsPlaying()) {
        return NeedsPlaying("skip in");
    }
    Player::INSTANCE.NextItem();
    return Ok("Skipping to the next item");
}

PrevPlaylistCommand::PrevPlaylistCommand()
    : Command("Prev Playlist Item", "Go back to the previous playlist item") {}
ResultPtr PrevPlaylistCommand::run(const std::vector<std::string>&) {
    if (!Player::INSTANCE.IsPlaying()) {
        return NeedsPlaying("go back in");
    }
    Player::INSTANCE.PrevItem();
    return Ok("Going back to the previous item");
}

StartPlaylistCommand::StartPlaylistCommand() : Command("Start Playlist", "Start a playlist") {
    args.push_back(PlaylistNameArg());
    args.push_back(PlaylistRepeatArg());
    args.push_back(PlaylistIfNotRunningArg());
}
ResultPtr StartPlaylistCommand::run(const std::vector<std::string>& a) {
    if (SkipBecauseRunning(a, 2, Arg(a, 0))) {
        return Ok("Playlist is already running");
    }
    return Start(Arg(a, 0), RepeatArg(a, 1), -1);
}

TogglePlaylistCommand::TogglePlaylistCommand()
    : Command("Toggle Playlist", "Start a playlist, or stop it when it is running") {
    args.push_back(PlaylistNameArg());
    args.push_back(PlaylistRepeatArg());
    CommandArg stop("Stop Type", "string", "Stop Type", true);
    stop.contents = {"Gracefully", "After Loop", "Now"};
    stop.defaultValue = "Gracefully";
    args.push_back(stop);
}
ResultPtr TogglePlaylistCommand::run(const std::vector<std::string>& a) {
    std::string name = Arg(a, 0);
    if (Player::INSTANCE.IsPlaying() && Player::INSTANCE.GetPlaylistName() == name) {
        std::string how = Arg(a, 2);
        if (how == "Now") {
            Player::INSTANCE.StopNow(1);
        } else {
            Player::INSTANCE.StopGracefully(1, how == "After Loop" ? 1 : 0);
        }
        return Ok("Stopping playlist");
    }
    return Start(name, RepeatArg(a, 1), -1);
}

StartPlaylistAtCommand::StartPlaylistAtCommand()
    : Command("Start Playlist At Item", "Start a playlist at the given item (1 is the first)") {
    args.push_back(PlaylistNameArg());
    CommandArg item("Item", "int", "Item number", false);
    item.min = 1;
    item.max = 100;
    item.defaultValue = "1";
    args.push_back(item);
    args.push_back(PlaylistRepeatArg());
    args.push_back(PlaylistIfNotRunningArg());
}
ResultPtr StartPlaylistAtCommand::run(const std::vector<std::string>& a) {
    int item = 0;
    if (!CommandManager::ParseSlot(Arg(a, 1), item) || item < 1) {
        return Error("Invalid item number \"" + Arg(a, 1) + "\"");
    }
    if (SkipBecauseRunning(a, 3, Arg(a, 0))) {
        return Ok("Playlist is already running");
    }
    int leadIn = 0, main = 0, total = 0;
    if (!CountItems(Arg(a, 0), leadIn, main, total)) {
        return Error("Could not load playlist \"" + Arg(a, 0) + "\"");
    }
    // The player would quietly start at the top instead.
    if (item > total) {
        return Error("Playlist \"" + Arg(a, 0) + "\" has only " + std::to_string(total) + " items");
    }
    return Start(Arg(a, 0), RepeatArg(a, 2), item);
}

StartPlaylistAtRandomCommand::StartPlaylistAtRandomCommand()
    : Command("Start Playlist At Random Item", "Start a playlist at a random item of its main list") {
    args.push_back(PlaylistNameArg());
    args.push_back(PlaylistRepeatArg());
    args.push_back(PlaylistIfNotRunningArg());
}
ResultPtr StartPlaylistAtRandomCommand::run(const std::vector<std::string>& a) {
    std::string name = Arg(a, 0);
    if (SkipBecauseRunning(a, 2, name)) {
        return Ok("Playlist is already running");
    }
    int leadIn = 0, main = 0, total = 0;
    if (!CountItems(name, leadIn, main, total)) {
        return Error("Could not load playlist \"" + name + "\"");
    }
    // Positions count the lead-in first; the random item comes from the main list.
    if (main <= 0) {
        return Error("Playlist \"" + name + "\" has no main items");
    }
    static thread_local std::mt19937 rng{std::random_device{}()};
    int position = leadIn + 1 + (int)(rng() % (unsigned)main);
    return Start(name, RepeatArg(a, 1), position);
}

namespace {
ResultPtr NoInsert() {
    return Error("Inserting playlists is not available: the player plays one playlist at a time and has no queue");
}
} // namespace

InsertPlaylistCommand::InsertPlaylistCommand()
    : Command("Insert Playlist After Current", "Play a playlist after the current item") {
    args.push_back(PlaylistNameArg());
}
ResultPtr InsertPlaylistCommand::run(const std::vector<std::string>&) { return NoInsert(); }

InsertPlaylistImmediate::InsertPlaylistImmediate()
    : Command("Insert Playlist Immediate", "Play a playlist now, then go on with the current one") {
    args.push_back(PlaylistNameArg());
}
ResultPtr InsertPlaylistImmediate::run(const std::vector<std::string>&) { return NoInsert(); }

InsertRandomItemFromPlaylistCommand::InsertRandomItemFromPlaylistCommand()
    : Command("Insert Random Item From Playlist", "Play a random item of a playlist after the current item") {
    args.push_back(PlaylistNameArg());
}
ResultPtr InsertRandomItemFromPlaylistCommand::run(const std::vector<std::string>&) { return NoInsert(); }

PlaylistPauseCommand::PlaylistPauseCommand() : Command("Pause Playlist", "Pause the playlist") {}
ResultPtr PlaylistPauseCommand::run(const std::vector<std::string>&) {
    if (!Player::INSTANCE.IsPlaying()) {
        return NeedsPlaying("pause");
    }
    Player::INSTANCE.Pause();
    return Ok("Pausing");
}

PlaylistResumeCommand::PlaylistResumeCommand() : Command("Resume Playlist", "Resume the paused playlist") {}
ResultPtr PlaylistResumeCommand::run(const std::vector<std::string>&) {
    if (Player::INSTANCE.GetStatus() != Player::PAUSED) {
        return Error("No paused playlist to resume");
    }
    Player::INSTANCE.Resume();
    return Ok("Resuming");
}
