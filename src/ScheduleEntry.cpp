#include "ScheduleEntry.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "SunTimes.h"
#include "common.h"
#include "log.h"

namespace {

// jsoncpp throws when a member is read as the wrong type, so every read checks first.
bool readFlag(const Json::Value& v, const char* key, bool& out, std::string& error) {
    if (!v.isMember(key) || v[key].isNull()) {
        return true;
    }
    const Json::Value& x = v[key];
    if (x.isBool()) {
        out = x.asBool();
        return true;
    }
    if (x.isIntegral() && (x.asLargestInt() == 0 || x.asLargestInt() == 1)) {
        out = x.asLargestInt() == 1;
        return true;
    }
    error = std::string("\"") + key + "\" must be 0 or 1";
    return false;
}

bool readInt(const Json::Value& v, const char* key, int minValue, int maxValue, int& out, std::string& error) {
    if (!v.isMember(key) || v[key].isNull()) {
        return true;
    }
    const Json::Value& x = v[key];
    long long value = 0;
    if (x.isIntegral()) {
        value = x.asLargestInt();
    } else if (x.isString()) {
        // Web forms tend to store numbers as text.
        const std::string text = x.asString();
        char* end = nullptr;
        value = strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0') {
            error = std::string("\"") + key + "\" is not a whole number";
            return false;
        }
    } else {
        error = std::string("\"") + key + "\" is not a whole number";
        return false;
    }
    if (value < minValue || value > maxValue) {
        error = std::string("\"") + key + "\" is out of range";
        return false;
    }
    out = (int)value;
    return true;
}

bool readString(const Json::Value& v, const char* key, std::string& out, std::string& error) {
    if (!v.isMember(key) || v[key].isNull()) {
        return true;
    }
    if (!v[key].isString()) {
        error = std::string("\"") + key + "\" is not a text";
        return false;
    }
    out = v[key].asString();
    return true;
}

// "YYYY-MM-DD" with a real month and day; a year of 0000 gives MMDD (every year).
bool readDate(const std::string& text, int& out) {
    int value = DateStrToInt(text.c_str());
    if (value == 0 && text != "0000-00-00") {
        return false;
    }
    int year = value / 10000, month = (value / 100) % 100, day = value % 100;
    if (month < 1 || month > 12 || day < 1 || day > 31 || (year != 0 && year < 1970)) {
        return false;
    }
    out = value;
    return true;
}

const char* const kDayTexts[] = {"Sunday",     "Monday",     "Tuesday",   "Wednesday", "Thursday", "Friday",
                                 "Saturday",   "Everyday",   "Weekdays",  "Weekends",  "Mon/Wed/Fri",
                                 "Tues-Thurs", "Sun-Thurs",  "Fri/Sat",   "Odd Days",  "Even Days"};
const int kDayMasks[] = {0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01, 0x7F, 0x3E, 0x41, 0x2A, 0x14, 0x7C, 0x03};

} // namespace

std::string ScheduleEntry::GetDayTextFromDayIndex(int dayIndex) {
    if (dayIndex & CUSTOM_MASK) {
        if (dayIndex & ~(CUSTOM_MASK | 0x7F00)) {
            return "Error";
        }
        static const char letters[] = "SMTWTFS";
        std::string text = "Mask: ";
        for (int d = 0; d < 7; d++) {
            text += (dayIndex & (0x4000 >> d)) ? letters[d] : '-';
        }
        return text;
    }
    if (dayIndex >= 0 && dayIndex <= EVEN_DAYS) {
        return kDayTexts[dayIndex];
    }
    return "Error";
}

int ScheduleEntry::GetWeekdayMask(int dayIndex) {
    if (dayIndex & CUSTOM_MASK) {
        if (dayIndex & ~(CUSTOM_MASK | 0x7F00)) {
            return 0;
        }
        return (dayIndex >> 8) & 0x7F;
    }
    if (dayIndex >= 0 && dayIndex <= FRI_SAT) {
        return kDayMasks[dayIndex];
    }
    return 0;
}

long ScheduleEntry::OddEvenDayCount(const CivilDate& date) {
    return DaysFromCivil(date) - DaysFromCivil(CivilDate{2013, 7, 15});
}

bool ScheduleEntry::DaySelected(const CivilDate& date) const {
    if (IsOddEven(dayIndex)) {
        bool even = OddEvenDayCount(date) % 2 == 0;
        return even == (dayIndex == EVEN_DAYS);
    }
    return (GetWeekdayMask(dayIndex) & (0x40 >> Weekday(date))) != 0;
}

bool ScheduleEntry::ParseTimeText(const std::string& text, TimeKind& kind, int& secondsOfDay) {
    static const struct {
        const char* name;
        TimeKind kind;
    } names[] = {{"SunRise", SUNRISE}, {"SunSet", SUNSET}, {"Dawn", DAWN}, {"Dusk", DUSK}};
    for (const auto& n : names) {
        if (text == n.name) {
            kind = n.kind;
            secondsOfDay = 0;
            return true;
        }
    }
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') {
        return false;
    }
    for (int i : {0, 1, 3, 4, 6, 7}) {
        if (!isdigit((unsigned char)text[i])) {
            return false;
        }
    }
    int h = (text[0] - '0') * 10 + (text[1] - '0');
    int m = (text[3] - '0') * 10 + (text[4] - '0');
    int s = (text[6] - '0') * 10 + (text[7] - '0');
    if (h > 23 || m > 59 || s > 59) {
        return false;
    }
    kind = FIXED;
    secondsOfDay = h * 3600 + m * 60 + s;
    return true;
}

bool ScheduleEntry::LoadFromJson(const Json::Value& v, std::string& error) {
    if (!v.isObject()) {
        error = "not a JSON object";
        return false;
    }
    ScheduleEntry e;
    if (!readFlag(v, "enabled", e.enabled, error) || !readFlag(v, "sequence", e.sequence, error) ||
        !readString(v, "playlist", e.playlist, error) || !readString(v, "command", e.command, error) ||
        !readFlag(v, "multisyncCommand", e.multisyncCommand, error) ||
        !readString(v, "multisyncHosts", e.multisyncHosts, error) ||
        !readInt(v, "dayIndex", INT32_MIN, INT32_MAX, e.dayIndex, error) ||
        !readString(v, "startTime", e.startTimeStr, error) || !readString(v, "endTime", e.endTimeStr, error) ||
        !readInt(v, "startTimeOffset", -1440, 1440, e.startTimeOffset, error) ||
        !readInt(v, "endTimeOffset", -1440, 1440, e.endTimeOffset, error) ||
        !readFlag(v, "repeat", e.repeat, error) || !readInt(v, "stopType", 0, 2, e.stopType, error) ||
        !readString(v, "startDate", e.startDateStr, error) || !readString(v, "endDate", e.endDateStr, error)) {
        return false;
    }
    if (v.isMember("args") && !v["args"].isNull()) {
        if (!v["args"].isArray()) {
            error = "\"args\" is not an array";
            return false;
        }
        for (const auto& a : v["args"]) {
            if (!a.isString()) {
                error = "\"args\" holds something other than text";
                return false;
            }
        }
        e.args = v["args"];
    }
    if (e.playlist.empty() && e.command.empty()) {
        error = "names neither a playlist nor a command";
        return false;
    }
    if (!e.playlist.empty() && !e.command.empty()) {
        error = "names both a playlist and a command";
        return false;
    }
    if (GetDayTextFromDayIndex(e.dayIndex) == "Error" || (!IsOddEven(e.dayIndex) && GetWeekdayMask(e.dayIndex) == 0)) {
        error = "\"dayIndex\" " + std::to_string(e.dayIndex) + " selects no days";
        return false;
    }
    if (!ParseTimeText(e.startTimeStr, e.m_startKind, e.m_startSeconds)) {
        error = "\"startTime\" '" + e.startTimeStr + "' is not HH:MM:SS, SunRise, SunSet, Dawn or Dusk";
        return false;
    }
    if (e.IsPlaylist() || !e.endTimeStr.empty()) {
        if (!ParseTimeText(e.endTimeStr, e.m_endKind, e.m_endSeconds)) {
            error = "\"endTime\" '" + e.endTimeStr + "' is not HH:MM:SS, SunRise, SunSet, Dawn or Dusk";
            return false;
        }
    }
    if (e.startDateStr.empty() != e.endDateStr.empty()) {
        error = "gives only one of \"startDate\" and \"endDate\"";
        return false;
    }
    if (!e.startDateStr.empty()) {
        if (!readDate(e.startDateStr, e.startDate)) {
            error = "\"startDate\" '" + e.startDateStr + "' is not YYYY-MM-DD";
            return false;
        }
        if (!readDate(e.endDateStr, e.endDate)) {
            error = "\"endDate\" '" + e.endDateStr + "' is not YYYY-MM-DD";
            return false;
        }
        if (e.startDate >= 10000 && e.endDate >= 10000 && e.endDate < e.startDate) {
            error = "\"endDate\" is before \"startDate\"";
            return false;
        }
    }
    *this = std::move(e);
    return true;
}

Json::Value ScheduleEntry::GetJson() const {
    Json::Value v;
    v["enabled"] = enabled ? 1 : 0;
    v["sequence"] = sequence ? 1 : 0;
    v["playlist"] = playlist;
    v["command"] = command;
    v["args"] = args;
    v["multisyncCommand"] = multisyncCommand;
    v["multisyncHosts"] = multisyncHosts;
    v["dayIndex"] = dayIndex;
    v["startTime"] = startTimeStr;
    v["startTimeOffset"] = startTimeOffset;
    v["endTime"] = endTimeStr;
    v["endTimeOffset"] = endTimeOffset;
    v["repeat"] = repeat ? 1 : 0;
    v["stopType"] = stopType;
    v["startDate"] = startDateStr;
    v["endDate"] = endDateStr;
    return v;
}

bool ScheduleEntry::timeOn(const CivilDate& date, TimeKind kind, int secondsOfDay, int offsetMinutes,
                           const SchedulePlace& place, time_t& when) const {
    if (kind == FIXED) {
        when = LocalWallTime(date, secondsOfDay);
        return true;
    }
    if (!place.valid) {
        return false;
    }
    SunEvent event = kind == SUNRISE ? SunEvent::SunRise
                     : kind == SUNSET ? SunEvent::SunSet
                     : kind == DAWN   ? SunEvent::Dawn
                                      : SunEvent::Dusk;
    if (!SunEventTime(date, place.latitude, place.longitude, event, when)) {
        return false;
    }
    when += (time_t)offsetMinutes * 60;
    return true;
}

void ScheduleEntry::pushStartEndTimes(const CivilDate& sunday, int offset, int timeDelta, time_t threshold,
                                      const SchedulePlace& place) {
    CivilDate day = AddDays(sunday, offset);
    if (!DaySelected(day)) {
        return;
    }
    time_t start = 0, end = 0;
    if (!timeOn(day, m_startKind, m_startSeconds, startTimeOffset, place, start)) {
        LogWarn(kivlog::Schedule, "No %s on %04d-%02d-%02d for '%s'%s, occurrence skipped\n", startTimeStr.c_str(),
                day.year, day.month, day.day, IsPlaylist() ? playlist.c_str() : command.c_str(),
                place.valid ? "" : " (Latitude/Longitude not set)");
        return;
    }
    if (endTimeStr.empty()) {
        end = start; // a command entry runs at its start only
    } else {
        bool ok = timeOn(day, m_endKind, m_endSeconds, endTimeOffset, place, end);
        if (ok && end <= start) {
            ok = timeOn(AddDays(day, 1), m_endKind, m_endSeconds, endTimeOffset, place, end);
        }
        if (!ok || end <= start) {
            LogWarn(kivlog::Schedule, "No %s after %s on %04d-%02d-%02d for '%s', occurrence skipped\n",
                    endTimeStr.c_str(), startTimeStr.c_str(), day.year, day.month, day.day,
                    IsPlaylist() ? playlist.c_str() : command.c_str());
            return;
        }
    }
    if (start < threshold) {
        end += timeDelta;
    }
    auto pair = std::make_pair(start, end);
    if (std::find(startEndTimes.begin(), startEndTimes.end(), pair) == startEndTimes.end()) {
        startEndTimes.push_back(pair);
    }
}
