#include "KivdLifecycle.h"

#include <curl/curl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "ChannelTester.h"
#include "ControlSocket.h"
#include "CrashHandler.h"
#include "Daemonize.h"
#include "Events.h"
#include "GPIOManager.h"
#include "KivdCommandLine.h"
#include "MainLoop.h"
#include "MultiSync.h"
#include "Player.h"
#include "PluginManager.h"
#include "RuntimeInfo.h"
#include "Scheduler.h"
#include "Sensors.h"
#include "Sequence.h"
#include "SignalRequests.h"
#include "WarningHolder.h"
#include "channeloutput/ChannelOutputManager.h"
#include "commands/CommandManager.h"
#include "common.h"
#include "effects.h"
#include "gpio/PinCapabilities.h"
#include "log.h"
#include "mediaoutput/MediaOutput.h"
#include "overlays/PixelOverlayManager.h"
#include "settings.h"

namespace {

// "/system/kivd/#": stop or restart the daemon.
void kivdCallback(const std::string& topic, const std::string& payload) {
    LogDebug(kivlog::General, "System Callback for %s\n", topic.c_str());
    if (endsWith(topic, "/stop")) {
        LogInfo(kivlog::General, "Stopping KIV for request:   %s\n", topic.c_str());
        ShutdownKIVD(false);
    } else if (endsWith(topic, "/restart")) {
        LogInfo(kivlog::General, "Restarting KIV for request:   %s\n", topic.c_str());
        ShutdownKIVD(true);
    } else {
        LogWarn(kivlog::General, "Invalid request in kivd_callback  %s\n", topic.c_str());
    }
}

// "/system/shutdown" and "/system/restart": the operating system, through the web server.
void systemCallback(const std::string& topic, const std::string& payload) {
    LogDebug(kivlog::General, "System Callback for %s\n", topic.c_str());
    std::string response;
    if (endsWith(topic, "/shutdown")) {
        LogInfo(kivlog::General, "Shutting down OS for request:   %s\n", topic.c_str());
        urlGet("http://localhost/api/system/shutdown", response);
    } else if (endsWith(topic, "/restart")) {
        LogInfo(kivlog::General, "Restarting KIV for request:   %s\n", topic.c_str());
        urlGet("http://localhost/api/system/reboot", response);
    } else {
        LogWarn(kivlog::General, "Invalid  request in mqtt_system_callback  %s\n", topic.c_str());
    }
}

void loadSensors() {
    Sensors::INSTANCE.DetectHWSensors();
    Json::Value cape;
    if (LoadJsonFromFile(getKIVMediaDir("/tmp/cape-sensors.json"), cape) && cape.isObject()) {
        if (cape.isMember("sensorSources")) {
            Sensors::INSTANCE.addSensorSources(cape["sensorSources"]);
        }
        if (cape.isMember("sensors")) {
            Sensors::INSTANCE.addSensors(cape["sensors"]);
        }
    }
    Json::Value user;
    if (LoadJsonFromFile(getKIVMediaDir("/config/sensors.json"), user) && user.isObject() &&
        user.isMember("sensors")) {
        Sensors::INSTANCE.addSensors(user["sensors"]);
    }
}

// What a restart needs to resume the scheduled playlist, taken as soon as the loop ends,
// before shutdown tears the player's surroundings down.
struct ResumePoint {
    bool scheduled = false;
    std::string playlist;
    int position = 0;
};

ResumePoint takeResumePoint() {
    ResumePoint point;
    if (Player::INSTANCE.GetStatus() == Player::PLAYING && Player::INSTANCE.WasScheduled()) {
        point.scheduled = true;
        point.playlist = Player::INSTANCE.GetPlaylistName();
        point.position = Player::INSTANCE.GetPosition();
    }
    return point;
}

int restart(const std::string& logLevels, const ResumePoint& resume) {
    std::string program = getKIVDDir("/src/kivd");
    std::vector<std::string> args = BuildRestartArguments(getSettingInt("daemonize") != 0, logLevels,
                                                          resume.scheduled, resume.playlist, resume.position);
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    LogErr(kivlog::General, "Restart failed: could not execute %s: %s\n", program.c_str(), strerror(errno));
    return 1;
}

void makeMediaFolders() {
    // An empty media directory still gets a log file and the daemon's scratch files.
    for (const char* folder : {"/logs", "/tmp"}) {
        std::string path = getKIVMediaDir(folder);
        if (!DirectoryExists(path) && mkdir(path.c_str(), 0775) == 0) {
            SetFilePerms(path, true);
        }
    }
}

} // namespace

int RunKivd(int argc, char* argv[]) {
    InstallCrashHandlers();
    if (!InstallRequestSignalHandlers()) {
        LogWarn(kivlog::General, "Failed to install the stop and restart signal handlers.\n");
    }

    KIVLogger::INSTANCE.Init();
    LoadSettings(argv[0]);
    curl_global_init(CURL_GLOBAL_ALL);

    KivdCommandLineResult options = ParseKivdCommandLine(argc, argv);
    if (options.exit) {
        return options.status;
    }
    makeMediaFolders();
    RefreshCrashHandlerSettings();

    std::string restartedMarker = getKIVMediaDir("/tmp/kivd_restarted");
    if (FileExists(restartedMarker)) {
        unlink(restartedMarker.c_str());
        SetSetting("restarted", 1);
    }
    if (loggingToFile()) {
        logVersionInfo();
    }
    if (getSettingInt("daemonize")) {
        Daemonize();
    }

    PinCapabilities::InitGPIO("KIVD");
    srand((unsigned)time(nullptr));
    CommandManager::INSTANCE.Init();

    if (!getSetting("MQTTHost").empty()) {
        LogInfo(kivlog::General, "Creating MQTT\n");
        LogWarn(kivlog::General, "MQTT is not available in this build yet. Starting without MQTT.\n");
    }

    Events::AddCallback("/system/kivd/#", kivdCallback);
    Events::AddCallback("/system/shutdown", systemCallback);
    Events::AddCallback("/system/restart", systemCallback);
    WarningHolder::SetWarningsFile(getKIVMediaDir("/tmp/warnings.json"));
    WarningHolder::StartNotifyThread();

    LogInfo(kivlog::General, "Creating Scheduler, Playlist, and Sequence\n");
    scheduler = new Scheduler();
    sequence = new Sequence();
    sequence->SetPresetTrigger([](const std::string& name, std::map<std::string, std::string>& keywords) {
        CommandManager::INSTANCE.TriggerPreset(name, keywords);
    });
    LogInfo(kivlog::General, "Creation of Scheduler, Playlist, and Sequence Complete\n");

    if (!MultiSync::INSTANCE.Init()) {
        LogErr(kivlog::General, "Player synchronisation failed to start.\n");
        // A running notifier thread must not meet the static destructors.
        WarningHolder::StopNotifyThread();
        exit(1);
    }
    loadSensors();
    Player::INSTANCE.Init();

    PluginManager::INSTANCE.init();
    InitMediaOutput();
    PixelOverlayManager::INSTANCE.Initialize();
    InitializeChannelOutputs();
    PluginManager::INSTANCE.loadUserPlugins();

    if (!getSettingInt("restarted")) {
        sequence->SendBlankingData();
    }
    InitEffects();
    ChannelTester::INSTANCE.RegisterCommands();
    WriteRuntimeInfoFile(MultiSync::INSTANCE.GetSystems(true, false));

    CommandManager::INSTANCE.TriggerPreset("KIVD_STARTED");
    MainLoop();
    ResumePoint resume = takeResumePoint();
    CommandManager::INSTANCE.TriggerPreset("KIVD_STOPPED");

    Events::PrepareForShutdown();
    CleanupMediaOutput();
    CloseEffects();
    CloseChannelOutputs();
    CommandManager::INSTANCE.Cleanup();
    MultiSync::INSTANCE.ShutdownSync();
    PluginManager::INSTANCE.Cleanup();
    GPIOManager::INSTANCE.Cleanup();
    delete scheduler;
    scheduler = nullptr;
    delete sequence;
    sequence = nullptr;
    runMainKIVDLoop = -1;
    Sensors::INSTANCE.Close();
    WarningHolder::StopNotifyThread();
    curl_global_cleanup();
    std::string logLevels = KIVLogger::INSTANCE.GetLogLevelString();
    CloseCommand();

    bool restarting = restartKIVD;
    if (restarting) {
        // Logged and tidied before the descriptors go, so nothing is written into a closed
        // or reused descriptor.
        LogInfo(kivlog::General, "Performing Restart.\n");
        unlink(RuntimeInfoFilePath().c_str());
    }
    CloseOpenFiles();
    WarningHolder::clearWarningsFile();
    if (restarting) {
        return restart(logLevels, resume);
    }
    LogInfo(kivlog::General, "kivd stopped.\n");
    return 0;
}
