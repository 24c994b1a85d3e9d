#pragma once

#include <functional>
#include <string>
#include <string_view>

// The requests of the local control socket: one line of comma-separated fields, the first
// the keyword, answered by one line of text. ProcessCommand does the work of one request
// and knows nothing of sockets, so tests and the fuzzer call it directly.

// A request longer than this is cut; so is one with a NUL byte, at the NUL.
constexpr size_t CONTROL_REQUEST_MAX = 4095;
// Replies are cut to this many characters (the reply datagram is at most 1500 bytes).
constexpr size_t CONTROL_REPLY_MAX = 1499;

// What the control socket asks of the scheduler and of the media output, which it does not
// link. Set once at start-up, before the socket opens. An unset scheduler hook calls the
// daemon's global `scheduler` (nothing when there is none); an unset media hook answers
// as if there were no media output (and keeps the volume here).
struct ControlSocketHooks {
    struct MediaStatus {
        std::string filename;
        int status = 0; // 1 while media plays
        int secondsElapsed = 0;
        int secondsRemaining = 0;
    };

    // Scheduler: the next playlist's name and start text.
    std::function<std::string()> nextPlaylistName;
    std::function<std::string()> nextPlaylistStart;
    // Scheduler: the playlist that should be playing now ("" when none) and its repeat flag.
    std::function<std::string(int& repeat)> playlistThatShouldBePlaying;
    // Scheduler: starts what should be playing now as scheduled (CheckIfShouldBePlayingNow(1, -1)).
    std::function<void()> startScheduledPlaylist;
    // Scheduler: reloads the schedule file.
    std::function<void()> reloadSchedule;

    std::function<int()> getVolume;
    std::function<void(int)> setVolume;
    // Media output: false when there is no media output.
    std::function<bool(MediaStatus&)> mediaStatus;
};

// Replaces the hooks. Main loop, before the socket opens (the hooks are read unlocked).
void SetControlSocketHooks(ControlSocketHooks hooks);

// Executes one request and returns its reply (at most CONTROL_REPLY_MAX characters, never
// empty). Runs on the main loop: it calls the player and the sequence engine.
std::string ProcessCommand(std::string_view request);

// Seconds since the socket was bound, for "GetKIVDUptime"; the socket sets the start.
void SetControlSocketStartTime(long seconds);
