#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Levels: lower is more severe. A logger at level N lets through messages of level <= N.
enum LogLevel {
    LOG_LEVEL_ERROR = 1,
    LOG_LEVEL_WARN = 2,
    LOG_LEVEL_INFO = 3,
    LOG_LEVEL_DEBUG = 4,
    LOG_LEVEL_EXCESS = 5,
};

class KIVLoggerInstance {
public:
    KIVLoggerInstance(const std::string& n) : level(LOG_LEVEL_INFO), name(n) {}

    // Read on every log call from any thread; relaxed atomics keep that a plain load.
    std::atomic<int> level;
    const std::string name;
};

class KIVLogger {
public:
    static KIVLogger INSTANCE;

    KIVLoggerInstance General{"General"};
    KIVLoggerInstance ChannelOut{"ChannelOut"};
    KIVLoggerInstance ChannelData{"ChannelData"};
    KIVLoggerInstance Command{"Command"};
    KIVLoggerInstance E131Bridge{"E131Bridge"};
    KIVLoggerInstance Effect{"Effect"};
    KIVLoggerInstance MediaOut{"MediaOut"};
    KIVLoggerInstance Playlist{"Playlist"};
    KIVLoggerInstance Schedule{"Schedule"};
    KIVLoggerInstance Sequence{"Sequence"};
    KIVLoggerInstance Settings{"Settings"};
    KIVLoggerInstance Control{"Control"};
    KIVLoggerInstance Sync{"Sync"};
    KIVLoggerInstance Plugin{"Plugin"};
    KIVLoggerInstance GPIO{"GPIO"};
    KIVLoggerInstance HTTP{"HTTP"};

    std::vector<KIVLoggerInstance*> loggers;

    void Init();
    bool SetLevel(std::string name, LogLevel level);
    bool SetLevel(const char* name, const char* level);
    void SetAllLevel(LogLevel level);
    int MinimumLogLevel();
    std::string GetLogLevelString();
};

// Short names for the loggers: LogInfo(kivlog::Sequence, "...").
namespace kivlog {
inline KIVLoggerInstance& General = KIVLogger::INSTANCE.General;
inline KIVLoggerInstance& ChannelOut = KIVLogger::INSTANCE.ChannelOut;
inline KIVLoggerInstance& ChannelData = KIVLogger::INSTANCE.ChannelData;
inline KIVLoggerInstance& Command = KIVLogger::INSTANCE.Command;
inline KIVLoggerInstance& E131Bridge = KIVLogger::INSTANCE.E131Bridge;
inline KIVLoggerInstance& Effect = KIVLogger::INSTANCE.Effect;
inline KIVLoggerInstance& MediaOut = KIVLogger::INSTANCE.MediaOut;
inline KIVLoggerInstance& Playlist = KIVLogger::INSTANCE.Playlist;
inline KIVLoggerInstance& Schedule = KIVLogger::INSTANCE.Schedule;
inline KIVLoggerInstance& Sequence = KIVLogger::INSTANCE.Sequence;
inline KIVLoggerInstance& Settings = KIVLogger::INSTANCE.Settings;
inline KIVLoggerInstance& Control = KIVLogger::INSTANCE.Control;
inline KIVLoggerInstance& Sync = KIVLogger::INSTANCE.Sync;
inline KIVLoggerInstance& Plugin = KIVLogger::INSTANCE.Plugin;
inline KIVLoggerInstance& GPIO = KIVLogger::INSTANCE.GPIO;
inline KIVLoggerInstance& HTTP = KIVLogger::INSTANCE.HTTP;
} // namespace kivlog

inline bool WillLog(int level, KIVLoggerInstance& logger) {
    return logger.level.load(std::memory_order_relaxed) >= level;
}

void _LogWrite(const char* file, int line, int level, KIVLoggerInstance& logger, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
void _LogWrite(const char* file, int line, int level, KIVLoggerInstance& logger, const std::string& message, ...);

// The convenience forms: a suppressed message costs one comparison, its arguments are not evaluated.
#define KIV_LOG_AT(lvl, logger, ...)                                  \
    do {                                                              \
        if (WillLog(lvl, logger)) {                                   \
            _LogWrite(__FILE__, __LINE__, lvl, logger, __VA_ARGS__);  \
        }                                                             \
    } while (0)
#define LogErr(logger, ...) KIV_LOG_AT(LOG_LEVEL_ERROR, logger, __VA_ARGS__)
#define LogWarn(logger, ...) KIV_LOG_AT(LOG_LEVEL_WARN, logger, __VA_ARGS__)
#define LogInfo(logger, ...) KIV_LOG_AT(LOG_LEVEL_INFO, logger, __VA_ARGS__)
#define LogDebug(logger, ...) KIV_LOG_AT(LOG_LEVEL_DEBUG, logger, __VA_ARGS__)
#define LogExcess(logger, ...) KIV_LOG_AT(LOG_LEVEL_EXCESS, logger, __VA_ARGS__)

extern char logFileName[1024];
extern bool logToStdOut;

void SetLogFile(const char* name, bool alsoStdout = true);
bool loggingToFile();
std::string LogLevelToString(int level);
void logVersionInfo();
bool SetLogLevel(const char* level);
bool SetLogLevelComplex(std::string& spec);
bool SetLogLevelComplex(const char* spec);
