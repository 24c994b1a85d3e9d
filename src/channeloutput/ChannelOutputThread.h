#pragma once

// The channel output thread: once per frame period it sends the engine's buffer to every
// output, loads and prepares the next frame, and sleeps to the next frame's deadline. It
// follows a master player's frame number or the media clock by adjusting its period, winds
// down by itself when nothing needs output, and is started again on demand.
//
// Periods and deadlines are kept on the monotonic clock. Each pass is due one period after
// the previous pass was due (not after it woke), so wake-up delays do not add up; a pass
// that overran by more than a period resynchronises to now.

int StartChannelOutputThread();
// While held, StartChannelOutputThread starts nothing: closing the outputs must not race a
// restart, and tests drive the engine by hand. Does not stop a running thread.
// Returns the previous setting.
bool HoldChannelOutputThread(bool hold);
// 0 when the thread has ended (within 5 s), -1 otherwise.
int StopChannelOutputThread();
// Sends the buffer now. The sequence still advances only on its own frame deadlines.
void ForceChannelOutputNow();
int StartForcingChannelOutput();
void StopForcingChannelOutput();
void EnableChannelOutput();
void DisableChannelOutput();
int ChannelOutputThreadIsRunning();
// True on the channel output thread itself.
bool IsChannelOutputThread();
int ChannelOutputThreadIsEnabled();

float SetChannelOutputRefreshRate(float rate);
float GetChannelOutputRefreshRate();
// The current and nominal frame periods in microseconds, and the pending frame jump.
int GetChannelOutputLightDelay();
int GetChannelOutputFrameSkip();

void ResetMasterPosition();
void UpdateMasterPosition(int frameNumber);
// Media position report from the media player.
void CalculateNewChannelOutputDelay(float mediaSeconds);
void CalculateNewChannelOutputDelayForFrame(int expectedFrame);

// The synchronisation arithmetic, apart from the thread so it can be checked on its own.
struct OutputSyncInput {
    int frame;           // channelOutputFrame
    int expected;        // the master's or the media's frame
    float refreshRate;   // frames per second
    int lightDelay;      // current period, microseconds
    int basePeriod;      // nominal period, microseconds
    bool sendsSync;      // this system is the master
};
struct OutputSyncResult {
    int lightDelay;
    bool setFrameSkip;   // false: leave the pending jump as it is
    int frameSkip;
};
OutputSyncResult ComputeOutputSync(const OutputSyncInput& in);
// The frame the media clock expects: (mediaSeconds - offset) x rate, whole frames.
int MediaExpectedFrame(float mediaSeconds, float mediaOffset, float refreshRate);
