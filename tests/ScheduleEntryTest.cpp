#include <gtest/gtest.h>

#include <cstdlib>

#include "ScheduleCalendar.h"
#include "ScheduleEntry.h"
#include "SchedulerTestSupport.h"
#include "SunTimes.h"
#include "common.h"

namespace {

Json::Value J(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(LoadJsonFromString(text, v)) << text;
    return v;
}

TEST(ScheduleEntryTest, DayTextsAndMasks) {
    struct Case {
        int dayIndex;
        const char* text;
        int mask;
    } cases[] = {
        {0, "Sunday", 0x40},       {1, "Monday", 0x20},         {6, "Saturday", 0x01},
        {7, "Everyday", 0x7F},     {8, "Weekdays", 0x3E},       {9, "Weekends", 0x41},
        {10, "Mon/Wed/Fri", 0x2A}, {11, "Tues-Thurs", 0x14},    {12, "Sun-Thurs", 0x7C},
        {13, "Fri/Sat", 0x03},     {14, "Odd Days", 0},         {15, "Even Days", 0},
        {16, "Error", 0},          {-1, "Error", 0},
        {0x10000 | 0x2200, "Mask: -M---F-", 0x22},
        {0x10000 | 0x7F00, "Mask: SMTWTFS", 0x7F},
        {0x10000 | 0x4100, "Mask: S-----S", 0x41},
        {0x10000 | 0x0001, "Error", 0}, // bits outside the mask
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScheduleEntry::GetDayTextFromDayIndex(c.dayIndex), c.text) << c.dayIndex;
        EXPECT_EQ(ScheduleEntry::GetWeekdayMask(c.dayIndex), c.mask) << c.dayIndex;
    }
}

TEST(ScheduleEntryTest, TuesThursLeavesOutWednesday) {
    ScheduleEntry e;
    e.dayIndex = ScheduleEntry::TUES_THURS;
    EXPECT_TRUE(e.DaySelected({2026, 12, 8}));  // Tuesday
    EXPECT_FALSE(e.DaySelected({2026, 12, 9})); // Wednesday
    EXPECT_TRUE(e.DaySelected({2026, 12, 10})); // Thursday
}

TEST(ScheduleEntryTest, OddAndEvenDaysAlternateAcrossMonthsAndYears) {
    ScheduleEntry odd, even;
    odd.dayIndex = ScheduleEntry::ODD_DAYS;
    even.dayIndex = ScheduleEntry::EVEN_DAYS;
    // 2013-07-15 is day 0 (even); 2026-12-11 is day 4897.
    EXPECT_TRUE(even.DaySelected({2013, 7, 15}));
    EXPECT_EQ(ScheduleEntry::OddEvenDayCount({2026, 12, 11}), 4897);
    EXPECT_TRUE(odd.DaySelected({2026, 12, 11}));
    CivilDate d{2026, 12, 25};
    for (int i = 0; i < 20; i++) { // through the new year without a skip
        EXPECT_NE(odd.DaySelected(d), even.DaySelected(d));
        CivilDate next = AddDays(d, 1);
        EXPECT_NE(odd.DaySelected(d), odd.DaySelected(next));
        d = next;
    }
}

TEST(ScheduleEntryTest, TimeTexts) {
    struct Case {
        const char* text;
        bool ok;
        ScheduleEntry::TimeKind kind;
        int seconds;
    } cases[] = {
        {"00:00:00", true, ScheduleEntry::FIXED, 0},   {"23:59:59", true, ScheduleEntry::FIXED, 86399},
        {"18:30:05", true, ScheduleEntry::FIXED, 66605}, {"SunRise", true, ScheduleEntry::SUNRISE, 0},
        {"SunSet", true, ScheduleEntry::SUNSET, 0},    {"Dawn", true, ScheduleEntry::DAWN, 0},
        {"Dusk", true, ScheduleEntry::DUSK, 0},        {"24:00:00", false, ScheduleEntry::FIXED, 0},
        {"12:60:00", false, ScheduleEntry::FIXED, 0},  {"7:00:00", false, ScheduleEntry::FIXED, 0},
        {"07:00", false, ScheduleEntry::FIXED, 0},     {"", false, ScheduleEntry::FIXED, 0},
        {"sunrise!", false, ScheduleEntry::FIXED, 0},
    };
    for (const auto& c : cases) {
        ScheduleEntry::TimeKind kind = ScheduleEntry::FIXED;
        int seconds = -1;
        EXPECT_EQ(ScheduleEntry::ParseTimeText(c.text, kind, seconds), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(kind, c.kind) << c.text;
            EXPECT_EQ(seconds, c.seconds) << c.text;
        }
    }
}

TEST(ScheduleEntryTest, LoadsAFullEntryAndWritesItBack) {
    ScheduleEntry e;
    std::string error;
    Json::Value in = J(R"({"enabled": 1, "sequence": 0, "playlist": "Show", "dayIndex": 7,
        "startTime": "Dusk", "startTimeOffset": -15, "endTime": "22:00:00", "repeat": 1, "stopType": 2,
        "startDate": "0000-12-01", "endDate": "0000-01-06"})");
    ASSERT_TRUE(e.LoadFromJson(in, error)) << error;
    EXPECT_EQ(e.playlist, "Show");
    EXPECT_TRUE(e.repeat);
    EXPECT_EQ(e.stopType, 2);
    EXPECT_EQ(e.startDate, 1201);
    EXPECT_EQ(e.endDate, 106);
    EXPECT_EQ(e.startTimeOffset, -15);
    Json::Value out = e.GetJson();
    for (const char* key : {"playlist", "startTime", "endTime", "startDate", "endDate", "dayIndex", "stopType",
                            "startTimeOffset", "repeat", "enabled"}) {
        EXPECT_EQ(out[key], in[key]) << key;
    }
    EXPECT_TRUE(out["args"].isArray());
}

TEST(ScheduleEntryTest, MalformedEntriesAreRefusedWithAReason) {
    struct Case {
        const char* json;
        const char* reason; // part of the error text
    } cases[] = {
        {R"([1, 2])", "not a JSON object"},
        {R"({"startTime": "10:00:00"})", "neither a playlist nor a command"},
        {R"({"playlist": "A", "command": "B", "startTime": "10:00:00", "endTime": "11:00:00"})", "both"},
        {R"({"playlist": "A", "startTime": "25:00:00", "endTime": "11:00:00"})", "startTime"},
        {R"({"playlist": "A", "startTime": "10:00:00"})", "endTime"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "dayIndex": 99})", "dayIndex"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "dayIndex": "x"})", "dayIndex"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "dayIndex": 65536})", "no days"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "stopType": 3})", "stopType"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "enabled": 2})", "enabled"},
        {R"({"playlist": 5, "startTime": "10:00:00", "endTime": "11:00:00"})", "playlist"},
        {R"({"command": "X", "startTime": "10:00:00", "args": "a"})", "args"},
        {R"({"command": "X", "startTime": "10:00:00", "args": [1]})", "args"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "startDate": "2026-12-01"})",
         "only one"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "startDate": "2026-13-01",
             "endDate": "2026-12-31"})", "startDate"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "startDate": "2026-12-01",
             "endDate": "26-12-31"})", "endDate"},
        {R"({"playlist": "A", "startTime": "10:00:00", "endTime": "11:00:00", "startDate": "2026-12-01",
             "endDate": "2026-11-30"})", "before"},
        {R"({"playlist": "A", "startTime": "SunSet", "startTimeOffset": 5000, "endTime": "11:00:00"})",
         "startTimeOffset"},
    };
    for (const auto& c : cases) {
        ScheduleEntry e;
        std::string error;
        EXPECT_FALSE(e.LoadFromJson(J(c.json), error)) << c.json;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.json << " -> " << error;
    }
    // Numbers written as text by web forms are fine; a command needs no end time.
    ScheduleEntry e;
    std::string error;
    EXPECT_TRUE(e.LoadFromJson(J(R"({"command": "Volume Set", "args": ["70"], "startTime": "08:00:00",
        "dayIndex": "8", "enabled": true})"), error))
        << error;
    EXPECT_EQ(e.dayIndex, 8);
}

// Occurrences for a whole week, in local time of a zone with daylight-saving changes.
TEST(ScheduleEntryTest, OccurrencesOnChangeDays) {
    ScopedTZ tz("Europe/Berlin");
    struct Case {
        const char* start;
        const char* end;
        CivilDate sunday;
        int offset;
        const char* expectStart; // local wall clock
        long seconds;            // real duration
    } cases[] = {
        // Ordinary evening.
        {"18:00:00", "23:00:00", {2026, 12, 6}, 5, "2026-12-11 18:00:00", 5 * 3600},
        // Ends the next day; across the new year.
        {"22:00:00", "02:00:00", {2026, 12, 27}, 4, "2026-12-31 22:00:00", 4 * 3600},
        // End equal to start: a whole day.
        {"12:00:00", "12:00:00", {2026, 12, 6}, 1, "2026-12-07 12:00:00", 24 * 3600},
        // Spring forward 2026-03-29 02:00 -> 03:00: 02:30 is shown as 03:30; a night show
        // 22:00 -> 06:00 is an hour shorter.
        {"02:30:00", "04:00:00", {2026, 3, 29}, 0, "2026-03-29 03:30:00", 1800},
        {"22:00:00", "06:00:00", {2026, 3, 22}, 6, "2026-03-28 22:00:00", 7 * 3600},
        // Fall back 2026-10-25 03:00 -> 02:00: the night is an hour longer.
        {"22:00:00", "06:00:00", {2026, 10, 18}, 6, "2026-10-24 22:00:00", 9 * 3600},
        {"18:00:00", "23:00:00", {2026, 10, 25}, 0, "2026-10-25 18:00:00", 5 * 3600},
    };
    for (const auto& c : cases) {
        ScheduleEntry e;
        std::string error;
        Json::Value v;
        v["playlist"] = "P";
        v["startTime"] = c.start;
        v["endTime"] = c.end;
        ASSERT_TRUE(e.LoadFromJson(v, error)) << error;
        e.pushStartEndTimes(c.sunday, c.offset, 0, 0, SchedulePlace{});
        ASSERT_EQ(e.startEndTimes.size(), 1u) << c.start << " " << c.expectStart;
        EXPECT_EQ(e.startEndTimes[0].first, At(c.expectStart)) << c.expectStart;
        EXPECT_EQ(e.startEndTimes[0].second - e.startEndTimes[0].first, c.seconds) << c.expectStart;
    }
    // 02:30 on the autumn night is its first showing (summer time, 00:30 UTC).
    EXPECT_EQ(LocalWallTime({2026, 10, 25}, 2 * 3600 + 1800), (time_t)1792888200);
}

TEST(ScheduleEntryTest, DaysOutsideTheSelectionPushNothingAndNothingTwice) {
    ScopedTZ tz("America/New_York");
    ScheduleEntry e;
    std::string error;
    ASSERT_TRUE(e.LoadFromJson(J(R"({"playlist": "P", "dayIndex": 11, "startTime": "18:00:00",
        "endTime": "19:00:00"})"), error));
    CivilDate sunday{2026, 12, 6};
    for (int d = -1; d < 7; d++) {
        e.pushStartEndTimes(sunday, d, 0, 0, SchedulePlace{});
        e.pushStartEndTimes(sunday, d, 0, 0, SchedulePlace{});
    }
    ASSERT_EQ(e.startEndTimes.size(), 2u); // Tuesday and Thursday, once each
    EXPECT_EQ(e.startEndTimes[0].first, At("2026-12-08 18:00:00"));
    EXPECT_EQ(e.startEndTimes[1].first, At("2026-12-10 18:00:00"));
    // Spring forward in New York, 2026-03-08: 02:15 is shown as 03:15.
    ScheduleEntry night;
    ASSERT_TRUE(night.LoadFromJson(J(R"({"playlist": "P", "startTime": "02:15:00", "endTime": "05:00:00"})"),
                                   error));
    night.pushStartEndTimes({2026, 3, 8}, 0, 0, 0, SchedulePlace{});
    ASSERT_EQ(night.startEndTimes.size(), 1u);
    EXPECT_EQ(night.startEndTimes[0].first, At("2026-03-08 03:15:00"));
}

TEST(ScheduleEntryTest, ExtensionAppliesBeforeTheThresholdOnly) {
    ScopedTZ tz("UTC");
    ScheduleEntry e;
    std::string error;
    ASSERT_TRUE(e.LoadFromJson(J(R"({"playlist": "P", "startTime": "18:00:00", "endTime": "19:00:00"})"), error));
    time_t threshold = At("2026-12-08 12:00:00");
    e.pushStartEndTimes({2026, 12, 6}, 1, 600, threshold, SchedulePlace{}); // Monday: before
    e.pushStartEndTimes({2026, 12, 6}, 2, 600, threshold, SchedulePlace{}); // Tuesday: after
    ASSERT_EQ(e.startEndTimes.size(), 2u);
    EXPECT_EQ(e.startEndTimes[0].second - e.startEndTimes[0].first, 3600 + 600);
    EXPECT_EQ(e.startEndTimes[1].second - e.startEndTimes[1].first, 3600);
}

// Published almanac times, to the minute; the formula is good to about two.
TEST(ScheduleEntryTest, SunTimesMatchAlmanacs) {
    ScopedTZ tz("UTC");
    struct Case {
        CivilDate date;
        double lat, lon;
        SunEvent event;
        const char* utc; // HH:MM
    } cases[] = {
        {{2026, 6, 21}, 52.52, 13.405, SunEvent::SunRise, "02:43"}, // Berlin 04:43 CEST
        {{2026, 6, 21}, 52.52, 13.405, SunEvent::SunSet, "19:33"},  // 21:33 CEST
        {{2026, 12, 21}, 40.7128, -74.006, SunEvent::SunRise, "12:16"}, // New York 07:16 EST
        {{2026, 12, 21}, 40.7128, -74.006, SunEvent::SunSet, "21:32"},  // 16:32 EST
        {{2026, 12, 21}, 40.7128, -74.006, SunEvent::Dawn, "11:45"},    // 06:45 EST
        {{2026, 12, 21}, 40.7128, -74.006, SunEvent::Dusk, "22:03"},    // 17:03 EST
        {{2026, 3, 20}, -33.8688, 151.2093, SunEvent::SunSet, "08:10"}, // Sydney 19:10 AEDT
    };
    for (const auto& c : cases) {
        time_t when = 0;
        ASSERT_TRUE(SunEventTime(c.date, c.lat, c.lon, c.event, when)) << c.utc;
        int minutes = std::stoi(std::string(c.utc).substr(0, 2)) * 60 + std::stoi(std::string(c.utc).substr(3, 2));
        time_t expected = UtcMidnight(c.date) + minutes * 60;
        EXPECT_LE(std::labs((long)(when - expected)), 180L) << c.utc << " got " << (when - UtcMidnight(c.date)) / 60;
    }
    time_t when = 0;
    EXPECT_FALSE(SunEventTime({2026, 12, 21}, 69.65, 18.96, SunEvent::SunRise, when)); // polar night
    EXPECT_FALSE(SunEventTime({2026, 6, 21}, 69.65, 18.96, SunEvent::SunSet, when));   // midnight sun
    EXPECT_FALSE(SunEventTime({2026, 6, 21}, 95.0, 0.0, SunEvent::SunSet, when));
}

TEST(ScheduleEntryTest, SunTimesWithOffsetsAndWithoutAPlace) {
    ScopedTZ tz("America/New_York");
    ScheduleEntry e;
    std::string error;
    ASSERT_TRUE(e.LoadFromJson(J(R"({"playlist": "P", "startTime": "SunSet", "startTimeOffset": 30,
        "endTime": "SunRise", "endTimeOffset": -30})"), error));
    e.pushStartEndTimes({2026, 12, 20}, 1, 0, 0, SchedulePlace{}); // no place: skipped
    EXPECT_TRUE(e.startEndTimes.empty());
    e.pushStartEndTimes({2026, 12, 20}, 1, 0, 0, SchedulePlace{true, 40.7128, -74.006});
    ASSERT_EQ(e.startEndTimes.size(), 1u);
    // 30 minutes after Monday's sunset until 30 minutes before Tuesday's sunrise.
    EXPECT_NEAR((double)e.startEndTimes[0].first, (double)At("2026-12-21 17:02:00"), 180.0);
    EXPECT_NEAR((double)e.startEndTimes[0].second, (double)At("2026-12-22 06:47:00"), 180.0);
}

} // namespace
