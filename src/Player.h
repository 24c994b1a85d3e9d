#pragma once

#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include <json/json.h>

class Playlist;

// The playlist player: runs one playlist at a time. Every call may come from the main
// loop, an HTTP worker or the MQTT thread; all take one lock, except GetStatus and
// IsPlaying, which the sequence engine reads from the output thread and which never block.
class Player {
public:
    static Player INSTANCE;

    enum Status {
        IDLE = 0,
        PLAYING = 1,
        STOPPING_GRACEFULLY = 2,
        STOPPING_AFTER_LOOP = 3,
        STOPPING_NOW = 4,
        PAUSED = 5,
    };
    enum StopMethod { STOP_GRACEFUL = 0, STOP_HARD = 1, STOP_AFTER_LOOP = 2 };

    Player();
    ~Player();

    void Init();
    void Cleanup();
    // Main loop: drives the running playlist (and, once, a playlist to resume).
    void Process();
    void ProcessMedia() {}

    int GetStatus() const { return m_status; }
    bool IsPlaying() const { return m_status != IDLE; }

    // position: 1-based over lead-in, main list and lead-out (<= 0: the start); repeat < 0
    // keeps the file's "repeat". scheduleEntry is -1 for a manual start; priority is kept
    // for the scheduler. Non-zero on success. A running playlist is stopped first.
    int StartPlaylist(const std::string& name, int repeat, int position = -1, int scheduleEntry = -1,
                      int priority = 0);
    int StartScheduledPlaylist(const std::string& name, int position, int repeat, int entryIndex, int priority,
                               time_t startTime, time_t endTime, int stopMethod);

    // forceStop 0 comes from the schedule and leaves a manually started playlist alone.
    void StopGracefully(int forceStop = 0, int afterCurrentLoop = 0);
    void StopNow(int forceStop = 0);
    void NextItem();
    void PrevItem();
    void Pause();
    void Resume();

    std::string GetPlaylistName();
    int GetPosition();
    int GetRepeat();
    bool WasScheduled();
    int GetScheduleEntry();
    // Entry index of the scheduled playlist that ended last (-1: it was a manual one), for
    // the main loop to tell the schedule which entry must not start again at once.
    int GetEndedScheduleEntry();
    int GetStopMethod();
    int GetPriority();
    time_t GetScheduledStartTime();
    time_t GetActualStartTime();
    time_t GetScheduledEndTime();
    time_t GetActualEndTime();
    // Moves the scheduled playlist's end by seconds; 0 when nothing scheduled runs.
    int AdjustPlaylistStopTime(int seconds);

    Json::Value GetInfo();
    void GetCurrentStatus(Json::Value& result);
    Json::Value GetMqttStatusJSON();
    Json::Value GetConfig();
    time_t GetFileTime();

private:
    void finishLocked();
    void startLocked(std::unique_ptr<Playlist> playlist, int position, int repeat);

    std::recursive_mutex m_lock;
    std::atomic<int> m_status{IDLE};
    std::unique_ptr<Playlist> m_playlist;
    int m_statusBeforePause = PLAYING;

    bool m_scheduled = false;
    int m_scheduleEntry = -1;
    int m_endedScheduleEntry = -1;
    int m_priority = 0;
    int m_stopMethod = STOP_GRACEFUL;
    time_t m_scheduledStart = 0, m_actualStart = 0, m_scheduledEnd = 0, m_actualEnd = 0;
    bool m_resumeChecked = false;
};
