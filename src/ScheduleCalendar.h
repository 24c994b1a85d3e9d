#pragma once

// Calendar arithmetic for the schedule: local dates as plain values, so that adding
// days never goes through "86400 seconds" (wrong on daylight-saving change days), and
// local wall-clock times turned into instants with defined answers for the hour the
// clock skips in spring and the hour it repeats in autumn.

#include <ctime>

struct CivilDate {
    int year = 1970;
    int month = 1; // 1-12
    int day = 1;   // 1-31
};

// Days since 1970-01-01 of a proleptic Gregorian date (may be negative).
long DaysFromCivil(const CivilDate& date);
CivilDate CivilFromDays(long days);
CivilDate AddDays(const CivilDate& date, int days);
// 0 Sunday ... 6 Saturday.
int Weekday(const CivilDate& date);
// YYYYMMDD.
int DateIntOf(const CivilDate& date);
// The local date of an instant (the TZ in effect).
CivilDate LocalDateOf(time_t when);
// The instant at which the local clock shows `secondsOfDay` after midnight on `date`.
// A time shown twice (autumn change) is its first showing; a time never shown (spring
// change) is counted from before the change, so 02:30 in a zone that jumps from 02:00
// to 03:00 is the instant the clock shows 03:30.
time_t LocalWallTime(const CivilDate& date, int secondsOfDay);
// UTC midnight starting the date (the sun computation works in UTC).
time_t UtcMidnight(const CivilDate& date);
