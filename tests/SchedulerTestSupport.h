#pragma once

// Fakes and a small main-loop stand-in for driving the scheduler with an injected clock.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScheduleCalendar.h"
#include "Scheduler.h"
#include "WarningHolder.h"
#include "common.h"
#include "settings.h"

// Sets TZ for the life of the object.
class ScopedTZ {
public:
    explicit ScopedTZ(const char* zone) {
        const char* old = getenv("TZ");
        m_had = old != nullptr;
        if (old) {
            m_old = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTZ() {
        if (m_had) {
            setenv("TZ", m_old.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

// Local wall time "YYYY-MM-DD HH:MM:SS" in the TZ in effect.
inline time_t At(const std::string& text) {
    CivilDate date{std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)), std::stoi(text.substr(8, 2))};
    int seconds = std::stoi(text.substr(11, 2)) * 3600 + std::stoi(text.substr(14, 2)) * 60 + std::stoi(text.substr(17, 2));
    return LocalWallTime(date, seconds);
}

// Behaves like the player: a stop now ends at once (or, when slow, only when Finish() is
// called); a graceful stop ends `gracefulSeconds` later, driven by the loop below.
class FakePlayer : public SchedulerPlayer {
public:
    std::atomic<int> status{0}; // read by a second thread in the lock test
    bool scheduled = false;
    std::string name;
    int repeat = 0, entry = -1, priority = 0, stopMethod = 0;
    time_t schedStart = 0, actualStart = 0, schedEnd = 0, actualEnd = 0;
    bool slowStopNow = false;
    int gracefulSeconds = 3;
    time_t stopRequestedAt = 0;
    const time_t* now = nullptr;
    std::vector<std::string> calls;
    std::function<void()> onStopNow; // runs inside StopNow, e.g. to hold it up

    int GetStatus() override { return status; }
    bool WasScheduled() override { return status != 0 && scheduled; }
    std::string GetPlaylistName() override { return name; }
    int GetRepeat() override { return repeat; }
    int GetScheduleEntry() override { return status != 0 && scheduled ? entry : -1; }
    int GetPriority() override { return priority; }
    int GetStopMethod() override { return stopMethod; }
    time_t GetScheduledStartTime() override { return schedStart; }
    time_t GetActualStartTime() override { return actualStart; }
    time_t GetScheduledEndTime() override { return schedEnd; }
    time_t GetActualEndTime() override { return actualEnd; }
    int StartScheduledPlaylist(const std::string& n, int position, int r, int entryIndex, int p, time_t start,
                               time_t end, int stop) override {
        calls.push_back("start " + n + (position ? " @" + std::to_string(position) : ""));
        Finish();
        status = 1;
        scheduled = true;
        name = n;
        repeat = r;
        entry = entryIndex;
        priority = p;
        schedStart = start;
        actualStart = now ? *now : 0;
        schedEnd = actualEnd = end;
        stopMethod = stop;
        return 1;
    }
    void StartManual(const std::string& n) {
        Finish();
        status = 1;
        scheduled = false;
        name = n;
        priority = 0;
    }
    void StopGracefully(int force, int afterLoop) override {
        calls.push_back(std::string(afterLoop ? "stop-after-loop " : "stop-graceful ") + std::to_string(force));
        if (status == 0 || (!force && !scheduled)) {
            return;
        }
        status = afterLoop ? 3 : 2;
        stopRequestedAt = now ? *now : 0;
    }
    void StopNow(int force) override {
        calls.push_back("stop-now " + std::to_string(force));
        if (onStopNow) {
            onStopNow();
        }
        if (status == 0 || (!force && !scheduled)) {
            return;
        }
        if (slowStopNow) {
            status = 4;
            stopRequestedAt = now ? *now : 0;
            return;
        }
        Finish();
    }
    int AdjustPlaylistStopTime(int seconds) override {
        if (status == 0 || !scheduled) {
            return 0;
        }
        actualEnd += seconds;
        return 1;
    }
    void Finish() {
        status = 0;
        scheduled = false;
        name.clear();
        entry = -1;
        priority = 0;
    }
    // The player's own progress in one pass of the loop.
    void Process(time_t t) {
        if ((status == 2 || status == 3) && t >= stopRequestedAt + gracefulSeconds) {
            Finish();
        }
    }
};

class FakeActions : public SchedulerActions {
public:
    std::vector<std::string> commands;
    std::vector<std::string> presets;
    void RunCommand(const Json::Value& command) override { commands.push_back(SaveJsonToString(command)); }
    bool TriggerPreset(const std::string& name, std::map<std::string, std::string>& keywords) override {
        presets.push_back(name + " " + keywords["PLAYLIST_NAME"]);
        return true;
    }
};

// A media folder with config/schedule.json and playlist files, the fakes, and the main
// loop's calls (player pass, end-of-playlist check, the tick) one second at a time.
class SchedulerHarness {
public:
    std::string media;
    time_t now = 0;
    FakePlayer player;
    FakeActions actions;
    std::unique_ptr<Scheduler> scheduler;

    SchedulerHarness() {
        char tmpl[] = "/tmp/kivschedtestXXXXXX";
        media = mkdtemp(tmpl);
        std::filesystem::create_directories(media + "/config");
        std::filesystem::create_directories(media + "/playlists");
        std::filesystem::create_directories(media + "/sequences");
        setenv("KIV_MEDIA_DIR", media.c_str(), 1);
        player.now = &now;
    }
    ~SchedulerHarness() {
        scheduler.reset();
        unsetenv("KIV_MEDIA_DIR");
        std::filesystem::remove_all(media);
    }
    void WriteSchedule(const std::string& json) {
        PutFileContents(media + "/config/schedule.json", json);
        Json::Value v;
        if (LoadJsonFromString(json, v) && v.isArray()) {
            for (const auto& e : v) {
                if (e.isObject() && e["playlist"].isString() && !e["playlist"].asString().empty()) {
                    const bool seq = e["sequence"].isIntegral() && e["sequence"].asInt() == 1;
                    std::string n = e["playlist"].asString();
                    PutFileContents(seq ? media + "/sequences/" + n : media + "/playlists/" + n + ".json", "{}");
                }
            }
        }
    }
    // Daemon start-up at t: construct, then the loop's first check.
    void Start(time_t t) {
        now = t;
        scheduler = std::make_unique<Scheduler>(&player, &actions, [this] { return now; });
        scheduler->CheckIfShouldBePlayingNow(0, -1);
    }
    void Pass() {
        int before = player.status;
        int entry = player.GetScheduleEntry();
        player.Process(now);
        if (player.status == 0 && before != 0) {
            scheduler->CheckIfShouldBePlayingNow(0, entry);
        }
        scheduler->ScheduleProc();
    }
    // One pass per second up to and including t.
    void RunUntil(time_t t) {
        while (now < t) {
            now++;
            Pass();
        }
    }
    std::string Playing() const { return player.status == 0 ? "" : player.name; }
};
