#include "channeloutput/ChannelOutputThread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "ChannelTester.h"
#include "MonotonicClock.h"
#include "MultiSync.h"
#include "Sequence.h"
#include "channeloutput/ChannelOutputManager.h"
#include "effects.h"
#include "log.h"
#include "mediaoutput/SDLOutput.h"
#include "overlays/PixelOverlayManager.h"
#include "settings.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int REMOTE_MODE = 8;
constexpr int PLAYER_BIT = 2;

std::atomic<float> RefreshRate{20.0f};
std::atomic<int> LightDelay{50000};
std::atomic<int> SequenceLightDelay{50000};
std::atomic<int> BridgeLightDelay{50000};
std::atomic<int> MasterFramesPlayed{-1};
std::atomic<int> FrameSkip{0};
std::atomic<int> OutputFrames{1};
std::atomic<int> RunThread{0};
std::atomic<int> ThreadIsRunning{0};
std::atomic<int> ThreadIsExiting{0};
std::atomic<int> outputForced{0};
std::atomic<int> alwaysTransmit{0};
std::atomic<float> mediaOffset{0.0f};
std::atomic<float> nextSyncCheck{0.5f};
std::atomic<bool> threadHeld{false};
std::atomic<std::thread::id> outputThreadId{};

// Guards only the sleep between frames, so a force request never waits for a pass.
std::mutex outputThreadLock;
std::condition_variable outputThreadCond;
bool forceRequested = false; // under outputThreadLock

std::mutex outputThreadStatusLock;
std::condition_variable outputThreadSatusCond;
std::thread outputThread; // under startStopLock
unsigned threadGeneration = 0; // under outputThreadStatusLock; counts thread starts
// Serialises Start and Stop, which both own the thread handle.
std::mutex startStopLock;

bool isRemote() {
    return (int)getKIVmode() == REMOTE_MODE;
}

bool isPlayerMode() {
    return ((int)getKIVmode() & PLAYER_BIT) != 0;
}

bool sequenceRunning() {
    return sequence && sequence->IsSequenceRunning();
}

bool bridgeData() {
    return sequence && sequence->hasBridgeData();
}

bool overlaysNeedOutput() {
    return IsEffectRunning() || PixelOverlayManager::INSTANCE.hasActiveOverlays() || SDLOutput::IsOverlayingVideo() ||
           ChannelTester::INSTANCE.Testing() || alwaysTransmit || bridgeData();
}

int playbackMS() {
    if (sequenceRunning()) {
        return (int)(channelOutputFrame * 1000.0 / RefreshRate);
    }
    return (int)(mediaElapsedSeconds * 1000);
}

// The remote start-up wait: up to 2 s for a master's position, unless something else
// already needs output.
void waitForMaster() {
    for (int i = 0; i < 2000 && RunThread; i++) {
        if (overlaysNeedOutput() || outputForced || MasterFramesPlayed >= 0) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (MasterFramesPlayed < 0 && !overlaysNeedOutput() && !outputForced) {
        LogDebug(kivlog::ChannelOut, "No master position within 2 s, output thread ends\n");
        RunThread = 0;
    }
}

void RunChannelOutputThread() {
    int idleCountdown = isRemote() ? 20 : 1;
    alwaysTransmit = getSettingInt("alwaysTransmit", 0);
    LogDebug(kivlog::ChannelOut, "RunChannelOutputThread() starting\n");
    outputThreadId = std::this_thread::get_id();

    {
        std::lock_guard<std::mutex> lk(outputThreadStatusLock);
        ThreadIsRunning = 1;
        ThreadIsExiting = 0;
        threadGeneration++;
    }
    outputThreadSatusCond.notify_all();
    StartingOutput();

    if (isRemote()) {
        waitForMaster();
    }

    int slowCount = 0;
    int64_t lastStatTime = 0;
    bool forcedLast = false;        // the previous sleep was cut short by a force request
    bool regularPass = true;        // this pass's frame deadline has come
    int64_t due = GetMonotonicTimeUS(); // when this frame is due

    while (RunThread) {
        int64_t t0 = GetMonotonicTimeUS();
        if (sequence) {
            sequence->RunPendingBufferWork();
        }

        bool running = sequenceRunning();
        if (MultiSync::INSTANCE.isMultiSyncEnabled() && running) {
            float secs = mediaElapsedSeconds > 0 ? (float)mediaElapsedSeconds : channelOutputFrame / RefreshRate;
            MultiSync::INSTANCE.SendSeqSyncPacket(sequence->GetSequenceName(), channelOutputFrame, secs);
        }

        bool outputNeed = overlaysNeedOutput() || outputForced || forcedLast;

        if (OutputFrames && sequence) {
            bool bridge = bridgeData();
            if (bridge || !sequence->dataProcessed) {
                sequence->ProcessSequenceData(playbackMS());
            }
            if (isRemote() && !outputNeed) {
                for (int i = 0; i < 1000 && MasterFramesPlayed < 0 && !bridgeData(); i++) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
            sequence->SendSequenceData();
        }

        int64_t t1 = GetMonotonicTimeUS();

        // A forced pass only sends: the sequence advances on its own deadlines.
        if (regularPass && sequence && (running || idleCountdown != 0)) {
            int skip = FrameSkip;
            if (skip != 0 && running) {
                sequence->SeekSequenceFile((int)channelOutputFrame + 1 + skip);
                FrameSkip = 0;
            }
            sequence->ReadSequenceData(false);
        }

        int64_t t2 = GetMonotonicTimeUS();
        if (sequence && !bridgeData()) {
            sequence->ProcessSequenceData(playbackMS());
        }
        int64_t t3 = GetMonotonicTimeUS();

        int64_t loop = t3 - t0;
        if (loop > 150000) {
            slowCount = 3;
        } else if (loop > 50000) {
            if (++slowCount > 3) {
                LogWarn(kivlog::ChannelOut,
                        "SLOW Output Thread: Loop: %dus, Send: %lldus, Read: %lldus, Process: %lldus, FrameNum: %ld\n",
                        (int)LightDelay, (long long)(t1 - t0), (long long)(t2 - t1), (long long)(t3 - t2),
                        (long)channelOutputFrame);
            }
        } else {
            slowCount = 0;
        }

        running = sequenceRunning();
        {
            std::unique_lock<std::mutex> lk(outputThreadStatusLock);
            if (outputNeed || running || bridgeData()) {
                idleCountdown = isRemote() ? 20 : 1;
                int64_t sleep = LightDelay - (t3 - t0);
                if (channelOutputFrame <= 1 || sleep <= 0 || t3 - lastStatTime >= 1000000) {
                    LogDebug(kivlog::ChannelOut,
                             "Output Thread: Loop: %dus, Send: %lldus, Read: %lldus, Process: %lldus, Sleep: %dus, "
                             "FrameNum: %ld\n",
                             (int)LightDelay, (long long)(t1 - t0), (long long)(t2 - t1), (long long)(t3 - t2),
                             (int)std::max<int64_t>(sleep, 0), (long)channelOutputFrame);
                    lastStatTime = t3;
                }
            } else {
                LightDelay = (int)BridgeLightDelay;
                if (idleCountdown > 0) {
                    idleCountdown--;
                } else {
                    ThreadIsExiting = 1;
                    bool recalled = outputThreadSatusCond.wait_for(lk, std::chrono::milliseconds(2500),
                                                                   [] { return ThreadIsExiting == 0 || !RunThread; });
                    if (!recalled || !RunThread) {
                        RunThread = 0;
                    } else {
                        outputThreadSatusCond.notify_all();
                        idleCountdown = 1;
                    }
                    ThreadIsExiting = 0;
                    // Winding down is a pause in output: the next frame is due now.
                    due = GetMonotonicTimeUS() - LightDelay;
                }
            }
        }

        if (regularPass) {
            // The next frame is due one period after this one was due, however late this
            // pass woke: a late wake is made up by the next sleep being shorter. Only a pass
            // that itself took longer than a period starts the chain again from now.
            due += std::max(1000, (int)LightDelay);
            int64_t now = GetMonotonicTimeUS();
            if (now - t0 > LightDelay) {
                due = now;
            }
        }

        forcedLast = false;
        regularPass = true;
        if (!RunThread) {
            break;
        }
        std::unique_lock<std::mutex> lk(outputThreadLock);
        auto deadline = SteadyClock::time_point(std::chrono::microseconds(due));
        bool forced = outputThreadCond.wait_until(lk, deadline, [] { return forceRequested || !RunThread; });
        if (forced && RunThread && forceRequested) {
            forceRequested = false;
            if (SteadyClock::now() < deadline) {
                LogDebug(kivlog::ChannelOut, "Forced output\n");
                forcedLast = true;
                regularPass = false;
            }
        }
    }

    if (sequence && sequence->RunPendingBufferWork()) {
        sequence->ProcessSequenceData(0);
        sequence->SendSequenceData(); // a dark frame asked for as the thread ended
    }
    StoppingOutput();
    outputThreadId = std::thread::id();
    {
        std::lock_guard<std::mutex> lk(outputThreadStatusLock);
        ThreadIsRunning = 0;
        ThreadIsExiting = 0;
    }
    outputThreadSatusCond.notify_all();
    LogDebug(kivlog::ChannelOut, "RunChannelOutputThread() completed\n");
}

} // namespace

bool HoldChannelOutputThread(bool hold) {
    return threadHeld.exchange(hold);
}

int StartChannelOutputThread() {
    LogDebug(kivlog::ChannelOut, "StartChannelOutputThread()\n");
    if (threadHeld) {
        LogDebug(kivlog::ChannelOut, "Channel output thread is held, not started\n");
        return 0;
    }
    BridgeLightDelay = std::max(1, getSettingInt("E131BridgingInterval", 50)) * 1000;
    if (isPlayerMode()) {
        mediaOffset = getSettingInt("mediaOffset", 0) * 0.001f;
        LogDebug(kivlog::MediaOut, "Using mediaOffset of %.3f\n", (float)mediaOffset);
    }

    std::lock_guard<std::mutex> ss(startStopLock);
    std::unique_lock<std::mutex> lk(outputThreadStatusLock);
    if (ThreadIsRunning) {
        // Recall a thread that is winding down.
        ThreadIsExiting = 0;
        outputThreadSatusCond.notify_all();
        if (RunThread) {
            LogDebug(kivlog::ChannelOut, "Channel Output thread is already running\n");
            return 1;
        }
        // It was told to end: let it finish, then start afresh.
        outputThreadSatusCond.wait_for(lk, std::chrono::seconds(5), [] { return ThreadIsRunning == 0; });
        if (ThreadIsRunning) {
            LogErr(kivlog::ChannelOut, "ERROR creating channel output thread: %s\n", "previous thread did not end");
            return 0;
        }
    }
    if (outputThread.joinable()) {
        outputThread.join(); // it ended by itself; ThreadIsRunning is already 0
    }
    RunThread = 1;
    ThreadIsExiting = 0;
    unsigned generation = threadGeneration;
    try {
        outputThread = std::thread(RunChannelOutputThread);
    } catch (const std::system_error& e) {
        RunThread = 0;
        const char* why = e.code() == std::errc::resource_unavailable_try_again ? "Insufficient Resources"
                          : e.code() == std::errc::invalid_argument            ? "Invalid settings"
                          : e.code() == std::errc::operation_not_permitted     ? "Invalid Permissions"
                                                                               : e.what();
        LogErr(kivlog::ChannelOut, "ERROR creating channel output thread: %s\n", why);
        return 0;
    }
    // Compare generations, not the running flag: a thread may start and end before we look.
    outputThreadSatusCond.wait(lk, [generation] { return threadGeneration != generation; });
    return 1;
}

int StopChannelOutputThread() {
    LogDebug(kivlog::ChannelOut, "StopChannelOutputThread()\n");
    std::lock_guard<std::mutex> ss(startStopLock);
    RunThread = 0;
    {
        std::lock_guard<std::mutex> lk(outputThreadLock);
    }
    outputThreadCond.notify_all();
    std::unique_lock<std::mutex> lk(outputThreadStatusLock);
    outputThreadSatusCond.notify_all();
    if (!outputThreadSatusCond.wait_for(lk, std::chrono::seconds(5), [] { return ThreadIsRunning == 0; })) {
        return -1;
    }
    if (outputThread.joinable()) {
        outputThread.join();
    }
    return 0;
}

void ForceChannelOutputNow() {
    LogDebug(kivlog::ChannelOut, "ForceChannelOutputNow()\n");
    {
        std::lock_guard<std::mutex> lk(outputThreadStatusLock);
        ThreadIsExiting = 0;
    }
    outputThreadSatusCond.notify_all();
    {
        std::lock_guard<std::mutex> lk(outputThreadLock);
        forceRequested = true;
    }
    outputThreadCond.notify_all();
}

int StartForcingChannelOutput() {
    outputForced++;
    return StartChannelOutputThread();
}

void StopForcingChannelOutput() {
    int v = outputForced;
    while (v > 0 && !outputForced.compare_exchange_weak(v, v - 1)) {
    }
}

void EnableChannelOutput() {
    LogDebug(kivlog::ChannelOut, "EnableChannelOutput()\n");
    OutputFrames = 1;
}

void DisableChannelOutput() {
    LogDebug(kivlog::ChannelOut, "DisableChannelOutput()\n");
    OutputFrames = 0;
}

int ChannelOutputThreadIsRunning() {
    return ThreadIsRunning;
}

bool IsChannelOutputThread() {
    return outputThreadId.load() == std::this_thread::get_id();
}

int ChannelOutputThreadIsEnabled() {
    return OutputFrames;
}

float SetChannelOutputRefreshRate(float rate) {
    if (!(rate > 0.0f) || !std::isfinite(rate)) {
        LogErr(kivlog::ChannelOut, "Refusing channel output refresh rate %f\n", rate);
        return RefreshRate;
    }
    RefreshRate = rate;
    int delay = (int)(1000000 / rate);
    SequenceLightDelay = delay;
    LightDelay = delay;
    return rate;
}

float GetChannelOutputRefreshRate() {
    return RefreshRate;
}

int GetChannelOutputLightDelay() {
    return LightDelay;
}

int GetChannelOutputFrameSkip() {
    return FrameSkip;
}

void ResetMasterPosition() {
    MasterFramesPlayed = -1;
}

void UpdateMasterPosition(int frameNumber) {
    MasterFramesPlayed = frameNumber;
    CalculateNewChannelOutputDelayForFrame(frameNumber);
}

OutputSyncResult ComputeOutputSync(const OutputSyncInput& in) {
    OutputSyncResult out{in.lightDelay, false, 0};
    int diff = in.frame - in.expected;
    if (!in.sendsSync) {
        if (diff < -4) {
            if (diff <= -0.5 * in.refreshRate) {
                LogDebug(kivlog::ChannelOut, "Skipping many frames - We are at %d, master is at: %d\n", in.frame,
                         in.expected);
                out.setFrameSkip = true;
                out.frameSkip = in.expected - in.frame;
                out.lightDelay = in.basePeriod;
                return out;
            }
            LogDebug(kivlog::ChannelOut, "Skipping a few frames - We are at %d, master is at: %d\n", in.frame,
                     in.expected);
            out.setFrameSkip = true;
            out.frameSkip = 4;
            diff += 4;
        } else if (diff > 2) {
            out.setFrameSkip = true;
            out.frameSkip = -1;
            diff -= 1;
        }
    }
    int base = in.basePeriod;
    if (diff == 0) {
        out.lightDelay = base;
    } else if (diff == -1) {
        if (base < in.lightDelay) {
            out.lightDelay = base;
        }
    } else if (diff == 1) {
        if (base > in.lightDelay) {
            out.lightDelay = base;
        }
    } else {
        int newDelay = base;
        if ((in.expected >= in.frame && in.lightDelay <= base) || (in.expected < in.frame && in.lightDelay >= base)) {
            newDelay = in.lightDelay + diff * (base / 100);
            // Catch up, but never at less than half the nominal period.
            newDelay = std::max(newDelay, std::max(base - 15000, base / 2));
        }
        LogDebug(kivlog::ChannelOut, "LightDelay: %d, newLightDelay: %d,   DiffFrames: %d     %d/%d\n", in.lightDelay,
                 newDelay, diff, in.frame, in.expected);
        out.lightDelay = newDelay;
    }
    return out;
}

void CalculateNewChannelOutputDelayForFrame(int expectedFrame) {
    OutputSyncInput in;
    in.frame = (int)channelOutputFrame;
    in.expected = expectedFrame;
    in.refreshRate = RefreshRate;
    in.lightDelay = LightDelay;
    in.basePeriod = sequenceRunning() ? (int)SequenceLightDelay : (int)BridgeLightDelay;
    in.sendsSync = MultiSync::INSTANCE.isMultiSyncEnabled();
    OutputSyncResult r = ComputeOutputSync(in);
    if (r.setFrameSkip) {
        FrameSkip = r.frameSkip;
    }
    LightDelay = r.lightDelay;
}

int MediaExpectedFrame(float mediaSeconds, float offset, float refreshRate) {
    // A hair above the product so float rounding (1.9 x 20 = 37.99999) cannot lose a frame.
    return (int)std::floor(((double)mediaSeconds - (double)offset) * (double)refreshRate + 1e-4);
}

void CalculateNewChannelOutputDelay(float mediaSeconds) {
    mediaElapsedSeconds = mediaSeconds;
    if (isRemote() || !sequenceRunning()) {
        return;
    }
    float next = nextSyncCheck;
    if (mediaSeconds < next && next - mediaSeconds < 2.0f) {
        return;
    }
    nextSyncCheck = mediaSeconds + 20.0f / RefreshRate;
    int expected = MediaExpectedFrame(mediaSeconds, mediaOffset, RefreshRate);
    LogDebug(kivlog::ChannelOut, "Media Position: %.2f, Offset: %.3f, Frames Sent: %d, Expected: %d, Diff: %d\n",
             mediaSeconds, (float)mediaOffset, (int)channelOutputFrame, expected, (int)channelOutputFrame - expected);
    CalculateNewChannelOutputDelayForFrame(expected);
}
