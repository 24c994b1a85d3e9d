// Clocks, date integers and texts of times.

#include "common.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sys/time.h>

#include "log.h"

long long GetTime() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    return (long long)now.tv_sec * 1000000LL + now.tv_usec;
}

long long GetTimeMicros() { return GetTime(); }

long long GetTimeMS() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    return (long long)now.tv_sec * 1000LL + now.tv_usec / 1000;
}

static int dateIntOf(time_t when) {
    struct tm local;
    localtime_r(&when, &local);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

int GetCurrentDateInt(int offsetDays) {
    return dateIntOf(time(nullptr) + (time_t)offsetDays * 86400);
}

int DateStrToInt(const char* text) {
    if (!text || strlen(text) != 10 || text[4] != '-' || text[7] != '-') {
        return 0;
    }
    int value = 0;
    for (int i = 0; i < 10; i++) {
        if (i == 4 || i == 7) {
            continue;
        }
        if (!isdigit((unsigned char)text[i])) {
            return 0;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

static bool compareRange(int start, int date, int end) {
    LogExcess(kivlog::General, "Actual compare is: %d (s) <= %d (c) <= %d (e)\n", start, date, end);
    return start <= date && date <= end;
}

// Days only (DD), wrapping over the end of a month when end < start.
static bool dayInRange(int date, int start, int end) {
    date %= 100;
    start %= 100;
    end %= 100;
    if (end >= start) {
        if (start == 0 && end == 0) {
            return true;
        }
        return compareRange(start, date, end);
    }
    if (date <= end) {
        date += 100;
    }
    end += 100;
    return compareRange(start, date, end);
}

bool DateInRange(int date, int start, int end) {
    LogExcess(kivlog::General, "DateInRange, checking if %d (s) <= %d (c) <= %d (e)\n", start, date, end);
    if (start >= 10000 && end >= 10000) {
        return compareRange(start, date, end);
    }
    // Without a year on both ends, compare month and day (MMDD) only.
    start %= 10000;
    end %= 10000;
    date %= 10000;
    if (start == 0 && end == 0) {
        return true;
    }
    if (end >= start) {
        if (start >= 100 && end >= 100) {
            return compareRange(start, date, end);
        }
        return dayInRange(date, start, end);
    }
    // The range wraps over the new year.
    if (start >= 100) {
        if (date <= end) {
            date += 10000;
        }
        end += 10000;
        return compareRange(start, date, end);
    }
    return dayInRange(date, start, end);
}

bool DateInRange(time_t when, int start, int end) { return DateInRange(dateIntOf(when), start, end); }

bool CurrentDateInRange(int start, int end) { return DateInRange(GetCurrentDateInt(0), start, end); }

// strftime gives no partial result, so grow the buffer until the text fits
// (a format that yields nothing at all stops at a sane size).
static std::string formatNow(const std::string& format) {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    if (format.empty()) {
        return "";
    }
    for (size_t size = 256; size <= 65536; size *= 4) {
        std::string buffer(size, '\0');
        size_t n = strftime(buffer.data(), size, format.c_str(), &local);
        if (n > 0) {
            buffer.resize(n);
            return buffer;
        }
    }
    return "";
}

std::string GetTimeStr(std::string format) { return formatNow(format); }

std::string GetDateStr(std::string format) { return formatNow(format); }

std::string secondsToTime(int seconds) {
    std::string result;
    char buffer[32];
    if (seconds > 86400) {
        int days = seconds / 86400;
        snprintf(buffer, sizeof(buffer), "%d%s", days, days == 1 ? " day, " : " days, ");
        result += buffer;
        seconds %= 86400;
    }
    if (seconds > 3600) {
        snprintf(buffer, sizeof(buffer), "%02d:", seconds / 3600);
        result += buffer;
        seconds %= 3600;
    }
    snprintf(buffer, sizeof(buffer), "%02d:%02d", seconds / 60, seconds % 60);
    result += buffer;
    return result;
}
