#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include "kivversion.h"

KIVLogger KIVLogger::INSTANCE;

char logFileName[1024] = "";
bool logToStdOut = true;

namespace {

constexpr size_t LINE_FORMAT_SIZE = 512;

// A cut-off format must not end inside a conversion ("%l"), which would make printf
// read an argument with the wrong type; drop such a dangling tail.
void dropDanglingConversion(char* fmt) {
    char* lastOpen = nullptr;
    for (char* p = fmt; *p; ++p) {
        if (*p != '%') {
            continue;
        }
        char* start = p++;
        if (*p == '%') {
            continue;
        }
        while (*p && strchr("-+ #0123456789.*'hlLqjzt", *p)) {
            ++p;
        }
        if (!*p) {
            lastOpen = start;
            break;
        }
    }
    if (lastOpen) {
        *lastOpen = 0;
    }
}

int buildHeader(char* out, size_t size, KIVLoggerInstance& logger, const char* file, int line) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    unsigned long long tid = (unsigned long long)syscall(SYS_gettid);
    return snprintf(out, size, "%4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d (%llu) [%s] %s:%d: ", tm.tm_year + 1900, tm.tm_mon + 1,
                    tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, (int)(tv.tv_usec / 1000), tid, logger.name.c_str(),
                    file, line);
}

// Sends one finished format (header + message) to the configured destinations.
void emit(const char* fmt, va_list args) {
    bool toStdout = logToStdOut;
    if (logFileName[0]) {
        if (!strcmp(logFileName, "stderr")) {
            va_list c;
            va_copy(c, args);
            vfprintf(stderr, fmt, c);
            va_end(c);
        } else if (!strcmp(logFileName, "stdout")) {
            va_list c;
            va_copy(c, args);
            vfprintf(stdout, fmt, c);
            va_end(c);
            toStdout = false;
        } else {
            // Opened per line so the file can be rotated or removed at any time.
            FILE* f = fopen(logFileName, "a");
            if (!f) {
                fprintf(stderr, "Error: Unable to open log file for writing!\n");
                va_list c;
                va_copy(c, args);
                vfprintf(stderr, fmt, c);
                va_end(c);
                return;
            }
            va_list c;
            va_copy(c, args);
            vfprintf(f, fmt, c);
            va_end(c);
            fclose(f);
        }
    }
    if (toStdout) {
        va_list c;
        va_copy(c, args);
        vfprintf(stdout, fmt, c);
        va_end(c);
        fflush(stdout);
    }
}

void emitText(const char* text, ...) {
    va_list args;
    va_start(args, text);
    emit(text, args);
    va_end(args);
}

int parseLevelWord(const char* level) {
    static const char* names[] = {"error", "warn", "info", "debug", "excess"};
    for (int i = 0; i < 5; i++) {
        if (!strcmp(level, names[i])) {
            return i + 1;
        }
    }
    return 0;
}

} // namespace

void _LogWrite(const char* file, int line, int level, KIVLoggerInstance& logger, const char* format, ...) {
    if (!WillLog(level, logger)) {
        return;
    }
    char fmt[LINE_FORMAT_SIZE];
    int n = buildHeader(fmt, sizeof(fmt), logger, file, line);
    if (n >= 0 && (size_t)n < sizeof(fmt)) {
        size_t room = sizeof(fmt) - n;
        size_t len = strlen(format);
        if (len >= room) {
            memcpy(fmt + n, format, room - 1);
            fmt[sizeof(fmt) - 1] = 0;
            dropDanglingConversion(fmt + n);
        } else {
            memcpy(fmt + n, format, len + 1);
        }
    }
    va_list args;
    va_start(args, format);
    emit(fmt, args);
    va_end(args);
}

void _LogWrite(const char* file, int line, int level, KIVLoggerInstance& logger, const std::string& message, ...) {
    if (!WillLog(level, logger)) {
        return;
    }
    // The message is text, not a format: '%' in it prints as is.
    char text[LINE_FORMAT_SIZE];
    int n = buildHeader(text, sizeof(text), logger, file, line);
    if (n >= 0 && (size_t)n < sizeof(text)) {
        snprintf(text + n, sizeof(text) - n, "%s", message.c_str());
    }
    emitText("%s", text);
}

void SetLogFile(const char* name, bool alsoStdout) {
    snprintf(logFileName, sizeof(logFileName), "%s", name ? name : "");
    logToStdOut = alsoStdout;
}

bool loggingToFile() {
    return logFileName[0] && strcmp(logFileName, "stderr") && strcmp(logFileName, "stdout");
}

std::string LogLevelToString(int level) {
    switch (level) {
    case LOG_LEVEL_ERROR:
        return "error";
    case LOG_LEVEL_WARN:
        return "warn";
    case LOG_LEVEL_INFO:
        return "info";
    case LOG_LEVEL_DEBUG:
        return "debug";
    case LOG_LEVEL_EXCESS:
        return "excess";
    default:
        return "unknown";
    }
}

void logVersionInfo() {
    LogErr(kivlog::General, "=========================================\n");
    LogErr(kivlog::General, "KIV %s\n", getKIVVersion());
    LogErr(kivlog::General, "Branch: %s\n", getKIVBranch());
    LogErr(kivlog::General, "=========================================\n");
}

void KIVLogger::Init() {
    if (!loggers.empty()) {
        return;
    }
    loggers = {&General, &ChannelOut, &ChannelData, &Command, &E131Bridge, &Effect, &MediaOut, &Playlist,
               &Schedule, &Sequence, &Settings, &Control, &Sync, &Plugin, &GPIO, &HTTP};
}

bool KIVLogger::SetLevel(std::string name, LogLevel level) {
    Init();
    static const std::string prefix = "LogLevel_";
    if (name.compare(0, prefix.size(), prefix) == 0) {
        name = name.substr(prefix.size());
    }
    bool found = false;
    for (auto* l : loggers) {
        if (!name.empty() && l->name == name) {
            l->level = level;
            found = true;
        }
    }
    if (!found) {
        LogWarn(Settings, "Invalid name for LoggerInstance: %s\n", name.c_str());
    }
    return found;
}

bool KIVLogger::SetLevel(const char* name, const char* level) {
    int l = parseLevelWord(level);
    if (!l) {
        LogErr(Settings, "Invalid name for LogLevel: %s\n", level);
        return false;
    }
    return SetLevel(std::string(name), (LogLevel)l);
}

void KIVLogger::SetAllLevel(LogLevel level) {
    Init();
    for (auto* l : loggers) {
        l->level = level;
    }
}

int KIVLogger::MinimumLogLevel() {
    Init();
    int m = 1;
    for (auto* l : loggers) {
        if (l->level > m) {
            m = l->level;
        }
    }
    return m;
}

std::string KIVLogger::GetLogLevelString() {
    Init();
    std::string out;
    int prev = -1;
    for (auto* l : loggers) {
        int lvl = l->level;
        if (prev == -1) {
            out = LogLevelToString(lvl) + ":" + l->name;
        } else if (lvl == prev) {
            out += "," + l->name;
        } else {
            out += ";" + LogLevelToString(lvl) + ":" + l->name;
        }
        prev = lvl;
    }
    return out;
}

bool SetLogLevel(const char* level) {
    LogErr(kivlog::Settings, "Using Legacy Global Logging to set all to same Log Level of %s\n", level);
    int l = parseLevelWord(level);
    if (!l) {
        LogErr(kivlog::Settings, "Unknown Log Level: %s\n", level);
        return false;
    }
    KIVLogger::INSTANCE.SetAllLevel((LogLevel)l);
    return true;
}

static std::vector<std::string> splitOn(const std::string& s, char sep) {
    // Pieces between separators; the empty piece after a trailing separator is not one.
    std::vector<std::string> out;
    size_t start = 0;
    while (start < s.size()) {
        size_t pos = s.find(sep, start);
        if (pos == std::string::npos) {
            out.push_back(s.substr(start));
            break;
        }
        out.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
    return out;
}

bool SetLogLevelComplex(std::string& spec) {
    LogDebug(kivlog::Settings, "Attempting to parse Log Levels from %s\n", spec.c_str());
    if (spec.empty()) {
        LogWarn(kivlog::Settings, "Ignoring Empty String sent to SetLogLevelComplex");
        return false;
    }
    if (spec.find(':') == std::string::npos) {
        LogDebug(kivlog::Settings, "Using simple loging for input \"%s\" as no colon found.\n", spec.c_str());
        return SetLogLevel(spec.c_str());
    }
    if (spec.find(';') == std::string::npos) {
        spec += ";";
    }
    bool any = false;
    for (const auto& group : splitOn(spec, ';')) {
        LogDebug(kivlog::Settings, "Outer Prase is %s\n", group.c_str());
        size_t colon = group.find(':');
        if (group.empty() || colon == std::string::npos) {
            LogErr(kivlog::Settings, "Invalid Log Level Token: %s\n", group.c_str());
            continue;
        }
        std::string level = group.substr(0, colon);
        std::string names = group.substr(colon + 1);
        if (names.find(',') == std::string::npos) {
            names += ",";
        }
        for (const auto& name : splitOn(names, ',')) {
            LogDebug(kivlog::Settings, "Attempting to set %s to %s \n", name.c_str(), level.c_str());
            if (KIVLogger::INSTANCE.SetLevel(name.c_str(), level.c_str())) {
                any = true;
            }
        }
    }
    return any;
}

bool SetLogLevelComplex(const char* spec) {
    std::string s(spec ? spec : "");
    return SetLogLevelComplex(s);
}
