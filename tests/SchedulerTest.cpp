#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "SchedulerTestSupport.h"
#include "WarningHolder.h"
#include "log.h"
#include "settings.h"

namespace {

class SchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.LoadDefaults();
        settings.mode = PLAYER_MODE;
        WarningHolder::ClearWarnings();
    }
    void TearDown() override {
        settings.LoadDefaults();
        WarningHolder::ClearWarnings();
    }
    static bool HasWarning(const std::string& part) {
        for (const auto& w : WarningHolder::GetWarnings()) {
            if (w.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

const char* kEvening = R"({"playlist": "Evening", "dayIndex": 7, "startTime": "18:00:00", "endTime": "23:00:00"})";

// A schedule, the daemon started shortly before the instant, and what the displays show then.
TEST_F(SchedulerTest, WhatPlaysAndWhatIsNext) {
    struct Case {
        const char* what;
        const char* zone;
        const char* schedule;
        const char* instant;
        const char* playing;
        const char* nextName;  // nullptr: not checked
        const char* nextStart;
        int distance = 0; // "ScheduleDistance"
    } cases[] = {
        {"evening at start-up", "Europe/Berlin", kEvening, "2026-12-11 19:30:00", "Evening", "Evening",
         "2026-12-12 @ 18:00:00 - (Everyday)"},
        {"before the start", "Europe/Berlin", kEvening, "2026-12-11 17:59:59", "", "Evening",
         "2026-12-11 @ 18:00:00 - (Everyday)"},
        {"after the end", "Europe/Berlin", kEvening, "2026-12-11 23:00:05", "", "Evening",
         "2026-12-12 @ 18:00:00 - (Everyday)"},
        {"Tues-Thurs skips Wednesday", "Europe/Berlin",
         R"({"playlist": "Mid", "dayIndex": 11, "startTime": "18:00:00", "endTime": "23:00:00"})",
         "2026-12-09 19:00:00", "", "Mid", "2026-12-10 @ 18:00:00 - (Tues-Thurs)"},
        {"Tues-Thurs on Thursday", "Europe/Berlin",
         R"({"playlist": "Mid", "dayIndex": 11, "startTime": "18:00:00", "endTime": "23:00:00"})",
         "2026-12-10 19:00:00", "Mid", "No playlist scheduled.", ""},
        {"Saturday night found on Sunday", "Europe/Berlin",
         R"({"playlist": "Late", "dayIndex": 6, "startTime": "22:00:00", "endTime": "02:00:00"})",
         "2026-12-13 01:00:00", "Late", "Late", "2026-12-19 @ 22:00:00 - (Saturday)"},
        {"midnight ends it", "Europe/Berlin",
         R"({"playlist": "Late", "dayIndex": 6, "startTime": "22:00:00", "endTime": "02:00:00"})",
         "2026-12-13 02:00:05", "", "Late", "2026-12-19 @ 22:00:00 - (Saturday)"},
        {"new year's eve into new year's day", "Europe/Berlin",
         R"({"playlist": "NYE", "startTime": "22:00:00", "endTime": "01:00:00",
             "startDate": "0000-12-31", "endDate": "0000-12-31"})",
         "2027-01-01 00:30:00", "NYE", "No playlist scheduled.", ""},
        {"holiday range across the new year", "Europe/Berlin",
         R"({"playlist": "Holiday", "startTime": "17:00:00", "endTime": "22:00:00",
             "startDate": "0000-12-20", "endDate": "0000-01-06"})",
         "2027-01-05 18:00:00", "Holiday", "Holiday", "2027-01-06 @ 17:00:00 - (Everyday)"},
        {"holiday range over", "Europe/Berlin",
         R"({"playlist": "Holiday", "startTime": "17:00:00", "endTime": "22:00:00",
             "startDate": "0000-12-20", "endDate": "0000-01-06"})",
         "2027-01-07 18:00:00", "", "No playlist scheduled.", ""},
        {"dated range of one year only", "Europe/Berlin",
         R"({"playlist": "Once", "startTime": "17:00:00", "endTime": "22:00:00",
             "startDate": "2025-12-01", "endDate": "2025-12-31"})",
         "2026-12-11 18:00:00", "", "No playlist scheduled.", ""},
        {"odd day", "Europe/Berlin",
         R"({"playlist": "OddShow", "dayIndex": 14, "startTime": "19:00:00", "endTime": "20:00:00"})",
         "2026-12-11 19:30:00", "OddShow", "OddShow", "2026-12-13 @ 19:00:00 - (Odd Days)"},
        {"even day is tomorrow", "Europe/Berlin",
         R"({"playlist": "EvenShow", "dayIndex": 15, "startTime": "19:00:00", "endTime": "20:00:00"})",
         "2026-12-11 19:30:00", "", "EvenShow", "2026-12-12 @ 19:00:00 - (Even Days)"},
        {"custom mask Monday and Friday", "Europe/Berlin",
         R"({"playlist": "MF", "dayIndex": 74240, "startTime": "19:00:00", "endTime": "20:00:00"})",
         "2026-12-11 19:30:00", "MF", "MF", "2026-12-14 @ 19:00:00 - (Mask: -M---F-)", 7},
        {"custom mask leaves out Thursday", "Europe/Berlin",
         R"({"playlist": "MF", "dayIndex": 74240, "startTime": "19:00:00", "endTime": "20:00:00"})",
         "2026-12-10 19:30:00", "", "MF", "2026-12-11 @ 19:00:00 - (Mask: -M---F-)"},
        {"earlier entry wins at start-up", "Europe/Berlin",
         R"({"playlist": "Holiday", "startTime": "18:00:00", "endTime": "22:00:00"},
            {"playlist": "Evening", "startTime": "17:00:00", "endTime": "23:00:00"})",
         "2026-12-11 18:30:00", "Holiday", "Evening", "2026-12-11 @ 17:00:00 - (Everyday)"},
        {"disabled entry", "Europe/Berlin",
         R"({"enabled": 0, "playlist": "Evening", "startTime": "18:00:00", "endTime": "23:00:00"})",
         "2026-12-11 19:30:00", "", "No playlist scheduled.", ""},
        {"spring forward: 02:30 is 03:30", "Europe/Berlin",
         R"({"playlist": "Night", "startTime": "02:30:00", "endTime": "04:00:00"})", "2026-03-29 03:30:00",
         "Night", nullptr, nullptr},
        {"spring forward: not before", "Europe/Berlin",
         R"({"playlist": "Night", "startTime": "02:30:00", "endTime": "04:00:00"})", "2026-03-29 03:29:59", "",
         "Night", "2026-03-29 @ 03:30:00 - (Everyday)"},
        {"fall back: first 02:30", "Europe/Berlin",
         R"({"playlist": "Night", "startTime": "02:30:00", "endTime": "02:45:00"})", "2026-10-25 02:31:00",
         "Night", nullptr, nullptr},
        {"spring forward in New York", "America/New_York",
         R"({"playlist": "Night", "startTime": "02:15:00", "endTime": "05:00:00"})", "2026-03-08 03:15:00",
         "Night", nullptr, nullptr},
        {"the demo show's all-day schedule", "Europe/Berlin",
         R"({"enabled": 1, "sequence": 0, "playlist": "Demo", "dayIndex": 7, "startTime": "00:00:00",
             "endTime": "23:59:59", "repeat": 1, "stopType": 0, "startDate": "0000-01-01", "endDate": "0000-12-31"})",
         "2026-12-31 12:00:00", "Demo", "Demo", "2027-01-01 @ 00:00:00 - (Everyday)"},
        {"sequence entry", "Europe/Berlin",
         R"({"playlist": "show.tavo", "sequence": 1, "startTime": "18:00:00", "endTime": "23:00:00"})",
         "2026-12-11 19:30:00", "show.tavo", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedTZ tz(c.zone);
        SetSetting("ScheduleDistance", c.distance);
        SchedulerHarness h;
        h.WriteSchedule(std::string("[") + c.schedule + "]");
        time_t instant = At(c.instant);
        h.Start(instant - 3);
        h.RunUntil(instant);
        EXPECT_EQ(h.Playing(), c.playing);
        if (c.nextName) {
            EXPECT_EQ(h.scheduler->GetNextPlaylistName(), c.nextName);
            EXPECT_EQ(h.scheduler->GetNextPlaylistStartStr(), c.nextStart);
        }
    }
}

TEST_F(SchedulerTest, StartsWithinASecondWithTheScheduledEnd) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(std::string("[") + kEvening + "]");
    h.Start(At("2026-12-11 19:30:00"));
    EXPECT_EQ(h.Playing(), "Evening");
    EXPECT_EQ(h.player.schedEnd, At("2026-12-11 23:00:00"));
    EXPECT_EQ(h.player.schedStart, At("2026-12-11 18:00:00"));
    // At the end the scheduler winds it down by its stop method, and does not restart it.
    h.RunUntil(At("2026-12-11 23:00:00"));
    EXPECT_EQ(h.player.status, 2);
    h.RunUntil(At("2026-12-11 23:10:00"));
    EXPECT_EQ(h.Playing(), "");
    EXPECT_EQ(h.player.calls, (std::vector<std::string>{"start Evening", "stop-graceful 0"}));
}

// The date changes (and with it the week, or the year) while a show runs: the reload at
// midnight keeps the record of what ran, so the show carries on without a restart.
TEST_F(SchedulerTest, ShowsRunThroughMidnightWithoutARestart) {
    ScopedTZ tz("Europe/Berlin");
    struct Case {
        const char* what;
        const char* schedule;
        const char* start;
        const char* afterMidnight;
        const char* afterEnd;
    } cases[] = {
        {"Saturday into Sunday, a new week",
         R"({"playlist": "Late", "dayIndex": 6, "startTime": "22:00:00", "endTime": "02:00:00"})",
         "2026-12-12 21:59:58", "2026-12-13 00:00:05", "2026-12-13 02:00:05"},
        {"New Year's Eve into a new year",
         R"({"playlist": "Late", "startTime": "22:00:00", "endTime": "01:00:00",
             "startDate": "0000-12-31", "endDate": "0000-12-31"})",
         "2026-12-31 21:59:58", "2027-01-01 00:00:05", "2027-01-01 01:00:05"},
        {"across the autumn change",
         R"({"playlist": "Late", "dayIndex": 6, "startTime": "23:00:00", "endTime": "04:00:00"})",
         "2026-10-24 22:59:58", "2026-10-25 00:00:05", "2026-10-25 04:00:05"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SchedulerHarness h;
        h.WriteSchedule(std::string("[") + c.schedule + "]");
        h.Start(At(c.start));
        h.RunUntil(At(c.afterMidnight));
        EXPECT_EQ(h.Playing(), "Late");
        h.RunUntil(At(c.afterEnd));
        EXPECT_EQ(h.Playing(), "");
        EXPECT_EQ(h.player.calls, (std::vector<std::string>{"start Late", "stop-graceful 0"}));
    }
}

// Two overlapping entries: the earlier one pre-empts, the other resumes afterwards, and
// the loser is never started again while the player winds down.
TEST_F(SchedulerTest, PreemptionAndResumption) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(R"([{"playlist": "Holiday", "startTime": "18:00:00", "endTime": "19:00:00"},
                        {"playlist": "Evening", "startTime": "17:00:00", "endTime": "23:00:00"}])");
    h.Start(At("2026-12-11 16:59:58"));
    h.RunUntil(At("2026-12-11 17:00:00"));
    EXPECT_EQ(h.Playing(), "Evening");
    h.RunUntil(At("2026-12-11 18:00:00"));
    EXPECT_EQ(h.player.status, 2); // winding down gracefully
    h.RunUntil(At("2026-12-11 18:00:03"));
    EXPECT_EQ(h.Playing(), "Holiday");
    EXPECT_EQ(h.player.priority, 0);
    h.RunUntil(At("2026-12-11 19:00:04"));
    EXPECT_EQ(h.Playing(), "Evening");
    EXPECT_EQ(h.player.schedEnd, At("2026-12-11 23:00:00"));
    h.RunUntil(At("2026-12-11 23:00:04"));
    EXPECT_EQ(h.Playing(), "");
    EXPECT_EQ(h.player.calls, (std::vector<std::string>{"start Evening", "stop-graceful 0", "start Holiday",
                                                        "stop-graceful 0", "start Evening", "stop-graceful 0"}));
}

// A player that takes a while to stop: the winner waits, nothing is restarted in
// between, and the stop is asked for once rather than in a loop.
TEST_F(SchedulerTest, SlowStopLetsTheWinnerStartWhenIdle) {
    ScopedTZ tz("Europe/Berlin");
    for (bool manual : {false, true}) {
        SCOPED_TRACE(manual ? "manual loser" : "scheduled loser");
        SchedulerHarness h;
        h.player.slowStopNow = true;
        h.WriteSchedule(R"([{"playlist": "Holiday", "startTime": "18:00:00", "endTime": "19:00:00"},
                            {"playlist": "Evening", "startTime": "17:00:00", "endTime": "23:00:00",
                             "stopType": 1}])");
        if (manual) {
            h.Start(At("2026-12-11 16:00:00"));
            h.player.StartManual("Manual");
            h.RunUntil(At("2026-12-11 17:00:00"));
            EXPECT_EQ(h.player.status, 4);
            h.RunUntil(At("2026-12-11 17:00:10"));
            h.player.Finish();
            h.RunUntil(At("2026-12-11 17:00:11"));
            EXPECT_EQ(h.Playing(), "Evening");
        } else {
            h.Start(At("2026-12-11 17:30:00"));
            EXPECT_EQ(h.Playing(), "Evening");
        }
        h.RunUntil(At("2026-12-11 18:00:10"));
        EXPECT_EQ(h.player.status, 4);
        h.player.Finish(); // the player is idle at last
        h.RunUntil(At("2026-12-11 18:00:11"));
        EXPECT_EQ(h.Playing(), "Holiday");
        std::vector<std::string> expected;
        if (manual) {
            expected = {"stop-now 1", "start Evening"};
        } else {
            expected = {"start Evening"};
        }
        expected.push_back("stop-now 0");
        expected.push_back("start Holiday");
        EXPECT_EQ(h.player.calls, expected);
        h.RunUntil(At("2026-12-11 19:00:00"));
        h.player.Finish();
        h.RunUntil(At("2026-12-11 19:00:01"));
        EXPECT_EQ(h.Playing(), "Evening");
    }
}

// While the player takes its time inside a stop, the schedule stays answerable: the
// stop is issued with the schedule lock released.
TEST_F(SchedulerTest, QueriesAnswerWhileThePlayerStops) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(R"([{"playlist": "Show", "startTime": "18:00:00", "endTime": "19:00:00"}])");
    h.Start(At("2026-12-11 17:59:58"));
    h.player.StartManual("Manual");
    std::mutex m;
    std::condition_variable cv;
    bool inStop = false, release = false;
    h.player.onStopNow = [&] {
        std::unique_lock<std::mutex> lk(m);
        inStop = true;
        cv.notify_all();
        cv.wait_for(lk, std::chrono::seconds(10), [&] { return release; });
    };
    std::thread loop([&] { h.RunUntil(At("2026-12-11 18:00:00")); });
    {
        std::unique_lock<std::mutex> lk(m);
        ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(10), [&] { return inStop; }));
    }
    auto query = std::async(std::launch::async, [&] { return h.scheduler->GetSchedule()["entries"].size(); });
    bool answered = query.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    {
        std::lock_guard<std::mutex> lk(m);
        release = true;
    }
    cv.notify_all();
    loop.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(query.get(), 1u);
    EXPECT_EQ(h.Playing(), "Show");
}

// A reload that renumbers the entries while a pre-empted playlist waits: the one that
// was pre-empted resumes, not whichever entry now has its old number.
TEST_F(SchedulerTest, ResumesThePreemptedPlaylistAfterARenumberingReload) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    const char* other = R"({"playlist": "Other", "startTime": "16:00:00", "endTime": "23:00:00"})";
    const char* holiday = R"({"playlist": "Holiday", "startTime": "18:00:00", "endTime": "19:00:00"})";
    const char* evening = R"({"playlist": "Evening", "startTime": "17:00:00", "endTime": "23:00:00"})";
    h.WriteSchedule(std::string("[") + holiday + "," + evening + "," + other + "]");
    h.Start(At("2026-12-11 16:00:00"));
    EXPECT_EQ(h.Playing(), "Other");
    h.RunUntil(At("2026-12-11 16:30:00"));
    h.player.StopNow(1); // stopped by hand: Other does not come back by itself
    h.RunUntil(At("2026-12-11 17:00:00"));
    EXPECT_EQ(h.Playing(), "Evening");
    h.RunUntil(At("2026-12-11 18:00:05"));
    EXPECT_EQ(h.Playing(), "Holiday");
    h.WriteSchedule(std::string("[") + holiday + "," + other + "," + evening + "]");
    h.scheduler->ReloadScheduleFile();
    h.RunUntil(At("2026-12-11 19:00:05"));
    EXPECT_EQ(h.Playing(), "Evening");
}

TEST_F(SchedulerTest, CommandsRunOnlyInTheirSecond) {
    ScopedTZ tz("Europe/Berlin");
    const char* schedule =
        R"([{"command": "Volume Set", "args": ["70"], "multisyncCommand": true, "multisyncHosts": "10.0.0.2",
             "startTime": "08:00:00"}])";
    {
        SchedulerHarness h;
        h.WriteSchedule(schedule);
        h.Start(At("2026-12-11 07:59:58"));
        h.RunUntil(At("2026-12-11 08:00:05"));
        ASSERT_EQ(h.actions.commands.size(), 1u);
        Json::Value cmd = LoadJsonFromString(h.actions.commands[0]);
        EXPECT_EQ(cmd["command"], "Volume Set");
        EXPECT_EQ(cmd["args"][0], "70");
        EXPECT_EQ(cmd["multisyncCommand"], true);
        EXPECT_EQ(cmd["multisyncHosts"], "10.0.0.2");
    }
    {
        SchedulerHarness h; // the loop stalled over 08:00:00
        h.WriteSchedule(schedule);
        h.Start(At("2026-12-11 07:59:58"));
        h.now = At("2026-12-11 08:00:03");
        h.Pass();
        h.RunUntil(At("2026-12-11 08:00:10"));
        EXPECT_TRUE(h.actions.commands.empty());
        Json::Value schedule = h.scheduler->GetSchedule();
        for (const auto& item : schedule["items"]) {
            EXPECT_NE(item["startTime"].asInt64(), (Json::Int64)At("2026-12-11 08:00:00"));
        }
    }
}

TEST_F(SchedulerTest, CountdownPresets) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(R"([{"playlist": "Show", "startTime": "18:00:00", "endTime": "19:00:00"}])");
    h.Start(At("2026-12-11 17:54:00"));
    h.RunUntil(At("2026-12-11 17:59:50"));
    h.scheduler->CheckIfShouldBePlayingNow(0, -1); // a second check in the same second
    h.RunUntil(At("2026-12-11 18:00:00"));
    std::vector<std::string> expected;
    for (int d : {300, 240, 180, 120, 60, 50, 40, 30, 20, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}) {
        char name[64];
        snprintf(name, sizeof(name), "PLAYLIST_START_TMINUS_%03d Show", d);
        expected.push_back(name);
    }
    EXPECT_EQ(h.actions.presets, expected);
    EXPECT_EQ(h.Playing(), "Show");
}

TEST_F(SchedulerTest, ExtendSchedule) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(std::string("[") + kEvening + "]");
    h.Start(At("2026-12-11 12:00:00"));
    auto r = h.scheduler->RunExtendSchedule({});
    EXPECT_TRUE(r.error);
    EXPECT_EQ(r.text, "Command needs at least 1 argument, found 0");
    r = h.scheduler->RunExtendSchedule({"600"});
    EXPECT_TRUE(r.error); // nothing scheduled is playing
    EXPECT_EQ(r.text, "Error extending Schedule");
    EXPECT_TRUE(h.scheduler->RunExtendSchedule({"6oo"}).error);

    h.RunUntil(At("2026-12-11 19:00:00"));
    r = h.scheduler->RunExtendSchedule({"600", "0"});
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.text, "Schedule Updated");
    EXPECT_EQ(h.player.actualEnd, At("2026-12-11 23:10:00"));
    EXPECT_EQ(h.scheduler->GetSchedule()["items"][0]["endTime"].asInt64(), (Json::Int64)At("2026-12-11 23:10:00"));
    // With a limit the expansion carries the extension for items starting within it.
    r = h.scheduler->RunExtendSchedule({"600", "90000"});
    EXPECT_FALSE(r.error);
    h.RunUntil(At("2026-12-11 19:00:02"));
    bool sawTomorrow = false;
    Json::Value schedule = h.scheduler->GetSchedule();
    for (const auto& item : schedule["items"]) {
        if (item["startTime"].asInt64() == (Json::Int64)At("2026-12-12 18:00:00")) {
            sawTomorrow = true;
            EXPECT_EQ(item["endTime"].asInt64(), (Json::Int64)At("2026-12-12 23:10:00"));
        }
    }
    EXPECT_TRUE(sawTomorrow);
    h.RunUntil(At("2026-12-11 23:19:59"));
    EXPECT_EQ(h.Playing(), "Evening");
    h.RunUntil(At("2026-12-11 23:20:00"));
    EXPECT_EQ(h.player.status, 2);
    EXPECT_EQ(h.player.calls, (std::vector<std::string>{"start Evening", "stop-graceful 0"}));
}

TEST_F(SchedulerTest, StartNextScheduledItem) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(std::string("[") + kEvening + "]");
    h.Start(At("2026-12-11 12:00:00"));
    auto r = h.scheduler->RunStartNextScheduledItem();
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.text, "Next scheduled item started");
    EXPECT_EQ(h.Playing(), "Evening");
    EXPECT_EQ(h.player.schedStart, At("2026-12-11 12:00:00"));
    EXPECT_EQ(h.player.schedEnd, At("2026-12-11 23:00:00"));
    h.RunUntil(At("2026-12-11 18:00:05"));
    EXPECT_EQ(h.player.calls, (std::vector<std::string>{"start Evening"}));

    SchedulerHarness empty;
    empty.WriteSchedule("[]");
    empty.Start(At("2026-12-11 12:00:00"));
    r = empty.scheduler->RunStartNextScheduledItem();
    EXPECT_TRUE(r.error);
    EXPECT_EQ(r.text, "Unable to start next scheduled item");
}

TEST_F(SchedulerTest, MalformedAndMissingEntriesAreSkippedWithWarnings) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(std::string(R"([{"playlist": "Broken", "startTime": "8pm", "endTime": "23:00:00"},
                                     "not an entry",
                                     {"playlist": "Nope", "startTime": "18:00:00", "endTime": "23:00:00"},)") +
                    kEvening + "]");
    std::filesystem::remove(h.media + "/playlists/Nope.json");
    h.Start(At("2026-12-11 19:30:00"));
    EXPECT_EQ(h.Playing(), "Evening");
    EXPECT_TRUE(HasWarning("Schedule entry 1 ('Broken') skipped: \"startTime\" '8pm'"));
    EXPECT_TRUE(HasWarning("Schedule entry 2 skipped: not a JSON object"));
    EXPECT_TRUE(HasWarning("Scheduled Playlist 'Nope' does not exist"));
    Json::Value s = h.scheduler->GetSchedule();
    ASSERT_EQ(s["entries"].size(), 1u);
    EXPECT_EQ(s["entries"][0]["id"], 0);
    EXPECT_EQ(s["entries"][0]["type"], "playlist");
    EXPECT_EQ(s["entries"][0]["dayStr"], "Everyday");

    // Mended file, playlist created: the warnings go at the next load.
    h.WriteSchedule(std::string(R"([{"playlist": "Nope", "startTime": "18:00:00", "endTime": "23:00:00"},)") +
                    kEvening + "]");
    h.scheduler->ReloadScheduleFile();
    h.RunUntil(At("2026-12-11 19:30:01"));
    EXPECT_FALSE(HasWarning("skipped"));
    EXPECT_FALSE(HasWarning("does not exist"));

    PutFileContents(h.media + "/config/schedule.json", "{ not json");
    h.scheduler->ReloadScheduleFile();
    h.RunUntil(At("2026-12-11 19:30:02"));
    EXPECT_EQ(h.scheduler->GetSchedule()["entries"].size(), 0u);
    EXPECT_TRUE(HasWarning("could not be read"));
}

TEST_F(SchedulerTest, SunTimesFollowTheLocationSettings) {
    ScopedTZ tz("America/New_York");
    SchedulerHarness h;
    h.WriteSchedule(R"([{"playlist": "Lights", "startTime": "SunSet", "startTimeOffset": 30,
                         "endTime": "23:00:00"}])");
    h.Start(At("2026-12-21 16:00:00")); // no place yet: the operator is told why nothing is due
    EXPECT_TRUE(HasWarning("need the settings Latitude and Longitude"));
    EXPECT_EQ(h.scheduler->GetNextPlaylistName(), "No playlist scheduled.");
    SetSetting("Latitude", "40.7128");
    SetSetting("Longitude", "-74.006");
    h.scheduler->ReloadScheduleFile();
    h.RunUntil(At("2026-12-21 16:00:01"));
    EXPECT_FALSE(HasWarning("Latitude"));
    h.RunUntil(At("2026-12-21 17:05:00")); // sunset 16:32, plus half an hour
    EXPECT_EQ(h.Playing(), "Lights");
    EXPECT_NEAR((double)h.player.schedStart, (double)At("2026-12-21 17:02:00"), 180.0);
}

TEST_F(SchedulerTest, InfoAndScheduleJson) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(R"([{"playlist": "Evening", "startTime": "18:00:00", "endTime": "23:00:00", "stopType": 2}])");
    h.Start(At("2026-12-11 12:00:00"));
    Json::Value info = h.scheduler->GetInfo();
    EXPECT_EQ(info["status"], "idle");
    EXPECT_EQ(info["enabled"], 1);
    EXPECT_EQ(info["nextPlaylist"]["playlistName"], "Evening");
    EXPECT_EQ(info["nextPlaylist"]["scheduledStartTimeStr"], "2026-12-11 @ 18:00:00 - (Everyday)");

    h.player.StartManual("Manual");
    EXPECT_EQ(h.scheduler->GetInfo()["status"], "manual");
    h.player.Finish();

    h.RunUntil(At("2026-12-11 20:00:00"));
    info = h.scheduler->GetInfo();
    EXPECT_EQ(info["status"], "playing");
    const Json::Value& cur = info["currentPlaylist"];
    EXPECT_EQ(cur["playlistName"], "Evening");
    EXPECT_EQ(cur["secondsRemaining"], 3 * 3600);
    EXPECT_EQ(cur["stopType"], 2);
    EXPECT_EQ(cur["stopTypeStr"], "Graceful Loop");
    EXPECT_EQ(cur["scheduledStartTimeStr"], "2026-12-11 @ 18:00:00");
    EXPECT_EQ(cur["actualStartTimeStr"], "2026-12-11 @ 18:00:00");
    EXPECT_EQ(cur["scheduledEndTime"].asInt64(), (Json::Int64)At("2026-12-11 23:00:00"));

    Json::Value s = h.scheduler->GetSchedule();
    ASSERT_GE(s["items"].size(), 2u);
    EXPECT_EQ(s["items"][0]["command"], "Start Playlist");
    EXPECT_EQ(s["items"][0]["args"][0], "Evening");
    EXPECT_EQ(s["items"][0]["id"], 0);
    EXPECT_EQ(s["items"][1]["startTimeStr"], "2026-12-12 @ 18:00:00");
    EXPECT_EQ(s["items"][1]["args"], LoadJsonFromString(R"(["Evening", "false", "false"])"));

    SetSetting("DateFormat", "%d.%m.%Y");
    SetSetting("TimeFormat", "%H:%M");
    EXPECT_EQ(h.scheduler->GetNextPlaylistStartStr(), "12.12.2026 @ 18:00 - (Everyday)");
}

TEST_F(SchedulerTest, LogTableAndItemDump) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    std::string logPath = h.media + "/log";
    SetLogFile(logPath.c_str(), false);
    KIVLogger::INSTANCE.SetLevel("Schedule", LOG_LEVEL_DEBUG);
    SetSetting("Latitude", "52.52");
    SetSetting("Longitude", "13.405");
    h.WriteSchedule(R"([{"playlist": "Holiday", "startTime": "Dusk", "endTime": "22:00:00", "repeat": 1,
                         "stopType": 2, "startDate": "0000-12-01", "endDate": "0000-01-06"},
                        {"command": "Volume Set", "args": ["70"], "dayIndex": 8, "startTime": "08:00:00",
                         "startDate": "2026-01-01", "endDate": "2026-06-30"}])");
    h.Start(At("2026-12-11 12:00:00"));
    h.scheduler->DumpScheduledItems();
    KIVLogger::INSTANCE.SetLevel("Schedule", LOG_LEVEL_INFO);
    SetLogFile("", true);
    std::string log = GetFileContents(logPath);
    EXPECT_NE(log.find("Stat Start & End Dates       Days          Start & End Times   Playlist/Command\n"),
              std::string::npos);
    EXPECT_NE(log.find("+ *L 0000-12-01 - 0000-01-06 Everyday      Dusk     - 22:00:00 Holiday\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("+! G 2026-01-01 - 2026-06-30 Weekdays      08:00:00            Volume Set\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(":  0 'Start Playlist' - '\"Holiday\" \"true\" \"false\" '\n"), std::string::npos) << log;
}

TEST_F(SchedulerTest, DisabledSchedulerStartsNothing) {
    ScopedTZ tz("Europe/Berlin");
    SetSetting("DisableScheduler", "1");
    SchedulerHarness h;
    h.WriteSchedule(std::string("[") + kEvening + "]");
    h.Start(At("2026-12-11 19:30:00"));
    h.RunUntil(At("2026-12-11 19:30:05"));
    EXPECT_EQ(h.Playing(), "");
    EXPECT_TRUE(HasWarning("KIV Scheduler is disabled"));
    EXPECT_EQ(h.scheduler->GetNextPlaylistName(), "Scheduler is disabled.");
    EXPECT_EQ(h.scheduler->GetNextPlaylistStartStr(), "");
    EXPECT_EQ(h.scheduler->GetInfo()["enabled"], 0);
}

TEST_F(SchedulerTest, RestartResumesAtTheSavedPosition) {
    ScopedTZ tz("Europe/Berlin");
    SetSetting("restarted", "1");
    SetSetting("resumePlaylist", "Evening");
    SetSetting("resumePosition", "3");
    SchedulerHarness h;
    h.WriteSchedule(std::string("[") + kEvening + "]");
    h.Start(At("2026-12-11 19:30:00"));
    EXPECT_EQ(h.player.calls, (std::vector<std::string>{"start Evening @3"}));
    EXPECT_EQ(getSetting("resumePlaylist"), "");
    EXPECT_EQ(getSettingInt("resumePosition"), 0);
}

// What the control socket's "p" relies on: after a manual stop the schedule still says
// what should be playing, and a forced check starts it again as scheduled.
TEST_F(SchedulerTest, ForcedCheckRestartsTheScheduledPlaylist) {
    ScopedTZ tz("Europe/Berlin");
    SchedulerHarness h;
    h.WriteSchedule(std::string("[") + kEvening + "]");
    h.Start(At("2026-12-11 19:30:00"));
    h.player.StopNow(1);
    h.RunUntil(At("2026-12-11 19:30:05"));
    EXPECT_EQ(h.Playing(), "");
    int repeat = -1;
    EXPECT_EQ(h.scheduler->GetPlaylistThatShouldBePlaying(repeat), "Evening");
    EXPECT_EQ(repeat, 0);
    // A reload the same day remembers that it ran.
    h.scheduler->ReloadScheduleFile();
    h.RunUntil(At("2026-12-11 19:30:10"));
    EXPECT_EQ(h.Playing(), "");
    h.scheduler->CheckIfShouldBePlayingNow(1, -1);
    EXPECT_EQ(h.Playing(), "Evening");
    EXPECT_EQ(h.player.schedEnd, At("2026-12-11 23:00:00"));
}

} // namespace
