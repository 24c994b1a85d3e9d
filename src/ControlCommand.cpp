#include "ControlCommand.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <json/json.h>

#include "ChannelTester.h"
#include "ExtGPIO.h"
#include "Player.h"
#include "Scheduler.h"
#include "Sequence.h"
#include "WarningHolder.h"
#include "commands/CommandManager.h"
#include "common.h"
#include "effects.h"
#include "log.h"
#include "settings.h"

namespace {

ControlSocketHooks hooks;
std::atomic<long> startTime{0};
int m_localOverride = 0;
// Stands in for the media output's volume while no hook is set.
std::atomic<int> rememberedVolume{70};

// Only the first 63 characters of a keyword count (and are echoed back).
constexpr size_t KEYWORD_MAX = 63;

// One request split into fields. Each field is its own string, so no length or count of
// fields can overrun anything; the whole request is already cut to CONTROL_REQUEST_MAX.
struct Request {
    std::string text;
    std::string keyword;
    std::vector<std::string> args;

    // The argument at i is there and not empty.
    bool has(size_t i) const { return i < args.size() && !args[i].empty(); }
    const std::string& arg(size_t i) const {
        static const std::string none;
        return i < args.size() ? args[i] : none;
    }
};

Request splitRequest(std::string_view text) {
    Request r;
    r.text.assign(text);
    size_t start = 0;
    std::vector<std::string> fields;
    while (true) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            // A trailing "," ends the request without adding an empty field.
            if (start < text.size() || fields.empty()) {
                fields.emplace_back(text.substr(start));
            }
            break;
        }
        fields.emplace_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    r.keyword = fields[0].substr(0, KEYWORD_MAX);
    r.args.assign(fields.begin() + 1, fields.end());
    return r;
}

// A decimal integer that fills the whole field; anything else (text, a number followed by
// text, a value outside int) reads as 0.
bool parseNumber(const std::string& s, int& value) {
    const char* b = s.data();
    const char* e = b + s.size();
    if (b != e && *b == '+') {
        b++;
    }
    int v = 0;
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e || b == e) {
        return false;
    }
    value = v;
    return true;
}

int number(const std::string& s) {
    int v = 0;
    return parseNumber(s, v) ? v : 0;
}

// printf into the reply: snprintf stops at CONTROL_REPLY_MAX characters.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[CONTROL_REPLY_MAX + 1];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    return n < 0 ? std::string() : std::string(buf);
}

// "%d,%d,<message>,,,,,,,,,,\n": the common reply of mode, success flag and message.
std::string line(int ok, const char* message) {
    return format("%d,%d,%s,,,,,,,,,,\n", getKIVmode(), ok, message);
}

const Json::Value& member(const Json::Value& v, const char* key) {
    static const Json::Value null;
    if (!v.isObject()) {
        return null;
    }
    const Json::Value* m = v.find(key, key + strlen(key));
    return m ? *m : null;
}

std::string text(const Json::Value& v) {
    return v.isString() || v.isNumeric() || v.isBool() ? v.asString() : std::string();
}

int integer(const Json::Value& v) {
    if (v.isBool()) {
        return v.asBool() ? 1 : 0;
    }
    if (!v.isNumeric()) {
        return 0;
    }
    double d = v.asDouble();
    if (!(d > -2147483648.0 && d < 2147483648.0)) {
        return 0;
    }
    return (int)d;
}

// The scheduler calls go to the hooks when set (tests), else to the daemon's scheduler.
std::string nextPlaylistName() {
    return hooks.nextPlaylistName ? hooks.nextPlaylistName() : scheduler ? scheduler->GetNextPlaylistName() : "";
}
std::string nextPlaylistStart() {
    return hooks.nextPlaylistStart ? hooks.nextPlaylistStart() : scheduler ? scheduler->GetNextPlaylistStartStr() : "";
}
std::string playlistThatShouldBePlaying(int& repeat) {
    repeat = 0;
    if (hooks.playlistThatShouldBePlaying) {
        return hooks.playlistThatShouldBePlaying(repeat);
    }
    return scheduler ? scheduler->GetPlaylistThatShouldBePlaying(repeat) : "";
}
void startScheduledPlaylist() {
    if (hooks.startScheduledPlaylist) {
        hooks.startScheduledPlaylist();
    } else if (scheduler) {
        scheduler->CheckIfShouldBePlayingNow(1, -1);
    }
}
void reloadSchedule() {
    if (hooks.reloadSchedule) {
        hooks.reloadSchedule();
    } else if (scheduler) {
        scheduler->ReloadScheduleFile();
    }
}

int volume() { return hooks.getVolume ? hooks.getVolume() : rememberedVolume.load(); }

bool sequencePlaying() { return sequence && sequence->IsSequenceRunning(); }
std::string sequenceName() { return sequence ? sequence->GetSequenceName() : std::string(); }
int sequenceSeconds(bool remaining) {
    if (!sequence) {
        return 0;
    }
    return (remaining ? sequence->seqMSRemaining.load() : sequence->seqMSElapsed.load()) / 1000;
}

// The status line ("s").
std::string status() {
    std::string nextName = nextPlaylistName();
    std::string nextStart = nextPlaylistStart();
    m_localOverride = getSettingInt("localOverride", 0);
    const int mode = getKIVmode();
    const int state = Player::INSTANCE.GetStatus();

    if (state != Player::IDLE) {
        Json::Value info = Player::INSTANCE.GetInfo();
        Json::Value current = member(info, "currentEntry");
        if (current.isObject() && current.isMember("dynamic")) {
            current = member(current, "dynamic");
        }
        std::string type = text(member(current, "type"));
        std::string seqName, mediaName;
        int elapsed = 0, remaining = 0;
        if (type == "sequence") {
            seqName = text(member(current, "sequenceName"));
            elapsed = sequenceSeconds(false);
            remaining = sequenceSeconds(true);
        } else if (type == "both") {
            const Json::Value& media = member(current, "media");
            seqName = text(member(member(current, "sequence"), "sequenceName"));
            mediaName = text(member(media, "mediaFilename"));
            elapsed = integer(member(media, "secondsElapsed"));
            remaining = integer(member(media, "secondsRemaining"));
        } else if (type == "media") {
            mediaName = text(member(current, "mediaFilename"));
            elapsed = integer(member(current, "secondsElapsed"));
            remaining = integer(member(current, "secondsRemaining"));
        } else if (type == "pause") {
            Json::Value d = member(current, "duration"), r = member(current, "remaining");
            double left = r.isNumeric() ? r.asDouble() : 0;
            Json::Value e(d.isNumeric() ? d.asDouble() - left : 0.0);
            elapsed = integer(e);
            remaining = integer(r);
        }
        return format("%d,%d,%d,%s,%s,%s,%s,%d,%d,%d,%d,%s,%s,%d\n", mode, state, volume(),
                      text(member(info, "name")).c_str(), type.c_str(), seqName.c_str(), mediaName.c_str(),
                      Player::INSTANCE.GetPosition(), integer(member(info, "size")), elapsed, remaining,
                      nextName.c_str(), nextStart.c_str(), integer(member(info, "repeat")));
    }

    const bool seqPlaying = sequencePlaying();
    if (mode == REMOTE_MODE && !(m_localOverride && seqPlaying)) {
        ControlSocketHooks::MediaStatus media;
        bool hasMedia = hooks.mediaStatus && hooks.mediaStatus(media);
        int elapsed = 0, remaining = 0;
        if (hasMedia) {
            elapsed = media.secondsElapsed;
            remaining = media.secondsRemaining;
        } else if (seqPlaying) {
            elapsed = sequenceSeconds(false);
            remaining = sequenceSeconds(true);
        }
        return format("%d,%d,%d,%s,%s,%d,%d\n", mode, 0, volume(), seqPlaying ? sequenceName().c_str() : "",
                      hasMedia ? media.filename.c_str() : "", elapsed, remaining);
    }
    if (seqPlaying) {
        return format("%d,%d,%d,,,%s,,0,0,%d,%d,%s,%s,0\n", mode, 1, volume(), sequenceName().c_str(),
                      sequenceSeconds(false), sequenceSeconds(true), nextName.c_str(), nextStart.c_str());
    }
    return format("%d,%d,%d,%s,%s\n", mode, 0, volume(), nextName.c_str(), nextStart.c_str());
}

std::string startPlaylist(const Request& r, bool repeat) {
    if (!r.has(0)) {
        return line(0, "Unknown Playlist");
    }
    const std::string& name = r.arg(0);
    int startItem = number(r.arg(1));
    if (Player::INSTANCE.GetStatus() == Player::IDLE) {
        // The playlist the schedule calls for now starts as scheduled, keeping its end.
        int scheduledRepeat = 0;
        std::string scheduled = playlistThatShouldBePlaying(scheduledRepeat);
        if (!scheduled.empty() && scheduled == name && (scheduledRepeat != 0) == repeat) {
            startScheduledPlaylist();
            return line(1, "Playlist Started");
        }
    }
    if (Player::INSTANCE.StartPlaylist(name, repeat ? 1 : 0, startItem, -1, 1)) {
        return line(1, "Playlist Started");
    }
    return line(0, "Error Starting Playlist");
}

std::string playlistStep(bool next) {
    const int mode = getKIVmode();
    switch (Player::INSTANCE.GetStatus()) {
    case Player::PLAYING:
    case Player::STOPPING_AFTER_LOOP: {
        std::string reply = format(next ? "%d,%d,Skipping to next playlist item\n"
                                        : "%d,%d,Skipping to previous playlist item\n",
                                   mode, 1);
        if (next) {
            Player::INSTANCE.NextItem();
        } else {
            Player::INSTANCE.PrevItem();
        }
        return reply;
    }
    case Player::STOPPING_GRACEFULLY:
        return format("%d,%d,Playlist is stopping gracefully\n", mode, 0);
    case Player::STOPPING_NOW:
        return format("%d,%d,Playlist is stopping\n", mode, 0);
    case Player::PAUSED:
        return format("%d,%d,Playlist is paused\n", mode, 0);
    default:
        return format("%d,%d,No playlist running\n", mode, 0);
    }
}

// "S" and "L": each acts while playing and turns the other's stop into its own.
std::string stopGracefully(bool afterLoop) {
    int s = Player::INSTANCE.GetStatus();
    int other = afterLoop ? Player::STOPPING_GRACEFULLY : Player::STOPPING_AFTER_LOOP;
    if (s != Player::PLAYING && s != other) {
        return format("%d,Not playing,,,,,,,,,,,\n", 0);
    }
    Player::INSTANCE.StopGracefully(1, afterLoop ? 1 : 0);
    return line(1, afterLoop ? "Playlist Stopping Gracefully After Loop" : "Playlist Stopping Gracefully");
}

// A playlist that is being played: the stop requests act on these states.
bool playlistRunning(int state) {
    return state == Player::PLAYING || state == Player::STOPPING_GRACEFULLY ||
           state == Player::STOPPING_AFTER_LOOP || state == Player::PAUSED;
}

// The sequence requests act on a sequence playing alone or as the current playlist entry.
bool sequenceControllable() {
    if (!sequencePlaying()) {
        return false;
    }
    if (Player::INSTANCE.GetStatus() == Player::IDLE) {
        return true;
    }
    return text(member(member(Player::INSTANCE.GetInfo(), "currentEntry"), "type")) == "sequence";
}

std::string logLevel(const Request& r) {
    const int mode = getKIVmode();
    const std::string& logger = r.arg(0);
    const std::string& level = r.arg(1);
    if (!r.has(0) || !r.has(1) || !KIVLogger::INSTANCE.SetLevel(logger.c_str(), level.c_str())) {
        return format("%d,%d,Error Updating Log Level,%s,%s,,,,,,,,,\n", mode, 0, logger.c_str(), level.c_str());
    }
    WarningHolder::RemoveWarning("A Log Level is set to Excessive");
    WarningHolder::RemoveWarning("A Log Level is set to Debug");
    int minimum = KIVLogger::INSTANCE.MinimumLogLevel();
    if (minimum == LOG_LEVEL_EXCESS) {
        WarningHolder::AddWarning("A Log Level is set to Excessive");
    } else if (minimum == LOG_LEVEL_DEBUG) {
        WarningHolder::AddWarning("A Log Level is set to Debug");
    }
    return format("%d,%d,Log Level Updated,%s,%s,,,,,,,,,\n", mode, 1, logger.c_str(), level.c_str());
}

std::string startSequence(const Request& r) {
    if (!r.has(0) || !r.has(1)) {
        LogDebug(kivlog::Command, "Invalid command: %s\n", r.text.c_str());
        return line(0, "Invalid Sequence");
    }
    const std::string& name = r.arg(0);
    // Sequences live in the media's sequences folder; a path would reach any file.
    if (name.find('/') != std::string::npos) {
        LogErr(kivlog::Command, "Invalid sequence name '%s'\n", name.c_str());
        return line(0, "Invalid Sequence");
    }
    if (!sequence) {
        return line(0, "Error Starting Sequence");
    }
    if (Player::INSTANCE.GetStatus() != Player::IDLE || sequence->IsSequenceRunning()) {
        LogErr(kivlog::Command, "Tried to start a sequence when a playlist or sequence is already running\n");
        return line(0, "Already Playing");
    }
    if (!sequence->OpenSequenceFile(name, 0, number(r.arg(1)))) {
        return line(0, "Error Starting Sequence");
    }
    sequence->StartSequence();
    return line(1, "Sequence Started");
}

using Handler = std::string (*)(const Request&);
struct Keyword {
    const char* word;
    Handler handler;
};

// In the order they are tried.
const Keyword keywords[] = {
    {"s", [](const Request&) { return status(); }},
    {"p", [](const Request& r) { return startPlaylist(r, true); }},
    {"P", [](const Request& r) { return startPlaylist(r, false); }},
    {"S", [](const Request&) { return stopGracefully(false); }},
    {"L", [](const Request&) { return stopGracefully(true); }},
    {"d",
     [](const Request&) {
         if (playlistRunning(Player::INSTANCE.GetStatus())) {
             Player::INSTANCE.StopNow(1);
             return line(1, "Playlist Stopping Now");
         }
         if (Player::INSTANCE.GetStatus() == Player::IDLE && sequencePlaying()) {
             sequence->CloseSequenceFile();
             return line(1, "Sequence Stopping Now");
         }
         return line(0, "Not playing");
     }},
    {"R",
     [](const Request&) {
         reloadSchedule();
         return line(1, "Reloading Schedule");
     }},
    {"v",
     [](const Request& r) {
         if (!r.has(0)) {
             return line(0, "Invalid Volume");
         }
         int v = number(r.arg(0));
         if (hooks.setVolume) {
             hooks.setVolume(v);
         } else {
             rememberedVolume = v;
         }
         return line(1, "Setting Volume");
     }},
    {"q",
     [](const Request&) {
         // The reply goes out before the main loop winds down; the shutdown itself stops
         // the player, so nothing here waits.
         if (playlistRunning(Player::INSTANCE.GetStatus())) {
             Player::INSTANCE.StopNow(1);
         }
         ShutdownKIVD(false);
         return line(1, "Shutting Down");
     }},
    {"restart",
     [](const Request&) {
         ShutdownKIVD(true);
         return line(1, "Restarting");
     }},
    {"e",
     [](const Request& r) {
         if (!r.has(0) || !r.has(1)) {
             return line(0, "Invalid Effect");
         }
         int id = StartEffect(r.arg(0), number(r.arg(1)), number(r.arg(2)), false);
         if (id <= 0) {
             return line(0, "Invalid Effect");
         }
         return format("%d,%d,Starting Effect,%d,,,,,,,,,\n", getKIVmode(), 1, id);
     }},
    {"t",
     [](const Request& r) {
         if (!r.has(0)) {
             return line(0, "Command Preset Failed");
         }
         int slot = 0;
         bool ok = parseNumber(r.arg(0), slot) && slot > 0 ? CommandManager::INSTANCE.TriggerPreset(slot)
                                                             : CommandManager::INSTANCE.TriggerPreset(r.arg(0));
         if (!ok) {
             return line(0, "Command Preset Failed");
         }
         return format("%d,%d,Command Preset Triggered,%d,,,,,,,,,\n", getKIVmode(), 1, 1);
     }},
    {"GetTestMode", [](const Request&) { return ChannelTester::INSTANCE.GetConfig() + "\n"; }},
    {"SetTestMode",
     [](const Request& r) {
         // The test configuration is JSON: everything after the first "," belongs to it.
         size_t comma = r.text.find(',');
         std::string config = comma == std::string::npos ? "" : r.text.substr(comma + 1);
         if (ChannelTester::INSTANCE.SetupTest(config)) {
             return format("0,%d,Test Mode Activated,,,,,,,,,\n", 1);
         }
         return format("0,%d,Test Mode Deactivated,,,,,,,,,\n", 1);
     }},
    {"LogLevel", logLevel},
    {"SetSetting",
     [](const Request& r) {
         // SetSetting refuses a value it cannot take (an unknown "kivMode") and keeps the old one.
         if (!r.has(0) || r.args.size() < 2 || !SetSetting(r.arg(0), r.arg(1))) {
             return line(0, "Invalid Setting");
         }
         return line(1, "Setting Saved");
     }},
    {"StopAllEffects",
     [](const Request&) {
         StopAllEffects();
         return line(1, "All Effects Stopped");
     }},
    {"StopEffectByName",
     [](const Request& r) {
         if (!r.has(0) || !StopEffect(r.arg(0))) {
             return line(0, "Stop Effect Failed");
         }
         return format("%d,%d,Stopping Effect,%s,,,,,,,,,\n", getKIVmode(), 1, r.arg(0).c_str());
     }},
    {"StopEffect",
     [](const Request& r) {
         int id = number(r.arg(0));
         if (!r.has(0) || !StopEffect(id)) {
             return line(0, "Stop Effect Failed");
         }
         return format("%d,%d,Stopping Effect,%d,,,,,,,,,\n", getKIVmode(), 1, id);
     }},
    {"GetRunningEffects",
     [](const Request&) { return GetRunningEffects(format("%d,%d,Running Effects", getKIVmode(), 1)); }},
    {"GetKIVDUptime",
     [](const Request&) {
         long up = startTime ? (long)time(nullptr) - startTime : 0;
         return format("%d,%d,KIVD Uptime,%ld,,,,,,,,,\n", getKIVmode(), 1, up);
     }},
    {"StartSequence", startSequence},
    {"StopSequence",
     [](const Request&) {
         if (Player::INSTANCE.GetStatus() == Player::IDLE && sequencePlaying()) {
             sequence->CloseSequenceFile();
             return line(1, "Sequence Stopping");
         }
         LogDebug(kivlog::Command, "Tried to stop a sequence when no sequence is running\n");
         return line(0, "Not playing");
     }},
    {"ToggleSequencePause",
     [](const Request&) {
         if (!sequenceControllable()) {
             return line(0, "No Sequence Playing");
         }
         sequence->ToggleSequencePause();
         return line(1, sequence->SequenceIsPaused() ? "Sequence Paused" : "Sequence Resumed");
     }},
    {"SingleStepSequence",
     [](const Request&) {
         if (!sequenceControllable() || !sequence->SequenceIsPaused()) {
             return line(0, "No Paused Sequence");
         }
         sequence->SingleStepSequence();
         return line(1, "Sequence Stepped");
     }},
    {"SingleStepSequenceBack",
     [](const Request&) {
         if (!sequenceControllable() || !sequence->SequenceIsPaused()) {
             return line(0, "No Paused Sequence");
         }
         sequence->SingleStepSequenceBack();
         return line(1, "Sequence Stepped Back");
     }},
    {"NextPlaylistItem", [](const Request&) { return playlistStep(true); }},
    {"PrevPlaylistItem", [](const Request&) { return playlistStep(false); }},
    {"SetupExtGPIO",
     [](const Request& r) {
         if (!r.has(0) || !r.has(1)) {
             return line(0, "Invalid GPIO");
         }
         int pin = number(r.arg(0));
         int ok = SetupExtGPIO(pin, r.arg(1)) == 0 ? 1 : 0;
         return format("%d,%d,Configuring GPIO,%d,%s,,,,,,,,,\n", getKIVmode(), ok, pin, r.arg(1).c_str());
     }},
    {"ExtGPIO",
     [](const Request& r) {
         if (!r.has(0) || !r.has(1) || !r.has(2)) {
             return line(0, "Invalid GPIO");
         }
         int pin = number(r.arg(0)), value = number(r.arg(2));
         int result = ExtGPIO(pin, r.arg(1), value);
         if (result < 0) {
             return format("%d,%d,Setting GPIO,%d,%s,%d,,,,,,,,\n", getKIVmode(), 0, pin, r.arg(1).c_str(), value);
         }
         return format("%d,%d,Setting GPIO,%d,%s,%d,%d,,,,,,,\n", getKIVmode(), 1, pin, r.arg(1).c_str(), value,
                       result);
     }},
};

// Long names are the same requests as the one-letter keywords.
const struct {
    const char* alias;
    const char* word;
} aliases[] = {
    {"StopGracefully", "S"},
    {"StopGracefullyAfterLoop", "L"},
    {"StopNow", "d"},
};

Handler find(const std::string& word) {
    std::string w = word;
    for (auto& a : aliases) {
        if (w == a.alias) {
            w = a.word;
        }
    }
    for (auto& k : keywords) {
        if (w == k.word) {
            return k.handler;
        }
    }
    return nullptr;
}

} // namespace

void SetControlSocketHooks(ControlSocketHooks h) { hooks = std::move(h); }

void SetControlSocketStartTime(long seconds) { startTime = seconds; }

std::string ProcessCommand(std::string_view request) {
    request = request.substr(0, std::min(request.find('\0'), CONTROL_REQUEST_MAX));
    std::string reply;
    try {
        Request r = splitRequest(request);
        LogExcess(kivlog::Command, "CMD: %s\n", r.text.c_str());
        Handler h = find(r.keyword);
        reply = h ? h(r) : format("Invalid command: '%s'\n", r.keyword.c_str());
    } catch (const std::exception& e) {
        LogErr(kivlog::Command, "Request '%s' failed: %s\n", std::string(request).c_str(), e.what());
        reply = line(0, "Error Processing Command");
    }
    if (reply.empty()) {
        reply = line(0, "No Reply");
    }
    if (reply.size() > CONTROL_REPLY_MAX) {
        reply.resize(CONTROL_REPLY_MAX);
    }
    return reply;
}
