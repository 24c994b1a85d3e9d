#include "ScheduleCalendar.h"

// Civil-from-days and days-from-civil after Howard Hinnant's public-domain algorithms:
// exact for every Gregorian date, without the C library's time zone.
long DaysFromCivil(const CivilDate& date) {
    long y = date.year - (date.month <= 2 ? 1 : 0);
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long mp = (date.month + 9) % 12;
    long doy = (153 * mp + 2) / 5 + date.day - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate CivilFromDays(long days) {
    days += 719468;
    long era = (days >= 0 ? days : days - 146096) / 146097;
    long doe = days - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    CivilDate result;
    result.day = (int)(doy - (153 * mp + 2) / 5 + 1);
    result.month = (int)(mp < 10 ? mp + 3 : mp - 9);
    result.year = (int)(yoe + era * 400 + (result.month <= 2 ? 1 : 0));
    return result;
}

CivilDate AddDays(const CivilDate& date, int days) { return CivilFromDays(DaysFromCivil(date) + days); }

int Weekday(const CivilDate& date) {
    long days = DaysFromCivil(date); // 1970-01-01 was a Thursday
    return (int)(((days % 7) + 7 + 4) % 7);
}

int DateIntOf(const CivilDate& date) { return date.year * 10000 + date.month * 100 + date.day; }

CivilDate LocalDateOf(time_t when) {
    struct tm local;
    localtime_r(&when, &local);
    CivilDate result;
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    return result;
}

time_t UtcMidnight(const CivilDate& date) { return (time_t)DaysFromCivil(date) * 86400; }

static long utcOffsetAt(time_t when) {
    struct tm local;
    localtime_r(&when, &local);
    return local.tm_gmtoff;
}

time_t LocalWallTime(const CivilDate& date, int secondsOfDay) {
    // The wall time read as if it were UTC, then shifted by the offsets in effect a day
    // before and a day after: one of them is right unless the time falls into a gap.
    time_t asUtc = UtcMidnight(date) + secondsOfDay;
    long before = utcOffsetAt(asUtc - 86400);
    long after = utcOffsetAt(asUtc + 86400);
    time_t first = asUtc - before;
    time_t second = asUtc - after;
    bool firstShows = utcOffsetAt(first) == before;
    bool secondShows = utcOffsetAt(second) == after;
    if (firstShows && secondShows) {
        return first < second ? first : second;
    }
    if (firstShows) {
        return first;
    }
    if (secondShows) {
        return second;
    }
    return first; // in the gap: counted with the offset from before the change
}
