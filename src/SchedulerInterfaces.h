#pragma once

// What the scheduler needs of the player and of the command registry, as small
// interfaces: the daemon passes adapters over Player::INSTANCE and
// CommandManager::INSTANCE, tests pass fakes.

#include <ctime>
#include <map>
#include <string>

#include <json/json.h>

class SchedulerPlayer {
public:
    virtual ~SchedulerPlayer() = default;
    // 0 idle, 1 playing, 2 stopping gracefully, 3 stopping after the loop, 4 stopping now, 5 paused.
    virtual int GetStatus() = 0;
    virtual bool WasScheduled() = 0;
    virtual std::string GetPlaylistName() = 0;
    virtual int GetRepeat() = 0;
    virtual int GetScheduleEntry() = 0;
    virtual int GetPriority() = 0;
    virtual int GetStopMethod() = 0;
    virtual time_t GetScheduledStartTime() = 0;
    virtual time_t GetActualStartTime() = 0;
    virtual time_t GetScheduledEndTime() = 0;
    virtual time_t GetActualEndTime() = 0;
    // Non-zero on success.
    virtual int StartScheduledPlaylist(const std::string& name, int position, int repeat, int entryIndex,
                                       int priority, time_t startTime, time_t endTime, int stopMethod) = 0;
    virtual void StopGracefully(int forceStop, int afterCurrentLoop) = 0;
    virtual void StopNow(int forceStop) = 0;
    // Zero on failure.
    virtual int AdjustPlaylistStopTime(int seconds) = 0;
};

class SchedulerActions {
public:
    virtual ~SchedulerActions() = default;
    // Runs a command object {"command", "args", "multisyncCommand", "multisyncHosts"}
    // without waiting for it (the daemon's adapter runs it on a detached thread).
    virtual void RunCommand(const Json::Value& command) = 0;
    virtual bool TriggerPreset(const std::string& name, std::map<std::string, std::string>& keywords) = 0;
};
