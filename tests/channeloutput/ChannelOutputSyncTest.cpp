#include <gtest/gtest.h>

#include "channeloutput/ChannelOutputThread.h"

namespace {

// 40 frames per second: nominal period 25,000 us, 1% = 250 us per frame of difference.
TEST(ChannelOutputSyncTest, FollowsTheMasterByTheFrameDifference) {
    struct Case {
        const char* what;
        OutputSyncInput in;
        int lightDelay;
        bool setsSkip;
        int frameSkip;
    };
    const Case cases[] = {
        {"in step", {100, 100, 40, 24000, 25000, false}, 25000, false, 0},
        {"3 behind", {97, 100, 40, 25000, 25000, false}, 24250, false, 0},
        {"10 behind skips 4, catches up 6", {90, 100, 40, 25000, 25000, false}, 23500, true, 4},
        {"20 behind jumps past the master", {80, 100, 40, 23000, 25000, false}, 25000, true, 20},
        {"3 ahead repeats one, slows by 2", {103, 100, 40, 25000, 25000, false}, 25500, true, -1},
        {"behind with a period pointing the wrong way", {97, 100, 40, 26000, 25000, false}, 25000, false, 0},
        {"ahead with a period pointing the wrong way", {102, 100, 40, 24000, 25000, false}, 25000, false, 0},
        {"1 behind keeps a shorter period", {99, 100, 40, 24500, 25000, false}, 24500, false, 0},
        {"1 behind drops a longer period", {99, 100, 40, 25500, 25000, false}, 25000, false, 0},
        {"1 ahead keeps a longer period", {101, 100, 40, 25500, 25000, false}, 25500, false, 0},
        {"1 ahead drops a shorter period", {101, 100, 40, 24500, 25000, false}, 25000, false, 0},
        {"floor: nominal minus 15 ms", {96, 100, 20, 35200, 50000, false}, 35000, false, 0},
        {"floor: half the nominal period at 25 ms", {96, 100, 40, 12600, 25000, false}, 12500, false, 0},
        {"floor: half the nominal period at 10 ms", {96, 100, 100, 5100, 10000, false}, 5000, false, 0},
        {"a master never skips", {90, 100, 40, 25000, 25000, true}, 22500, false, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        OutputSyncResult r = ComputeOutputSync(c.in);
        EXPECT_EQ(r.lightDelay, c.lightDelay);
        EXPECT_EQ(r.setFrameSkip, c.setsSkip);
        if (c.setsSkip) {
            EXPECT_EQ(r.frameSkip, c.frameSkip);
        }
        EXPECT_GT(r.lightDelay, 0);
    }
}

TEST(ChannelOutputSyncTest, MediaClockGivesTheExpectedFrame) {
    EXPECT_EQ(MediaExpectedFrame(2.0f, 0.1f, 20.0f), 38); // "mediaOffset" 100 ms
    EXPECT_EQ(MediaExpectedFrame(2.0f, 0.0f, 40.0f), 80);
    EXPECT_EQ(MediaExpectedFrame(0.02f, 0.0f, 40.0f), 0);
}

} // namespace
