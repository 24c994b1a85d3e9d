#include "Scheduler.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "WarningHolder.h"
#include "common.h"
#include "log.h"
#include "settings.h"

Scheduler* scheduler = nullptr;

static const char* const kStartPlaylist = "Start Playlist";

ScheduledItem::ScheduledItem(const ScheduledItem& other) { *this = other; }

ScheduledItem& ScheduledItem::operator=(const ScheduledItem& other) {
    priority = other.priority;
    entry = nullptr;
    entryIndex = other.entryIndex;
    ran = other.ran;
    startTime = other.startTime;
    endTime = other.endTime;
    command = other.command;
    args = other.args;
    return *this;
}

static bool sameRun(const ScheduledItem& a, const ScheduledItem& b) {
    if (a.command != b.command || a.startTime != b.startTime || a.endTime != b.endTime ||
        a.args.size() != b.args.size()) {
        return false;
    }
    return a.args.size() == 0 || a.args[0] == b.args[0];
}

static std::string firstArg(const ScheduledItem& item) {
    return item.args.isArray() && item.args.size() > 0 && item.args[0].isString() ? item.args[0].asString() : "";
}

Scheduler::Scheduler(SchedulerPlayer* player, SchedulerActions* actions, Clock clock)
    : m_player(player), m_actions(actions), m_clock(clock ? std::move(clock) : Clock([] { return time(nullptr); })) {
    init();
}

Scheduler::~Scheduler() {
    if (m_unregisterCommands) {
        m_unregisterCommands();
    }
}

void Scheduler::init() {
    m_schedulerDisabled = getSettingInt("DisableScheduler", 0) == 1;
    if (m_schedulerDisabled && getKIVmode() == PLAYER_MODE) {
        WarningHolder::AddWarning("KIV Scheduler is disabled");
        LogWarn(kivlog::Schedule, "Scheduler is disabled!\n");
    }
    m_lastProcTime = m_clock();
    LoadScheduleFromFile();
}

SchedulePlace Scheduler::place() {
    SchedulePlace result;
    std::string lat = getSetting("Latitude", "");
    std::string lon = getSetting("Longitude", "");
    TrimWhiteSpace(lat);
    TrimWhiteSpace(lon);
    if (lat.empty() || lon.empty()) {
        return result;
    }
    char* endLat = nullptr;
    char* endLon = nullptr;
    result.latitude = strtod(lat.c_str(), &endLat);
    result.longitude = strtod(lon.c_str(), &endLon);
    result.valid = *endLat == '\0' && *endLon == '\0' && result.latitude >= -90 && result.latitude <= 90 &&
                   result.longitude >= -180 && result.longitude <= 180;
    if (!result.valid) {
        LogWarn(kivlog::Schedule, "Latitude '%s' / Longitude '%s' are not a place on the globe\n", lat.c_str(),
                lon.c_str());
    }
    return result;
}

std::string Scheduler::timeText(time_t when) {
    std::string dateFormat = getSetting("DateFormat", "");
    std::string timeFormat = getSetting("TimeFormat", "");
    if (dateFormat.empty()) {
        dateFormat = "%Y-%m-%d";
    }
    if (timeFormat.empty()) {
        timeFormat = "%H:%M:%S";
    }
    std::string format = dateFormat + " @ " + timeFormat;
    struct tm local;
    localtime_r(&when, &local);
    char buffer[32];
    size_t n = strftime(buffer, sizeof(buffer), format.c_str(), &local);
    return std::string(buffer, n);
}

// ---- Loading -----------------------------------------------------------------------------

void Scheduler::ReloadScheduleFile() {
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    m_loadSchedule = true;
}

bool Scheduler::checkEntryFile(ScheduleEntry* entry) {
    const char* kind = entry->sequence ? "Sequence" : "Playlist";
    std::string path = entry->sequence ? getKIVMediaDir("/sequences/" + entry->playlist)
                                       : getKIVMediaDir("/playlists/" + entry->playlist + ".json");
    std::string warning = std::string("Scheduled ") + kind + " '" + entry->playlist + "' does not exist";
    if (!FileExists(path)) {
        LogErr(kivlog::Schedule, "ERROR: Scheduled %s '%s' does not exist\n", kind, entry->playlist.c_str());
        WarningHolder::AddWarning(warning);
        return false;
    }
    WarningHolder::RemoveWarning(warning);
    return true;
}

void Scheduler::LoadScheduleFromFile() {
    std::string path = getKIVMediaDir("/config/schedule.json");
    LogDebug(kivlog::Schedule, "Loading Schedule from %s\n", path.c_str());
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    m_loadSchedule = false;
    m_lastLoadDate = DateIntOf(LocalDateOf(m_clock()));
    m_scheduledItems.clear();
    m_Schedule.clear();
    // Entries may be renumbered by the new file: an index kept from before could name
    // another playlist. What was pre-empted stays armed through m_ranItems instead.
    m_forcedNextPlaylist = -1;
    for (const auto& w : m_entryWarnings) {
        WarningHolder::RemoveWarning(w);
    }
    m_entryWarnings.clear();

    Json::Value root(Json::arrayValue);
    if (FileExists(path)) {
        if (!LoadJsonFromFile(path, root) || !root.isArray()) {
            LogErr(kivlog::Schedule, "Schedule file %s is not a JSON array; no entries loaded\n", path.c_str());
            std::string w = "Schedule file config/schedule.json could not be read";
            WarningHolder::AddWarning(w);
            m_entryWarnings.insert(w);
            root = Json::Value(Json::arrayValue);
        }
    }
    for (Json::ArrayIndex i = 0; i < root.size(); i++) {
        auto entry = std::make_unique<ScheduleEntry>();
        std::string error;
        if (!entry->LoadFromJson(root[i], error)) {
            std::string name;
            if (root[i].isObject()) {
                for (const char* key : {"playlist", "command"}) {
                    if (root[i][key].isString() && !root[i][key].asString().empty()) {
                        name = " ('" + root[i][key].asString() + "')";
                        break;
                    }
                }
            }
            std::string w = "Schedule entry " + std::to_string(i + 1) + name + " skipped: " + error;
            LogErr(kivlog::Schedule, "%s\n", w.c_str());
            WarningHolder::AddWarning(w);
            m_entryWarnings.insert(w);
            continue;
        }
        if (entry->enabled && entry->IsPlaylist() && !checkEntryFile(entry.get())) {
            continue;
        }
        m_Schedule.push_back(std::move(entry));
    }
    for (size_t i = 0; i < m_Schedule.size(); i++) {
        AddScheduledItems(m_Schedule[i].get(), (int)i);
    }
    SchedulePrint();
    if (WillLog(LOG_LEVEL_EXCESS, kivlog::Schedule)) {
        DumpScheduledItems();
    }
}

bool Scheduler::findRanItem(const ScheduledItem& item, bool& ran) {
    auto it = m_ranItems.find(item.startTime);
    if (it == m_ranItems.end()) {
        return false;
    }
    for (const auto& copy : it->second) {
        if (sameRun(copy, item)) {
            ran = copy.ran;
            return true;
        }
    }
    return false;
}

void Scheduler::AddScheduledItems(ScheduleEntry* entry, int index) {
    if (!entry->enabled) {
        return;
    }
    if (entry->IsPlaylist() && !checkEntryFile(entry)) {
        entry->enabled = false;
        return;
    }
    time_t now = m_clock();
    CivilDate today = LocalDateOf(now);
    int todayOffset = Weekday(today);
    CivilDate sunday = AddDays(today, -todayOffset);
    SchedulePlace where = place();
    if (!where.valid && entry->UsesSunTimes()) {
        std::string w = "Schedule entries with sun times need the settings Latitude and Longitude";
        WarningHolder::AddWarning(w);
        m_entryWarnings.insert(w);
    }
    entry->startEndTimes.clear();
    auto push = [&](int offset) { entry->pushStartEndTimes(sunday, offset, m_timeDelta, m_timeDeltaThreshold, where); };

    if (ScheduleEntry::IsOddEven(entry->dayIndex)) {
        bool todayEven = ScheduleEntry::OddEvenDayCount(today) % 2 == 0;
        bool yesterdayIn = entry->dayIndex == ScheduleEntry::EVEN_DAYS ? !todayEven : todayEven;
        int first = todayOffset;
        if (yesterdayIn) {
            push(todayOffset - 1);
            first = todayOffset + 1;
        }
        for (int offset = first; offset <= 35; offset += 2) {
            push(offset);
        }
    } else {
        int distance = getSettingInt("ScheduleDistance", 0);
        for (int week = 0; distance >= 0 && week <= distance; week += 7) {
            for (int d = 0; d < 7; d++) {
                push(week + d);
            }
        }
    }
    if (todayOffset == 0) {
        push(-1); // Saturday's evening may run past midnight into today
    }

    for (const auto& [start, end] : entry->startEndTimes) {
        if (!DateInRange(DateIntOf(LocalDateOf(start)), entry->startDate, entry->endDate)) {
            continue;
        }
        auto item = std::make_unique<ScheduledItem>();
        item->priority = index;
        item->entryIndex = index;
        item->entry = entry;
        item->startTime = start;
        item->endTime = end;
        if (entry->IsPlaylist()) {
            item->command = kStartPlaylist;
            item->args = Json::Value(Json::arrayValue);
            item->args.append(entry->playlist);
            item->args.append(entry->repeat ? "true" : "false");
            item->args.append("false");
            bool ran = false;
            if (findRanItem(*item, ran)) {
                LogDebug(kivlog::Schedule, "Marking playlist item as already ran:\n");
                DumpScheduledItem(*item);
                item->ran = ran;
            }
        } else {
            item->command = entry->command;
            item->args = entry->args;
        }
        m_scheduledItems[start].push_back(std::move(item));
    }
}

// ---- Ran records -------------------------------------------------------------------------

void Scheduler::SetItemRan(ScheduledItem* item, bool ran) {
    item->ran = ran;
    auto& copies = m_ranItems[item->startTime];
    for (auto& copy : copies) {
        if (sameRun(copy, *item)) {
            copy.ran = ran;
            return;
        }
    }
    copies.push_back(*item);
}

// ---- The tick ----------------------------------------------------------------------------

void Scheduler::ScheduleProc() {
    time_t now = m_clock();
    if (now == m_lastProcTime) {
        return;
    }
    time_t previous = m_lastProcTime;
    m_lastProcTime = now;
    if (DateIntOf(LocalDateOf(now)) != m_lastLoadDate || now - previous > 5 || previous - now > 5) {
        std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
        m_loadSchedule = true;
        for (auto it = m_ranItems.begin(); it != m_ranItems.end();) {
            it = it->first < now - 172800 ? m_ranItems.erase(it) : std::next(it);
        }
    }
    runChecks(false, true);
}

Scheduler::PlayerState Scheduler::readPlayer() {
    PlayerState p;
    p.status = m_player->GetStatus();
    if (p.status == 0) {
        return p;
    }
    p.scheduled = m_player->WasScheduled();
    p.name = m_player->GetPlaylistName();
    p.repeat = m_player->GetRepeat() != 0;
    p.priority = m_player->GetPriority();
    p.entry = m_player->GetScheduleEntry();
    p.stopMethod = m_player->GetStopMethod();
    p.scheduledStart = m_player->GetScheduledStartTime();
    p.actualStart = m_player->GetActualStartTime();
    p.scheduledEnd = m_player->GetScheduledEndTime();
    p.actualEnd = m_player->GetActualEndTime();
    return p;
}

void Scheduler::runChecks(bool restarted, bool reload) {
    Actions actions;
    {
        PlayerState player = readPlayer();
        std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
        if (reload && m_loadSchedule) {
            LoadScheduleFromFile();
        }
        actions = CheckScheduledItems(restarted, player);
    }
    runActions(actions);
    if (actions.stop.kind != StopRequest::NONE && m_player->GetStatus() == 0) {
        // A player that stops at once lets the winner start in this same second; one that
        // winds down slowly gets it on the first check after it is idle.
        PlayerState player = readPlayer();
        {
            std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
            actions = CheckScheduledItems(restarted, player);
        }
        runActions(actions);
    }
    firePendingPresets();
}

void Scheduler::runActions(const Actions& actions) {
    issueStop(actions.stop);
    if (actions.start) {
        const StartRequest& r = *actions.start;
        if (!m_player->StartScheduledPlaylist(r.name, r.position, r.repeat ? 1 : 0, r.entryIndex, r.entryIndex,
                                              r.startTime, r.endTime, r.stopType)) {
            LogErr(kivlog::Schedule, "Could not start scheduled playlist '%s'\n", r.name.c_str());
        }
    }
}

void Scheduler::firePendingPresets() {
    std::vector<std::pair<std::string, std::string>> presets;
    {
        std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
        presets.swap(m_pendingPresets);
    }
    // Outside the lock: preset commands run on this thread and may take their time.
    for (const auto& [name, playlist] : presets) {
        std::map<std::string, std::string> keywords{{"PLAYLIST_NAME", playlist}};
        m_actions->TriggerPreset(name, keywords);
    }
}

void Scheduler::issueStop(const StopRequest& stop) {
    switch (stop.kind) {
    case StopRequest::GRACEFUL:
        m_player->StopGracefully(stop.force, 0);
        break;
    case StopRequest::AFTER_LOOP:
        m_player->StopGracefully(stop.force, 1);
        break;
    case StopRequest::NOW:
        m_player->StopNow(stop.force);
        break;
    case StopRequest::NONE:
        break;
    }
}

Scheduler::Actions Scheduler::CheckScheduledItems(bool restarted, const PlayerState& player) {
    Actions actions;
    StopRequest& stop = actions.stop;
    if (m_schedulerDisabled) {
        return actions;
    }
    time_t now = m_clock();
    int status = player.status;
    bool scheduled = status != 0 && player.scheduled;
    const std::string& running = player.name;
    auto stopRunning = [&]() {
        StopRequest r;
        if (!scheduled) {
            r.kind = StopRequest::NOW;
            r.force = 1;
            return r;
        }
        int method = player.stopMethod;
        r.kind = method == 1 ? StopRequest::NOW : method == 2 ? StopRequest::AFTER_LOOP : StopRequest::GRACEFUL;
        r.force = player.actualEnd < player.scheduledEnd ? 1 : 0;
        return r;
    };

    // A scheduled playlist past its (possibly extended) end is wound down by its stop
    // method, whether or not the player watches the clock itself.
    if (status == 1 && scheduled && player.actualEnd > 0 && now >= player.actualEnd) {
        LogDebug(kivlog::Schedule, "Scheduled playlist '%s' reached its end time, stopping\n", running.c_str());
        stop = stopRunning();
    }

    ScheduledItem* candidate = nullptr;
    for (auto& [start, items] : m_scheduledItems) {
        if (start > now) {
            break;
        }
        for (auto& itemPtr : items) {
            ScheduledItem* item = itemPtr.get();
            if (item->ran) {
                continue;
            }
            if (item->command != kStartPlaylist) {
                if (item->startTime < now) {
                    SetItemRan(item, true); // commands run only in their own second
                    continue;
                }
                LogDebug(kivlog::Schedule, "Running scheduled item:\n");
                DumpScheduledItem(*item);
                Json::Value cmd;
                cmd["command"] = item->command;
                cmd["args"] = item->args;
                cmd["multisyncCommand"] = item->entry ? item->entry->multisyncCommand : false;
                cmd["multisyncHosts"] = item->entry ? item->entry->multisyncHosts : "";
                m_actions->RunCommand(cmd);
                SetItemRan(item, true);
                continue;
            }

            LogDebug(kivlog::Schedule, "Checking scheduled 'Start Playlist'\n");
            DumpScheduledItem(*item);
            if (now >= item->endTime) {
                SetItemRan(item, true);
                continue;
            }
            std::string name = firstArg(*item);
            bool repeat = item->entry ? item->entry->repeat : false;
            int stopType = item->entry ? item->entry->stopType : 0;
            // Not while it winds down: a pre-empted playlist stays armed to resume later.
            bool windingDown = status == 2 || status == 3 || status == 4;
            if (scheduled && !windingDown && player.scheduledStart == item->startTime &&
                running == name) {
                SetItemRan(item, true);
                continue;
            }
            if (status == 1 && scheduled && running == name && player.repeat == repeat &&
                (player.scheduledEnd == item->endTime || player.actualEnd == item->endTime) &&
                player.stopMethod == stopType) {
                SetItemRan(item, true);
                continue;
            }
            if (status == 1) {
                if (scheduled && player.priority <= item->priority) {
                    continue;
                }
                if (stop.kind == StopRequest::NONE) {
                    if (scheduled) {
                        // Re-arm the loser so that it resumes when the winner ends within its time.
                        auto it = m_scheduledItems.find(player.scheduledStart);
                        if (it != m_scheduledItems.end()) {
                            for (auto& other : it->second) {
                                if (other->command == kStartPlaylist && firstArg(*other) == running) {
                                    SetItemRan(other.get(), false);
                                    m_forcedNextPlaylist = other->entryIndex;
                                }
                            }
                        }
                    }
                    LogDebug(kivlog::Schedule, "Pre-empting '%s' for '%s'\n", running.c_str(), name.c_str());
                    stop = stopRunning();
                }
                continue; // starts once the player is idle, before anything re-armed
            }
            if (status != 0) {
                continue;
            }
            if (!candidate || item->priority < candidate->priority) {
                candidate = item;
            }
        }
    }

    if (candidate) {
        std::string name = firstArg(*candidate);
        LogDebug(kivlog::Schedule, "Starting Scheduled Playlist:\n");
        DumpScheduledItem(*candidate);
        int position = 0;
        if (restarted && getSetting("resumePlaylist", "") == name) {
            position = getSettingInt("resumePosition", 0);
            SetSetting("resumePlaylist", "");
            SetSetting("resumePosition", 0);
        }
        const ScheduleEntry* e = candidate->entry;
        StartRequest r;
        r.name = name;
        r.position = position;
        r.repeat = e && e->repeat;
        r.entryIndex = candidate->entryIndex;
        r.startTime = candidate->startTime;
        r.endTime = candidate->endTime;
        r.stopType = e ? e->stopType : 0;
        actions.start = r;
        if (candidate->entryIndex == m_forcedNextPlaylist) {
            m_forcedNextPlaylist = -1;
        }
        SetItemRan(candidate, true);
    }
    countdown(now);
    return actions;
}

void Scheduler::countdown(time_t now) {
    auto it = m_scheduledItems.upper_bound(now);
    if (it == m_scheduledItems.end() || m_lastCountdownAt == now) {
        return;
    }
    long d = (long)(it->first - now);
    bool announce = d <= 10 || (d <= 60 && d % 10 == 0) || (d <= 300 && d % 60 == 0) || (d > 300 && d % 300 == 0);
    if (!announce) {
        return;
    }
    m_lastCountdownAt = now;
    LogDebug(kivlog::Schedule, "Scheduled Item%s running in %d second%s:\n", it->second.size() > 1 ? "s" : "",
             (int)d, d == 1 ? "" : "s");
    for (const auto& item : it->second) {
        DumpScheduledItem(*item);
        if (item->command == kStartPlaylist && !item->ran && d < 1000) {
            char name[40];
            snprintf(name, sizeof(name), "PLAYLIST_START_TMINUS_%03d", (int)d);
            m_pendingPresets.emplace_back(name, firstArg(*item));
        }
    }
}

void Scheduler::CheckIfShouldBePlayingNow(int force, int ignoreEntryIndex) {
    if (m_schedulerDisabled) {
        return;
    }
    LogDebug(kivlog::Schedule, "CheckIfShouldBePlayingNow(%d, %d)\n", force, ignoreEntryIndex);
    bool restarted = getSettingInt("restarted", 0) == 1;
    {
        PlayerState player = readPlayer();
        std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
        time_t now = m_clock();
        int status = player.status;
        const std::string& running = player.name;
        bool forcedUsed = false;
        for (auto& [start, items] : m_scheduledItems) {
            if (start > now) {
                break;
            }
            for (auto& item : items) {
                LogExcess(kivlog::Schedule, "Checking scheduled items:\n");
                if (WillLog(LOG_LEVEL_EXCESS, kivlog::Schedule)) {
                    DumpScheduledItem(*item);
                }
                if (item->command != kStartPlaylist) {
                    continue;
                }
                if (item->endTime <= now) {
                    LogExcess(kivlog::Schedule, "End time is in the past, skipping item\n");
                    continue;
                }
                bool forced = force != 0;
                if (item->entryIndex == m_forcedNextPlaylist) {
                    LogExcess(kivlog::Schedule, "This item entry index == m_forcedNextPlaylist\n");
                    forced = true;
                    forcedUsed = true;
                }
                if (status != 0 && running == firstArg(*item)) {
                    continue;
                }
                if (item->entryIndex != ignoreEntryIndex && (forced || (item->entry && item->entry->repeat))) {
                    LogExcess(kivlog::Schedule, "Item run status reset\n");
                    SetItemRan(item.get(), false);
                }
            }
        }
        if (forcedUsed) {
            m_forcedNextPlaylist = -1;
        }
        LogExcess(kivlog::Schedule, "Done checking list, proceeding to call CheckScheduledItems()\n");
    }
    // The walk and the stop it may ask for, with the lock released around the stop.
    runChecks(restarted, false);
}

// ---- Queries -----------------------------------------------------------------------------

bool Scheduler::GetNextScheduledPlaylist(ScheduledItem& out) {
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    for (const auto& [start, items] : m_scheduledItems) {
        for (const auto& item : items) {
            if (item->command == kStartPlaylist && !item->ran) {
                out = *item;
                out.entry = item->entry;
                return true;
            }
        }
    }
    return false;
}

std::string Scheduler::GetNextPlaylistName() {
    if (m_schedulerDisabled) {
        return "Scheduler is disabled.";
    }
    ScheduledItem item;
    if (!GetNextScheduledPlaylist(item)) {
        return "No playlist scheduled.";
    }
    return firstArg(item);
}

std::string Scheduler::GetNextPlaylistStartStr() {
    if (m_schedulerDisabled) {
        return "";
    }
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    ScheduledItem item;
    if (!GetNextScheduledPlaylist(item)) {
        return "";
    }
    return timeText(item.startTime) + " - (" +
           ScheduleEntry::GetDayTextFromDayIndex(item.entry ? item.entry->dayIndex : -1) + ")";
}

std::string Scheduler::GetPlaylistThatShouldBePlaying(int& repeat) {
    repeat = 0;
    if (m_schedulerDisabled) {
        return "";
    }
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    time_t now = m_clock();
    for (const auto& [start, items] : m_scheduledItems) {
        if (start > now) {
            break;
        }
        for (const auto& item : items) {
            if (item->command == kStartPlaylist && item->endTime > now) {
                repeat = item->entry && item->entry->repeat ? 1 : 0;
                return firstArg(*item);
            }
        }
    }
    return "";
}

bool Scheduler::StartNextScheduledItemNow() {
    // Called from HTTP threads: the player is stopped and started with the schedule lock
    // released (see PlayerSnapshot), the item marked ran under it first so that the tick
    // does not start it as well.
    ScheduledItem next;
    bool repeat = false;
    int stopType = 0;
    {
        std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
        ScheduledItem* live = nullptr;
        for (auto& [start, items] : m_scheduledItems) {
            for (auto& item : items) {
                if (!live && item->command == kStartPlaylist && !item->ran) {
                    live = item.get();
                }
            }
        }
        if (!live) {
            return false;
        }
        next = *live; // without the entry, which a reload may delete
        repeat = live->entry && live->entry->repeat;
        stopType = live->entry ? live->entry->stopType : 0;
        SetItemRan(live, true);
        LogDebug(kivlog::Schedule, "Force-Starting next scheduled playlist now:\n");
        DumpScheduledItem(*live);
    }
    if (m_player->GetStatus() != 0) {
        LogDebug(kivlog::Schedule, "Force-Stopping running playlist\n");
        m_player->StopNow(1);
    }
    return m_player->StartScheduledPlaylist(firstArg(next), 0, repeat ? 1 : 0, next.entryIndex, next.entryIndex,
                                            m_clock(), next.endTime, stopType) != 0;
}

void Scheduler::SetTimeDelta(int seconds, int window) {
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    m_timeDelta += seconds;
    m_timeDeltaThreshold = m_clock() + window;
    m_loadSchedule = true;
}

// Whole decimal numbers only: "300", "-60".
static bool parseSeconds(const std::string& text, int& out) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long value = strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    out = (int)value;
    return true;
}

SchedulerCommandResult Scheduler::RunExtendSchedule(const std::vector<std::string>& args) {
    if (args.empty()) {
        return {true, "Command needs at least 1 argument, found " + std::to_string(args.size())};
    }
    int seconds = 0, limit = 0;
    if (!parseSeconds(args[0], seconds) || (args.size() > 1 && !parseSeconds(args[1], limit))) {
        return {true, "Extend Schedule needs whole numbers of seconds"};
    }
    if (m_player->AdjustPlaylistStopTime(seconds) == 0) {
        return {true, "Error extending Schedule"};
    }
    if (args.size() > 1 && limit != 0) {
        SetTimeDelta(seconds, limit);
    }
    return {false, "Schedule Updated"};
}

SchedulerCommandResult Scheduler::RunStartNextScheduledItem() {
    if (StartNextScheduledItemNow()) {
        return {false, "Next scheduled item started"};
    }
    return {true, "Unable to start next scheduled item"};
}

Json::Value Scheduler::GetSchedule() {
    PlayerState player = readPlayer();
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    Json::Value result;
    result["enabled"] = m_schedulerDisabled ? 0 : 1;
    Json::Value entries(Json::arrayValue);
    for (size_t i = 0; i < m_Schedule.size(); i++) {
        Json::Value e = m_Schedule[i]->GetJson();
        e["id"] = (int)i;
        e["type"] = m_Schedule[i]->IsPlaylist() ? "playlist" : "command";
        e["dayStr"] = ScheduleEntry::GetDayTextFromDayIndex(m_Schedule[i]->dayIndex);
        entries.append(e);
    }
    result["entries"] = entries;

    Json::Value items(Json::arrayValue);
    if (player.status != 0 && player.scheduled) {
        Json::Value cur;
        cur["priority"] = player.priority;
        cur["id"] = player.entry;
        cur["startTime"] = (Json::Int64)player.scheduledStart;
        cur["startTimeStr"] = timeText(player.scheduledStart);
        cur["endTime"] = (Json::Int64)player.actualEnd;
        cur["endTimeStr"] = timeText(player.actualEnd);
        cur["command"] = kStartPlaylist;
        cur["args"].append(player.name);
        items.append(cur);
    }
    for (const auto& [start, list] : m_scheduledItems) {
        for (const auto& item : list) {
            if (item->ran) {
                continue;
            }
            Json::Value v;
            v["priority"] = item->priority;
            v["id"] = item->entryIndex;
            v["startTime"] = (Json::Int64)item->startTime;
            v["startTimeStr"] = timeText(item->startTime);
            v["endTime"] = (Json::Int64)item->endTime;
            v["endTimeStr"] = timeText(item->endTime);
            v["command"] = item->command;
            v["args"] = item->args;
            v["multisyncCommand"] = item->entry ? item->entry->multisyncCommand : false;
            v["multisyncHosts"] = item->entry ? item->entry->multisyncHosts : "";
            items.append(v);
        }
    }
    result["items"] = items;
    return result;
}

Json::Value Scheduler::GetInfo() {
    PlayerState player = readPlayer();
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    Json::Value info;
    Json::Value next;
    next["playlistName"] = GetNextPlaylistName();
    next["scheduledStartTime"] = 0;
    next["scheduledStartTimeStr"] = GetNextPlaylistStartStr();
    info["nextPlaylist"] = next;
    info["enabled"] = m_schedulerDisabled ? 0 : 1;
    int status = player.status;
    if (status != 1 && status != 2 && status != 3) {
        info["status"] = "idle";
        return info;
    }
    info["currentPlaylist"]["playlistName"] = player.name;
    if (!player.scheduled) {
        info["status"] = "manual";
        return info;
    }
    time_t now = m_clock();
    auto put = [&](const char* key, time_t when) {
        info["currentPlaylist"][key] = (Json::Int64)when;
        info["currentPlaylist"][std::string(key) + "Str"] = timeText(when);
    };
    put("currentTime", now);
    put("scheduledStartTime", player.scheduledStart);
    put("actualStartTime", player.actualStart);
    put("scheduledEndTime", player.scheduledEnd);
    put("actualEndTime", player.actualEnd);
    info["currentPlaylist"]["secondsRemaining"] = (Json::Int64)(player.actualEnd - now);
    int stopType = player.stopMethod;
    info["currentPlaylist"]["stopType"] = stopType;
    info["currentPlaylist"]["stopTypeStr"] = stopType == 2 ? "Graceful Loop" : stopType == 1 ? "Hard" : "Graceful";
    info["status"] = "playing";
    return info;
}

// ---- Log tables --------------------------------------------------------------------------

void Scheduler::SchedulePrint() {
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    if (m_schedulerDisabled) {
        LogInfo(kivlog::Schedule, "WARNING: Scheduler is currently disabled\n");
    }
    LogInfo(kivlog::Schedule, "Current Schedule: (Status: '+' = Enabled, '-' = Disabled, '!' = Outside Date Range, "
                              "'*' = Repeat, Stop (G)raceful/(L)oop/(H)ard\n");
    LogInfo(kivlog::Schedule, "Stat Start & End Dates       Days          Start & End Times   Playlist/Command\n");
    LogInfo(kivlog::Schedule, "---- ----------------------- ------------- ------------------- "
                              "---------------------------------------------\n");
    int today = DateIntOf(LocalDateOf(m_clock()));
    for (const auto& e : m_Schedule) {
        bool playlist = e->IsPlaylist();
        LogInfo(kivlog::Schedule, "%c%c%c%c %04d-%02d-%02d - %04d-%02d-%02d %-13.13s %-8.8s %c %-8.8s %s\n",
                e->enabled ? '+' : '-', DateInRange(today, e->startDate, e->endDate) ? ' ' : '!',
                e->repeat ? '*' : ' ', e->stopType == 0 ? 'G' : e->stopType == 1 ? 'H' : 'L', e->startDate / 10000,
                (e->startDate / 100) % 100, e->startDate % 100, e->endDate / 10000, (e->endDate / 100) % 100,
                e->endDate % 100, ScheduleEntry::GetDayTextFromDayIndex(e->dayIndex).c_str(),
                e->startTimeStr.c_str(), playlist ? '-' : ' ', playlist ? e->endTimeStr.c_str() : "",
                playlist ? e->playlist.c_str() : e->command.c_str());
    }
    LogDebug(kivlog::Schedule, "//////////////////////////////////////////////////\n");
}

void Scheduler::DumpScheduledItem(const ScheduledItem& item) {
    if (!WillLog(LOG_LEVEL_DEBUG, kivlog::Schedule)) {
        return;
    }
    char when[32] = "";
    time_t start = item.startTime;
    ctime_r(&start, when);
    when[strcspn(when, "\n")] = '\0';
    std::string args;
    if (item.args.isArray()) {
        for (const auto& a : item.args) {
            args += "\"" + (a.isString() ? a.asString() : SaveJsonToString(a)) + "\" ";
        }
    }
    LogDebug(kivlog::Schedule, "%s: %2d '%s' - '%s'\n", when, item.priority, item.command.c_str(), args.c_str());
}

void Scheduler::DumpScheduledItems() {
    std::lock_guard<std::recursive_mutex> lk(m_scheduleLock);
    LogDebug(kivlog::Schedule, "DumpScheduledItems()\n");
    for (const auto& [start, items] : m_scheduledItems) {
        for (const auto& item : items) {
            DumpScheduledItem(*item);
        }
    }
}
