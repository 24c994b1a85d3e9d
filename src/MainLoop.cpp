#include "MainLoop.h"

#include <memory>

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Bridge.h"
#include "BridgeDataSink.h"
#include "ChannelTester.h"
#include "ControlCommand.h"
#include "ControlSocket.h"
#include "CrashHandler.h"
#include "Events.h"
#include "GPIOManager.h"
#include "MultiSync.h"
#include "NetworkMonitor.h"
#include "Player.h"
#include "PluginManager.h"
#include "APIServer.h"
#include "Scheduler.h"
#include "Sensors.h"
#include "Sequence.h"
#include "SignalRequests.h"
#include "StatsPublisher.h"
#include "Timers.h"
#include "WarningHolder.h"
#include "channeloutput/ChannelOutputThread.h"
#include "common.h"
#include "log.h"
#include "mediaoutput/MediaOutput.h"
#include "overlays/PixelOverlayManager.h"
#include "settings.h"


namespace {

constexpr int IDLE_TIMEOUT_MS = 50;
constexpr int PLAYING_TIMEOUT_MS = 10;
constexpr int MAX_EVENTS = 20;
// Passes without events before housekeeping (about a second at the idle timeout), and
// passes with events when the loop is busy.
constexpr int IDLE_PASSES = 20;
constexpr int BUSY_PASSES = 20;
// Housekeeping runs before the first statistics request and between later ones.
constexpr int FIRST_STATS_COUNTDOWN = 200;
constexpr int STATS_COUNTDOWN = 60480;

// Received network data goes into the sequence engine's bridge buffer (same monotonic clock).
class SequenceBridgeSink : public BridgeDataSink {
public:
    void SetBridgeData(const uint8_t* data, int startChannel, int length, uint64_t expiresMs) override {
        if (sequence) {
            sequence->SetBridgeData(const_cast<uint8_t*>(data), startChannel, length, expiresMs);
        }
    }
};

bool includesPlayer(int mode) { return (mode & PLAYER_MODE) != 0; }

// Addition of every descriptor to one epoll instance; a descriptor that cannot be added is
// left out (its subsystem then gets no input), the rest still work.
int createPoller(const DescriptorCallbacks& callbacks) {
    int epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0) {
        LogErr(kivlog::General, "epoll_create1() failed: %s\n", strerror(errno));
        return -1;
    }
    for (const auto& [fd, handler] : callbacks) {
        struct epoll_event event = {};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) < 0) {
            LogWarn(kivlog::General, "epoll_ctl() failed for socket: %d  %s\n", fd, strerror(errno));
        }
    }
    return epollFd;
}

void housekeeping(int& statsCountdown, std::string& statsReason) {
    MultiSync::INSTANCE.PeriodicPing();
    RefreshCrashHandlerSettings();
    if (--statsCountdown < 0) {
        StatsPublisher::INSTANCE.PublishStatsBackground(statsReason);
        statsReason = "normal";
        statsCountdown = STATS_COUNTDOWN;
    }
}

} // namespace

void ShutdownKIVDCallback(bool restart) {
    LogInfo(kivlog::General, "Shutting down main loop.\n");
    restartKIVD = restart;
    runMainKIVDLoop = 0;
}

void MainLoop() {
    RegisterShutdownHandler(ShutdownKIVDCallback);
    std::string statsReason = "Startup";
    DescriptorCallbacks callbacks;

    LogDebug(kivlog::General, "MainLoop()\n");
    // Signals only write into this pipe; reading it here wakes the loop at once.
    int wakeFd = SignalWakeDescriptor();
    if (wakeFd >= 0) {
        callbacks[wakeFd] = DrainSignalWake;
    }
    ControlSocketHooks hooks;
    hooks.getVolume = [] { return getVolume(); };
    hooks.setVolume = [](int v) { setVolume(v); };
    SetControlSocketHooks(hooks);
    int commandSock = Command_Initialize();
    LogInfo(kivlog::General, "Command socket: %d\n", commandSock);
    if (commandSock >= 0) {
        callbacks[commandSock] = [](int) {
            CommandProc();
            return false;
        };
    }
    int syncSock = MultiSync::INSTANCE.GetControlSocket();
    LogInfo(kivlog::General, "Multisync socket: %d\n", syncSock);
    if (syncSock >= 0) {
        callbacks[syncSock] = [](int) {
            MultiSync::INSTANCE.ProcessControlPacket(false);
            return false;
        };
    }

    if (includesPlayer(getKIVmode())) {
        scheduler->CheckIfShouldBePlayingNow(0, -1);
        if (getSettingInt("alwaysTransmit")) {
            StartChannelOutputThread();
        }
    }

    static SequenceBridgeSink bridgeSink;
    Bridge_SetDataSink(&bridgeSink);
    Bridge_Initialize(callbacks);
    // Without the API the show still plays: a busy port is logged and the loop goes on.
    std::unique_ptr<APIServer> api(new APIServer());
    if (!api->Init()) {
        LogErr(kivlog::General, "The HTTP API is not available.\n");
    }
    GPIOManager::INSTANCE.Initialize(callbacks);
    PluginManager::INSTANCE.addControlCallbacks(callbacks);
    NetworkMonitor::INSTANCE.Init(callbacks);
    Sensors::INSTANCE.Init(callbacks);

    int epollFd = createPoller(callbacks);
    if (epollFd < 0) {
        runMainKIVDLoop = 0;
    }

    MultiSync::INSTANCE.Discover();
    Events::Ready();
    LogInfo(kivlog::General, "Starting main processing loop\n");

    int minimumLevel = KIVLogger::INSTANCE.MinimumLogLevel();
    if (minimumLevel == LOG_LEVEL_EXCESS) {
        WarningHolder::AddWarning("A Log Level is set to Excessive");
    } else if (minimumLevel == LOG_LEVEL_DEBUG) {
        WarningHolder::AddWarning("A Log Level is set to Debug");
    }

    const bool alwaysTransmit = getSettingInt("alwaysTransmit") != 0;
    int timeoutMS = IDLE_TIMEOUT_MS;
    int idleCount = 0;
    int statsCountdown = FIRST_STATS_COUNTDOWN;
    int previousStatus = Player::IDLE;
    // The first pass lets the player pick up a playlist to resume ("-p NAME", a restart).
    bool resumeDue = true;
    struct epoll_event events[MAX_EVENTS];

    while (runMainKIVDLoop) {
        int ready = epoll_wait(epollFd, events, MAX_EVENTS, timeoutMS);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            LogErr(kivlog::General, "Main epoll() failed: %s\n", strerror(errno));
            runMainKIVDLoop = 0;
            break;
        }
        bool pushedData = false;
        for (int i = 0; i < ready; i++) {
            auto it = callbacks.find(events[i].data.fd);
            if (it != callbacks.end()) {
                pushedData = it->second(events[i].data.fd) || pushedData;
            }
        }

        if (!ChannelOutputThreadIsRunning() &&
            (PixelOverlayManager::INSTANCE.hasActiveOverlays() || ChannelTester::INSTANCE.Testing() ||
             alwaysTransmit || sequence->hasBridgeData() || pushedData)) {
            StartChannelOutputThread();
        }

        const int mode = getKIVmode();
        if (includesPlayer(mode)) {
            bool busyAgain = false;
            if (resumeDue || Player::INSTANCE.IsPlaying()) {
                resumeDue = false;
                Player::INSTANCE.Process();
                if (Player::INSTANCE.IsPlaying() && previousStatus == Player::IDLE) {
                    timeoutMS = PLAYING_TIMEOUT_MS;
                }
            }
            int status = Player::INSTANCE.GetStatus();
            if (status == Player::IDLE &&
                (previousStatus == Player::PLAYING || previousStatus == Player::STOPPING_GRACEFULLY ||
                 previousStatus == Player::STOPPING_AFTER_LOOP || previousStatus == Player::PAUSED)) {
                // Playback has just ended: let the schedule say what comes next.
                // The player is idle already, so ask it which scheduled entry just ended.
                int entry = Player::INSTANCE.GetEndedScheduleEntry();
                Player::INSTANCE.Cleanup();
                scheduler->CheckIfShouldBePlayingNow(0, entry);
                if (Player::INSTANCE.GetStatus() != Player::IDLE) {
                    previousStatus = Player::IDLE;
                    scheduler->ScheduleProc();
                    busyAgain = true;
                } else {
                    timeoutMS = IDLE_TIMEOUT_MS;
                }
            }
            if (!busyAgain) {
                previousStatus = Player::INSTANCE.GetStatus();
                scheduler->ScheduleProc();
            }
        } else if (mode == REMOTE_MODE && GetMediaOutputStatus() == 1) {
            Player::INSTANCE.ProcessMedia();
        }

        if (pushedData) {
            ForceChannelOutputNow();
        }

        bool runHousekeeping = false;
        if (ready == 0) {
            // There is no SDL event queue to drain until media output exists.
            if (++idleCount >= IDLE_PASSES) {
                runHousekeeping = true;
            }
        } else if (idleCount <= 0) {
            if (--idleCount < -BUSY_PASSES) {
                runHousekeeping = true;
            }
        } else {
            runHousekeeping = true;
        }
        if (runHousekeeping) {
            housekeeping(statsCountdown, statsReason);
            idleCount = 0;
        }

        Timers::INSTANCE.fireTimers();
        // Asynchronous HTTP transfers are driven here once they exist.
        GPIOManager::INSTANCE.CheckGPIOInputs();
    }

    if (epollFd >= 0) {
        close(epollFd);
    }
    if (int signal = TakeReceivedSignal()) {
        LogInfo(kivlog::General, "Received signal %d (%s), shutting down main loop.\n", signal, strsignal(signal));
    }
    // SIGUSR1 and SIGQUIT: the report is written here, on the main thread, then the daemon
    // shuts down normally.
    if (int signal = TakeCrashReportRequest()) {
        WriteCrashReport(signal);
    }
    LogInfo(kivlog::General, "Stopping channel output thread.\n");
    StopChannelOutputThread();
    Bridge_Shutdown();
    Bridge_SetDataSink(nullptr);
    LogInfo(kivlog::General, "Main Loop complete, shutting down.\n");
    api.reset();
}
