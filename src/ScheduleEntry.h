#pragma once

// One entry of the schedule file "config/schedule.json": a playlist (or sequence) or a
// command, on certain days, between a start and an end time, within a date range.
// Entries are built and read by the scheduler under its lock; they are not shared.

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include <json/json.h>

#include "ScheduleCalendar.h"

// Where the sun times are computed; valid is false when "Latitude"/"Longitude" are unset.
struct SchedulePlace {
    bool valid = false;
    double latitude = 0.0;
    double longitude = 0.0;
};

class ScheduleEntry {
public:
    enum DayIndex {
        SUNDAY = 0,
        SATURDAY = 6,
        EVERYDAY = 7,
        WEEKDAYS = 8,
        WEEKENDS = 9,
        MON_WED_FRI = 10,
        TUES_THURS = 11,
        SUN_THURS = 12,
        FRI_SAT = 13,
        ODD_DAYS = 14,
        EVEN_DAYS = 15,
        CUSTOM_MASK = 0x10000,
    };
    // How a start or end time is given.
    enum TimeKind { FIXED, SUNRISE, SUNSET, DAWN, DUSK };

    // Reads one element of the schedule file. False, with the reason in `error`, when
    // the element is not a usable entry; the entry is then left unchanged in meaning.
    bool LoadFromJson(const Json::Value& value, std::string& error);
    Json::Value GetJson() const;

    // Appends the occurrence starting on the day `offset` days from `sunday` (this
    // week's Sunday) when the selection has that day; an end at or before the start
    // ends the next day. timeDelta seconds are added to the end of occurrences that
    // begin before `threshold`. The same occurrence is never appended twice.
    void pushStartEndTimes(const CivilDate& sunday, int offset, int timeDelta, time_t threshold,
                           const SchedulePlace& place);

    bool IsPlaylist() const { return !playlist.empty(); }
    bool UsesSunTimes() const { return m_startKind != FIXED || (!endTimeStr.empty() && m_endKind != FIXED); }
    // Whether the selection holds that date (weekday masks, odd and even days).
    bool DaySelected(const CivilDate& date) const;

    static std::string GetDayTextFromDayIndex(int dayIndex);
    // Weekday mask, Sunday 0x40 down to Saturday 0x01; 0 for odd/even days and errors.
    static int GetWeekdayMask(int dayIndex);
    static bool IsOddEven(int dayIndex) { return dayIndex == ODD_DAYS || dayIndex == EVEN_DAYS; }
    // Days since 15 July 2013, the reference of odd and even days.
    static long OddEvenDayCount(const CivilDate& date);
    // "HH:MM:SS" or a sun time name; false for anything else.
    static bool ParseTimeText(const std::string& text, TimeKind& kind, int& secondsOfDay);

    bool enabled = true;
    std::string playlist; // playlist or sequence name; empty for a command entry
    bool sequence = false;
    std::string command;
    Json::Value args{Json::arrayValue};
    bool multisyncCommand = false;
    std::string multisyncHosts;
    int dayIndex = EVERYDAY;
    bool repeat = false;
    int stopType = 0; // 0 graceful, 1 hard, 2 graceful after the loop
    int startDate = 0; // YYYYMMDD, or MMDD for a year of 0000; 0 and 0: any date
    int endDate = 0;
    std::string startDateStr, endDateStr;
    std::string startTimeStr, endTimeStr;
    int startTimeOffset = 0; // minutes, applied to sun times
    int endTimeOffset = 0;
    std::vector<std::pair<time_t, time_t>> startEndTimes;

private:
    bool timeOn(const CivilDate& date, TimeKind kind, int secondsOfDay, int offsetMinutes,
                const SchedulePlace& place, time_t& when) const;

    TimeKind m_startKind = FIXED, m_endKind = FIXED;
    int m_startSeconds = 0, m_endSeconds = 0;
};
