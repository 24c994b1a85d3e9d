#include "KivdCommandLine.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>

#include "capes/MoltanHardware.h"
#include "gpio/PinCapabilities.h"
#include "kivversion.h"
#include "log.h"
#include "mediaoutput/MediaOutput.h"
#include "settings.h"

namespace {

// Options without a short form.
enum { OPT_LOG_LEVEL = 256 };

const struct option longOptions[] = {
    {"displayvers", no_argument, nullptr, 'V'},
    {"foreground", no_argument, nullptr, 'f'},
    {"daemonize", no_argument, nullptr, 'd'},
    {"restarted", no_argument, nullptr, 'r'},
    {"volume", required_argument, nullptr, 'v'},
    {"mode", required_argument, nullptr, 'm'},
    {"log-file", required_argument, nullptr, 'l'},
    {"playlist", required_argument, nullptr, 'p'},
    {"position", required_argument, nullptr, 'P'},
    {"detect-hardware", no_argument, nullptr, 'H'},
    {"configure-hardware", no_argument, nullptr, 'C'},
    {"help", no_argument, nullptr, 'h'},
    {"log-level", required_argument, nullptr, OPT_LOG_LEVEL},
    {nullptr, 0, nullptr, 0},
};

// Exit status 1 when the detection reports a failure.
int detectHardware(bool configure) {
    PinCapabilities::InitGPIO("KIVD");
    SetLogFile("", true);
    KIVLogger::INSTANCE.SetLevel("Settings", LOG_LEVEL_DEBUG);
    return DetectMoltanHardware(configure) ? 1 : 0;
}

} // namespace

void PrintKivdUsage(const char* program) {
    printf("Usage: %s [OPTION...]\n"
           "\n"
           "kivd is the Moltan Player daemon.\n"
           "\n"
           "Options:\n"
           "  -f, --foreground              Don't daemonize the application.  In the\n"
           "                                foreground, all logging will be on the\n"
           "                                console instead of the log file\n"
           "  -d, --daemonize               Daemonize even if the config file says not to.\n"
           "  -v, --volume VOLUME           Set a volume (over-written by config file)\n"
           "  -m, --mode MODE               Set the mode: \"player\", \"bridge\",\n"
           "                                \"master\", or \"remote\"\n"
           "  -l, --log-file FILENAME       Set the log file\n"
           "  -H  --detect-hardware         Detect Moltan hardware on SPI port\n"
           "  -C  --configure-hardware      Configured detected Moltan hardware on SPI\n"
           "  -h, --help                    This menu.\n"
           "      --log-level LEVEL[:LOGGERA,LOGGERB][;LEVEL2:LOGGERC]\n"
           "                                Set the log level for all loggers, or the\n"
           "                                level of each group of loggers, the groups\n"
           "                                separated by semicolons and the loggers of a\n"
           "                                group by commas:\n"
           "                                  \"debug\"             - all loggers at debug\n"
           "                                  \"info:Playlist,Sync;debug:ChannelOut\"\n"
           "                                Levels: error, warn, info, debug, excess\n"
           "                                Loggers:\n"
           "                                  all         - All loggers\n"
           "                                  General     - General messages\n"
           "                                  ChannelOut  - Channel Output code\n"
           "                                  ChannelData - Channel Data itself\n"
           "                                  Command     - Command processing\n"
           "                                  E131Bridge  - Network input bridge\n"
           "                                  Effect      - Effects sequences\n"
           "                                  MediaOut    - Media file handling\n"
           "                                  Playlist    - Playlist handling\n"
           "                                  Schedule    - Playlist scheduling\n"
           "                                  Sequence    - Sequence parsing and playback\n"
           "                                  Settings    - Settings parsing\n"
           "                                  Control     - Control socket\n"
           "                                  Sync        - Player/Remote synchronisation\n"
           "                                  Plugin      - Plugin handling\n"
           "                                  GPIO        - GPIO input handling\n"
           "                                  HTTP        - HTTP API requests\n"
           "\n"
           "The default logging is read from settings\n",
           program);
}

KivdCommandLineResult ParseKivdCommandLine(int argc, char* argv[]) {
    KivdCommandLineResult result;
    SetSetting("logFile", getKIVMediaDir("/logs/kivd.log"));

    // getopt keeps its position in globals; start from the first argument every time.
    optind = 1;
    while (true) {
        int index = 0;
        int c = getopt_long(argc, argv, "Vfdrv:m:l:p:P:HCh", longOptions, &index);
        if (c == -1) {
            break;
        }
        switch (c) {
        case 'V':
            printVersionInfo();
            return {true, 0};
        case 'f':
            SetSetting("daemonize", 0);
            break;
        case 'd':
            SetSetting("daemonize", 1);
            break;
        case 'r':
            SetSetting("restarted", 1);
            break;
        case 'v':
            setVolume(atoi(optarg));
            break;
        case 'm': {
            std::string mode = optarg;
            // "bridge" is the older name of player mode, as in the settings file.
            if (mode == "player" || mode == "bridge") {
                SetSetting("kivMode", "player");
            } else if (mode == "master") {
                SetSetting("kivMode", "player");
                SetSetting("MultiSyncEnabled", 1);
            } else if (mode == "remote") {
                SetSetting("kivMode", "remote");
            } else {
                fprintf(stderr, "Error parsing mode\n");
                return {true, 1};
            }
            break;
        }
        case 'l':
            SetSetting("logFile", optarg);
            break;
        case 'p':
            SetSetting("resumePlaylist", optarg);
            break;
        case 'P':
            SetSetting("resumePosition", atoi(optarg));
            break;
        case 'H':
        case 'C':
            return {true, detectHardware(c == 'C')};
        case 'h':
            PrintKivdUsage(argv[0]);
            return {true, 0};
        case OPT_LOG_LEVEL: {
            std::string spec = optarg;
            if (SetLogLevelComplex(spec)) {
                printf("%s\n", KIVLogger::INSTANCE.GetLogLevelString().c_str());
                LogInfo(kivlog::Settings, "Log Level set to %d (%s)\n", KIVLogger::INSTANCE.MinimumLogLevel(),
                        optarg);
            } else {
                fprintf(stderr, "Invalid log level '%s', keeping the levels of the settings\n", optarg);
            }
            break;
        }
        default:
            PrintKivdUsage(argv[0]);
            return {true, 1};
        }
    }
    // A foreground daemon echoes every line to standard output as well.
    SetLogFile(getSetting("logFile").c_str(), getSettingInt("daemonize") == 0);
    return result;
}

std::vector<std::string> BuildRestartArguments(bool daemonize, const std::string& logLevels,
                                               bool resumeScheduled, const std::string& playlist,
                                               int position) {
    std::vector<std::string> args = {daemonize ? "-d" : "-f", "--log-level", logLevels, "-r"};
    if (resumeScheduled) {
        args.insert(args.end(), {"-p", playlist, "-P", std::to_string(position - 1)});
    }
    return args;
}
