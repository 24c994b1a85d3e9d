#include "PlayerResource.h"

#include <sys/sysinfo.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "Bridge.h"
#include "ChannelTester.h"
#include "MultiSync.h"
#include "Player.h"
#include "Scheduler.h"
#include "Sensors.h"
#include "Sequence.h"
#include "WarningHolder.h"
#include "channeloutput/ChannelOutputThread.h"
#include "commands/VolumeCommands.h"
#include "common.h"
#include "kivversion.h"
#include "log.h"
#include "settings.h"

using httpserver::http_request;
using httpserver::http_response;
using httpserver::string_response;

namespace {

std::atomic<time_t> g_startTime{time(nullptr)};

std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    return Json::writeString(w, v);
}

bool StartsWith(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }
bool EndsWith(const std::string& s, const std::string& p) {
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

// The path below "/kivd/".
std::string Endpoint(const http_request& req) {
    std::string p = req.get_path();
    if (StartsWith(p, "/kivd/")) {
        return p.substr(6);
    }
    return StartsWith(p, "/kivd") ? p.substr(5) : p;
}

void NotFound(Json::Value& result, const std::string& path) {
    SetErrorResult(result, 404, "endpoint kivd/" + path + " does not exist");
}

const char* LevelName(int level) {
    switch (level) {
    case LOG_LEVEL_ERROR: return "error";
    case LOG_LEVEL_WARN: return "warn";
    case LOG_LEVEL_INFO: return "info";
    case LOG_LEVEL_DEBUG: return "debug";
    default: return "excess";
    }
}

// A whole decimal number; false for anything else (the volume must not jump on a typo).
bool ParseInt(const std::string& s, int& out) {
    if (s.empty() || s.size() > 10) {
        return false;
    }
    char* end = nullptr;
    long v = strtol(s.c_str(), &end, 10);
    if (*end != '\0') {
        return false;
    }
    out = (int)v;
    return true;
}

int UptimeSeconds() {
    time_t now = time(nullptr);
    long up = (long)(now - g_startTime.load());
    struct sysinfo si {};
    // The clock moved forward since start (time synchronisation): count from now.
    if (sysinfo(&si) == 0 && si.uptime < up) {
        g_startTime = now;
        up = 0;
    }
    return up < 0 ? 0 : (int)up;
}

const std::string& SystemUUID() {
    static const std::string uuid = getSetting("SystemUUID", "");
    return uuid;
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size()) {
        s.replace(pos, from.size(), to);
    }
    return s;
}

void GetVersion(Json::Value& result) {
    std::string triplet = getKIVVersionTriplet();
    int major = atoi(triplet.c_str());
    size_t dot = triplet.find('.');
    int minor = dot == std::string::npos ? 0 : atoi(triplet.c_str() + dot + 1);
    result["version"] = getKIVVersion();
    result["majorVersion"] = major;
    result["minorVersion"] = minor;
    result["branch"] = getKIVBranch();
    result["kivdAPI"] = "v1";
    SetOKResult(result, "");
}

void LogRequest(const http_request& req, const char* method, const std::string& endpoint) {
    LogDebug(kivlog::HTTP, "API Req: %s%s\n", req.get_path().c_str(), req.get_querystring().c_str());
    LogDebug(kivlog::HTTP, "%s %s %s\n", method, endpoint.c_str(), req.get_querystring().c_str());
}

// "Status" missing: the endpoint did nothing, which the caller must see.
void EnsureResult(Json::Value& result, const char* method) {
    if (!result.isMember("Status")) {
        SetErrorResult(result, 400, std::string(method) + " endpoint helper did not set result JSON");
    }
}

int RespCode(const Json::Value& result) {
    return result.isObject() && result["respCode"].isInt() ? result["respCode"].asInt() : 200;
}

void CommandField(const Json::Value& body, Json::Value& result, const std::function<void(const std::string&)>& f) {
    if (body.isMember("command")) {
        f(body["command"].isString() ? body["command"].asString() : "");
    } else {
        SetErrorResult(result, 400, "'command' field not specified");
    }
}

} // namespace

void SetOKResult(Json::Value& result, const std::string& message) {
    result["Status"] = "OK";
    result["respCode"] = 200;
    result["Message"] = message;
}

void SetErrorResult(Json::Value& result, int code, const std::string& message) {
    result["Status"] = "ERROR";
    result["respCode"] = code;
    result["Message"] = message;
}

std::shared_ptr<http_response> JsonResultResponse(const http_request& req, const Json::Value& result, int code,
                                                  const std::string& contentType) {
    std::string body = Compact(result);
    LogExcess(kivlog::HTTP, "API Res: %s%s %d %s\n", req.get_path().c_str(), req.get_querystring().c_str(), code,
              body.c_str());
    return std::make_shared<string_response>(body, code, contentType);
}

bool ParseObjectBody(const std::string& body, Json::Value& out, Json::Value& error) {
    out = Json::Value(Json::objectValue);
    if (body.empty()) {
        return true;
    }
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    std::string errs;
    Json::Value v;
    bool ok = false;
    try {
        ok = r->parse(body.data(), body.data() + body.size(), &v, &errs);
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        return false;
    }
    if (!v.isObject()) {
        SetErrorResult(error, 400, "The request body must be a JSON object");
        return false;
    }
    out = v;
    return true;
}

void GetCurrentKIVDStatus(Json::Value& result) {
    int mode = getKIVmode();
    result["kivd"] = "running";
    result["uuid"] = SystemUUID();
    result["mode"] = mode;
    char* modeName = modeToString(mode);
    result["mode_name"] = modeName ? modeName : "";
    free(modeName);
    int status = Player::INSTANCE.GetStatus();
    result["status"] = status;
    result["bridging"] = HasBridgeData();
    result["multisync"] = MultiSync::INSTANCE.isMultiSyncEnabled();
    static const char* names[] = {"idle", "playing", "stopping gracefully", "stopping gracefully after loop",
                                  "stopping now", "paused"};
    if (ChannelTester::INSTANCE.Testing()) {
        result["status_name"] = "testing";
    } else {
        result["status_name"] = status >= 0 && status <= 5 ? names[status] : "unknown";
    }
    result["volume"] = VolumeStore::INSTANCE.Get();

    char buf[128];
    time_t now = time(nullptr);
    struct tm lt {};
    localtime_r(&now, &lt);
    strftime(buf, sizeof(buf), "%a %b %d %H:%M:%S %Z %Y", &lt);
    result["time"] = buf;
    std::string timeFormat = getSetting("TimeFormat", "");
    result["timeStrFull"] = GetTimeStr(ReplaceAll(timeFormat, "%M", "%M:%S"));
    result["timeStr"] = GetTimeStr(timeFormat);
    result["dateStr"] = GetDateStr(getSetting("DateFormat", ""));

    int up = UptimeSeconds();
    result["uptime"] = secondsToTime(up);
    result["uptimeTotalSeconds"] = up;
    result["uptimeSeconds"] = up % 60;
    result["uptimeDays"] = up / 86400.0;
    result["uptimeMinutes"] = (up % 3600) / 60.0;
    result["uptimeHours"] = (up % 86400) / 3600.0;
    result["uptimeStr"] = std::to_string(up / 86400) + " days, " + std::to_string((up % 86400) / 3600) + " hours, " +
                          std::to_string((up % 3600) / 60) + " minutes, " + std::to_string(up % 60) + " seconds";
    Sensors::INSTANCE.reportSensors(result);
    auto warnings = WarningHolder::GetWarnings();
    for (const auto& w : warnings) {
        result["warnings"].append(w);
    }
    // No MQTT client on this player yet.
    result["MQTT"]["configured"] = false;
    result["MQTT"]["connected"] = false;

    if (mode != REMOTE_MODE) {
        Scheduler* s = scheduler;
        result["next_playlist"]["playlist"] = s ? s->GetNextPlaylistName() : "";
        result["next_playlist"]["start_time"] = s ? s->GetNextPlaylistStartStr() : "";
        Player::INSTANCE.GetCurrentStatus(result);
        result["scheduler"] = s ? s->GetInfo() : Json::Value(Json::objectValue);
        return;
    }
    // Remote: what the master's synchronisation has us play. No media output yet.
    std::string seqName;
    int elapsed = 0, remaining = 0;
    if (sequence && sequence->IsSequenceRunning()) {
        seqName = sequence->GetSequenceName();
        elapsed = sequence->seqMSElapsed / 1000;
        remaining = sequence->seqMSRemaining / 1000;
    }
    std::string mediaName;
    if (!seqName.empty() || !mediaName.empty()) {
        result["status"] = 1;
        result["status_name"] = "playing";
    }
    result["playlist"] = seqName;
    result["sequence_filename"] = seqName;
    result["media_filename"] = mediaName;
    result["current_sequence"] = seqName;
    result["current_song"] = mediaName;
    result["seconds_played"] = std::to_string(elapsed);
    result["seconds_elapsed"] = std::to_string(elapsed);
    result["seconds_remaining"] = std::to_string(remaining);
    result["time_elapsed"] = secondsToTime(elapsed);
    result["time_remaining"] = secondsToTime(remaining);
}

std::shared_ptr<http_response> PlayerResource::render_GET(const http_request& req) {
    std::string path = Endpoint(req);
    LogRequest(req, "URL:", path);
    Json::Value result;
    if (path == "effects") {
        LogDebug(kivlog::HTTP, "API - Getting list of running effects\n");
        // No effect engine yet: nothing can be running.
        result["runningEffects"] = Json::Value(Json::arrayValue);
        SetOKResult(result, "");
    } else if (path == "log") {
        for (auto* l : KIVLogger::INSTANCE.loggers) {
            result["log"][l->name] = LevelName(l->level.load(std::memory_order_relaxed));
        }
        SetOKResult(result, "");
    } else if (path == "status") {
        LogDebug(kivlog::HTTP, "API - Getting kivd status\n");
        GetCurrentKIVDStatus(result);
    } else if (path == "warnings") {
        result = Json::Value(Json::arrayValue);
        for (const auto& w : WarningHolder::GetWarnings()) {
            result.append(w);
        }
    } else if (path == "e131stats") {
        result = GetE131UniverseBytesReceived();
        if (result.isObject() && result.isMember("universes")) {
            SetOKResult(result, "");
        } else {
            result = Json::Value();
            SetErrorResult(result, 400, "GetE131UniverseBytesReceived() did not return any universes.");
        }
    } else if (path == "multiSyncSystems") {
        SetErrorResult(result, 400, "MultiSync did not return any systems.");
    } else if (path == "multiSyncStats") {
        SetErrorResult(result, 400, "MultiSync did not return any systems.");
    } else if (path == "playlists") {
        LogDebug(kivlog::HTTP, "API - Getting current playlist\n");
        result["playlists"] = Json::Value(Json::arrayValue);
        if (Player::INSTANCE.IsPlaying()) {
            result["playlists"].append(Player::INSTANCE.GetPlaylistName());
        }
        SetOKResult(result, "");
    } else if (path == "playlist/filetime") {
        result["fileTime"] = Json::Int64(Player::INSTANCE.IsPlaying() ? Player::INSTANCE.GetFileTime() : 0);
        SetOKResult(result, "");
    } else if (path == "playlist/config") {
        if (Player::INSTANCE.IsPlaying()) {
            result = Player::INSTANCE.GetConfig();
            if (!result.isObject()) {
                result = Json::Value(Json::objectValue);
            }
        }
        SetOKResult(result, "");
    } else if (path == "schedule") {
        Scheduler* s = scheduler;
        if (s) {
            result["schedule"] = s->GetSchedule();
            SetOKResult(result, "");
        } else {
            SetErrorResult(result, 400, "The scheduler is not running");
        }
    } else if (path == "version") {
        GetVersion(result);
    } else if (path == "volume") {
        std::string set = req.get_arg("set");
        if (!set.empty()) {
            int v = 0;
            if (!ParseInt(set, v)) {
                SetErrorResult(result, 400, "Invalid volume \"" + set + "\"");
                return JsonResultResponse(req, result, 400);
            }
            VolumeStore::INSTANCE.Set(v);
        }
        if (req.get_arg("simple") == "true") {
            return std::make_shared<string_response>(std::to_string(VolumeStore::INSTANCE.Get()), 200, "text/plain");
        }
        result["volume"] = VolumeStore::INSTANCE.Get();
        SetOKResult(result, "");
    } else if (path == "sequence") {
        LogDebug(kivlog::HTTP, "API - Getting list of running sequences\n");
    } else {
        LogErr(kivlog::HTTP, "API - Error unknown GET request: %s\n", path.c_str());
        NotFound(result, path);
    }
    if (!result.isArray() && (!result.isObject() || result.empty())) {
        result = Json::Value();
        SetErrorResult(result, 400, "GET endpoint helper did not set result JSON");
        return JsonResultResponse(req, result, 200);
    }
    return JsonResultResponse(req, result, result.isArray() ? 200 : RespCode(result));
}

std::shared_ptr<http_response> PlayerResource::render_POST(const http_request& req) {
    std::string path = Endpoint(req);
    LogRequest(req, "POST URL:", path);
    Json::Value body, result;
    if (!ParseObjectBody(req.get_content(), body, result)) {
        if (result.isMember("Status")) {
            return JsonResultResponse(req, result, 400);
        }
        LogErr(kivlog::HTTP, "Error parsing POST content\n");
        return std::make_shared<string_response>("Error parsing POST content", 400, "text/plain");
    }
    if (StartsWith(path, "effects/")) {
        CommandField(body, result, [&](const std::string& cmd) {
            LogDebug(kivlog::HTTP, "API - PostEffect(%s) cmd: %s\n", path.substr(8).c_str(), cmd.c_str());
            SetErrorResult(result, 400, "Effects are not available: this player has no effect engine yet");
        });
    } else if (StartsWith(path, "moltan/hardware")) {
        LogDebug(kivlog::HTTP, "API - Reloading hardware config\n");
        SetErrorResult(result, 400, "Panel hardware reload is not available: this player has no panel output");
    } else if (StartsWith(path, "gpio/ext")) {
        if (!body.isMember("config")) {
            SetErrorResult(result, 400, "'config' field not specified");
        } else {
            SetErrorResult(result, 400, "GPIO is not available on this player");
        }
    } else if (StartsWith(path, "log/level/")) {
        std::string spec = path.substr(10);
        if (SetLogLevelComplex(spec)) {
            SetOKResult(result, "Log Level Updated");
        } else {
            SetErrorResult(result, 400, "Invalid log level specification \"" + spec + "\"");
        }
    } else if (path == "outputs") {
        CommandField(body, result, [&](const std::string& cmd) {
            if (cmd == "enable") {
                EnableChannelOutput();
                SetOKResult(result, "channel output enabled");
            } else if (cmd == "disable") {
                DisableChannelOutput();
                SetOKResult(result, "channel output disabled");
            }
        });
    } else if (path == "outputs/remap") {
        CommandField(body, result, [&](const std::string& cmd) {
            if (cmd == "reload") {
                SetErrorResult(result, 400, "Channel remaps are not available: this player has no remap support yet");
            }
        });
    } else if (StartsWith(path, "playlists/")) {
        // Playlist control lives in "/player"; these only log, and the caller sees nothing was done.
        LogDebug(kivlog::HTTP, "API - playlists request '%s' w/ content '%s'\n", path.c_str(),
                 req.get_content().c_str());
    } else if (path == "schedule") {
        CommandField(body, result, [&](const std::string& cmd) {
            if (cmd == "reload") {
                Scheduler* s = scheduler;
                if (s) {
                    s->ReloadScheduleFile();
                    SetOKResult(result, "Schedule reload triggered");
                } else {
                    SetErrorResult(result, 400, "The scheduler is not running");
                }
            }
        });
    } else if (StartsWith(path, "volume/")) {
        int v = 0;
        if (ParseInt(path.substr(7), v)) {
            result["volume"] = VolumeStore::INSTANCE.Set(v);
            SetOKResult(result, "Volume set");
        } else {
            SetErrorResult(result, 400, "Invalid volume \"" + path.substr(7) + "\"");
        }
    } else if (StartsWith(path, "sequences/")) {
        LogDebug(kivlog::HTTP, "API - sequence request '%s'\n", path.substr(10).c_str());
    } else if (path == "settings/reload") {
        LogDebug(kivlog::HTTP, "API - Reloading all settings\n");
    } else if (StartsWith(path, "settings/reload/")) {
        LogDebug(kivlog::HTTP, "API - Reloading setting: %s\n", path.substr(16).c_str());
    } else if (path == "restart") {
        LogDebug(kivlog::HTTP, "API - Restarting kivd daemon\n");
    } else if (path == "shutdown") {
        SetOKResult(result, "Shutting down kivd");
        ShutdownKIVD(false);
    } else {
        LogErr(kivlog::HTTP, "API - Error unknown POST request: %s\n", path.c_str());
        NotFound(result, path);
    }
    EnsureResult(result, "POST");
    return JsonResultResponse(req, result, RespCode(result));
}

std::shared_ptr<http_response> PlayerResource::render_PUT(const http_request& req) {
    std::string path = Endpoint(req);
    LogRequest(req, "PUT URL:", path);
    Json::Value result;
    if (StartsWith(path, "playlists/")) {
        if (EndsWith(path, "/settings")) {
            LogDebug(kivlog::HTTP, "API - Updating runtime settings for playlist '%s'\n",
                     path.substr(10, path.size() - 19).c_str());
        }
    } else {
        LogErr(kivlog::HTTP, "API - Error unknown PUT request: %s\n", path.c_str());
        NotFound(result, path);
    }
    EnsureResult(result, "PUT");
    return JsonResultResponse(req, result, RespCode(result), "text/plain");
}

std::shared_ptr<http_response> PlayerResource::render_DELETE(const http_request& req) {
    std::string path = Endpoint(req);
    LogRequest(req, "DELETE URL:", path);
    Json::Value result;
    if (path == "e131stats") {
        LogDebug(kivlog::HTTP, "Resetting E131 Statistics\n");
        ResetBytesReceived();
        SetOKResult(result, "Stats Cleared");
    } else {
        LogErr(kivlog::HTTP, "API - Error unknown DELETE request: %s\n", path.c_str());
        NotFound(result, path);
    }
    EnsureResult(result, "DELETE");
    return JsonResultResponse(req, result, RespCode(result), "text/plain");
}
