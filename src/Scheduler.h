#pragma once

// The scheduler: turns the schedule file into dated items and, once a second, starts
// the playlist that should play, pre-empts one of lower priority, runs scheduled
// commands in their second and announces upcoming playlists through countdown presets.
//
// Threads: the main loop ticks it (ScheduleProc, CheckIfShouldBePlayingNow); HTTP
// workers and the control socket query it. m_scheduleLock guards every field below it.
// The player is read before and started or stopped after the lock (see PlayerState), so a
// player that is slow to wind down never holds up an HTTP thread waiting for the schedule.

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <json/json.h>

#include "ScheduleEntry.h"
#include "SchedulerInterfaces.h"

class ScheduledItem {
public:
    ScheduledItem() = default;
    // A copy carries every field but the entry, which belongs to the schedule.
    ScheduledItem(const ScheduledItem& other);
    ScheduledItem& operator=(const ScheduledItem& other);

    int priority = 1; // the entry's index: earlier entries win
    ScheduleEntry* entry = nullptr;
    int entryIndex = 0;
    bool ran = false;
    time_t startTime = 0;
    time_t endTime = 0;
    std::string command;
    Json::Value args;
};

// What "Extend Schedule" and "Start Next Scheduled Item" answer.
struct SchedulerCommandResult {
    bool error = false;
    std::string text;
};

class Scheduler {
public:
    using Clock = std::function<time_t()>;

    // The daemon's scheduler, over Player::INSTANCE and CommandManager::INSTANCE
    // (defined with the adapters), registering its two commands.
    Scheduler();
    // Neither pointer is owned; both must outlive the scheduler. clock defaults to time().
    Scheduler(SchedulerPlayer* player, SchedulerActions* actions, Clock clock = nullptr);
    ~Scheduler();

    void ReloadScheduleFile();
    void ScheduleProc();
    void CheckIfShouldBePlayingNow(int force = 0, int ignoreEntryIndex = -1);

    std::string GetNextPlaylistName();
    std::string GetNextPlaylistStartStr();
    std::string GetPlaylistThatShouldBePlaying(int& repeat);
    // A copy of the next playlist item that has not run; false when there is none.
    bool GetNextScheduledPlaylist(ScheduledItem& item);
    bool StartNextScheduledItemNow();
    void SetTimeDelta(int seconds, int window);

    Json::Value GetSchedule();
    Json::Value GetInfo();
    void SchedulePrint();
    void DumpScheduledItems();

    // The two commands' work, registered with the registry by the daemon's constructor.
    SchedulerCommandResult RunExtendSchedule(const std::vector<std::string>& args);
    SchedulerCommandResult RunStartNextScheduledItem();

    static std::string GetDayTextFromDayIndex(int dayIndex) { return ScheduleEntry::GetDayTextFromDayIndex(dayIndex); }

private:
    // A stop of the running playlist decided under the lock, issued after it is released.
    struct StopRequest {
        enum Kind { NONE, GRACEFUL, AFTER_LOOP, NOW } kind = NONE;
        int force = 0;
    };

    // The player's state read in one go, before the schedule lock is taken, and the
    // player's start and stop issued after it is released: a thread that holds the
    // player's lock may be waiting for the schedule's (a preset command run while a
    // sequence starts), so nothing waits for the player while holding the schedule.
    struct PlayerState {
        int status = 0;
        bool scheduled = false;
        std::string name;
        bool repeat = false;
        int priority = 0, entry = -1, stopMethod = 0;
        time_t scheduledStart = 0, actualStart = 0, scheduledEnd = 0, actualEnd = 0;
    };
    struct StartRequest {
        std::string name;
        int position = 0;
        bool repeat = false;
        int entryIndex = 0;
        time_t startTime = 0, endTime = 0;
        int stopType = 0;
    };
    struct Actions {
        StopRequest stop;
        std::optional<StartRequest> start;
    };

    void init();
    PlayerState readPlayer();
    void runActions(const Actions& actions);
    void LoadScheduleFromFile();
    void AddScheduledItems(ScheduleEntry* entry, int index);
    bool checkEntryFile(ScheduleEntry* entry);
    Actions CheckScheduledItems(bool restarted, const PlayerState& player);
    void runChecks(bool restarted, bool reload);
    void issueStop(const StopRequest& stop);
    void countdown(time_t now);
    void firePendingPresets();
    void SetItemRan(ScheduledItem* item, bool ran);
    bool findRanItem(const ScheduledItem& item, bool& ran);
    void DumpScheduledItem(const ScheduledItem& item);
    std::string timeText(time_t when);
    SchedulePlace place();

    SchedulerPlayer* m_player = nullptr;
    SchedulerActions* m_actions = nullptr;
    Clock m_clock;
    std::unique_ptr<SchedulerPlayer> m_ownedPlayer;
    std::unique_ptr<SchedulerActions> m_ownedActions;
    // Set by the daemon's constructor: takes the two commands out of the registry.
    std::function<void()> m_unregisterCommands;

    bool m_schedulerDisabled = false;
    bool m_loadSchedule = true;
    int m_lastLoadDate = 0;
    int m_timeDelta = 0;
    time_t m_timeDeltaThreshold = 0;
    time_t m_lastProcTime = 0;

    std::recursive_mutex m_scheduleLock;
    std::vector<std::unique_ptr<ScheduleEntry>> m_Schedule;
    std::map<time_t, std::vector<std::unique_ptr<ScheduledItem>>> m_scheduledItems;
    std::map<time_t, std::vector<ScheduledItem>> m_ranItems;
    int m_forcedNextPlaylist = -1;
    // Warnings about malformed entries of the last load, removed at the next.
    std::set<std::string> m_entryWarnings;
    // The second and distance last announced, so that a second check in the same
    // second does not fire the countdown preset twice.
    time_t m_lastCountdownAt = 0;
    // Countdown presets (name, playlist) decided under the lock, triggered after it.
    std::vector<std::pair<std::string, std::string>> m_pendingPresets;
};

extern Scheduler* scheduler;
