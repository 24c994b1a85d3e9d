#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "Timers.h"

namespace {

// A registry of its own on a clock the test moves by hand.
class TimersTest : public ::testing::Test {
protected:
    Timers timers;
    long long now = 0;
    std::vector<std::string> fired;
    void SetUp() override {
        timers.SetClock([this] { return now; });
    }
    void TearDown() override { Timers::SetPresetTrigger(nullptr); }
    std::function<void()> record(const std::string& what) {
        return [this, what] { fired.push_back(what); };
    }
    // What the main loop does on one pass at time t.
    void passAt(long long t) {
        now = t;
        timers.fireTimers();
    }
};

TEST_F(TimersTest, FireInTimeOrderOnlyWhenStrictlyPast) {
    timers.addTimer("b", 200, record("b"));
    timers.addTimer("a", 100, record("a"));
    timers.addTimer("", 150, record("unnamed"));
    EXPECT_TRUE(timers.hasTimers);
    EXPECT_EQ(timers.nextTimerMS, 100);

    timers.fireTimersInternal(100); // equal to its time: not yet
    EXPECT_TRUE(fired.empty());
    timers.fireTimersInternal(101);
    EXPECT_EQ(fired, (std::vector<std::string>{"a"}));
    EXPECT_EQ(timers.nextTimerMS, 150);
    timers.fireTimersInternal(1000);
    EXPECT_EQ(fired, (std::vector<std::string>{"a", "unnamed", "b"}));
    EXPECT_FALSE(timers.hasTimers);
    EXPECT_EQ(timers.TimerCount(), 0u);
}

TEST_F(TimersTest, SameNameReplacesUnnamedNeverDo) {
    timers.addTimer("x", 100, record("first"));
    timers.addTimer("x", 300, record("second"));
    timers.addTimer("", 500, record("u1"));
    timers.addTimer("", 500, record("u2"));
    EXPECT_EQ(timers.TimerCount(), 3u);
    passAt(200);
    EXPECT_TRUE(fired.empty());
    passAt(301);
    EXPECT_EQ(fired, (std::vector<std::string>{"second"}));
    passAt(501);
    EXPECT_EQ(fired.size(), 3u);
}

TEST_F(TimersTest, PresetTimers) {
    std::vector<std::string> presets;
    Timers::SetPresetTrigger([&](const std::string& name) { presets.push_back(name); });

    timers.addTimer("", 100, std::string()); // an empty command adds nothing
    EXPECT_EQ(timers.TimerCount(), 0u);

    // A function timer turned into a preset timer runs only the preset...
    timers.addTimer("m", 100, record("callback"));
    timers.addTimer("m", 100, std::string("SHOW_START"));
    // ...and a preset timer turned back into a function timer only the function.
    timers.addTimer("n", 100, std::string("NEVER"));
    timers.addTimer("n", 100, record("n-callback"));
    EXPECT_EQ(timers.TimerCount(), 2u);
    passAt(101);
    EXPECT_EQ(presets, (std::vector<std::string>{"SHOW_START"}));
    EXPECT_EQ(fired, (std::vector<std::string>{"n-callback"}));

    // Without a registered trigger the preset is dropped, not fired later.
    Timers::SetPresetTrigger(nullptr);
    timers.addTimer("p", 200, std::string("LOST"));
    passAt(201);
    EXPECT_EQ(timers.TimerCount(), 0u);
}

TEST_F(TimersTest, PeriodicTimerRearmsAfterItsCallback) {
    std::vector<long long> firedAt;
    timers.addPeriodicTimer("tick", 1000, [&] {
        firedAt.push_back(now);
        now += 30; // the callback takes 30 ms
    });
    EXPECT_EQ(timers.nextTimerMS, 1000);
    for (long long t = 0; t <= 3200; t += 10) {
        if (t > now) {
            passAt(t);
        }
    }
    // Due at 1000, then a period after each callback ends (2040, 3080); the loop passes every 10 ms.
    EXPECT_EQ(firedAt, (std::vector<long long>{1010, 2050, 3090}));

    timers.stopPeriodicTimer("tick");
    EXPECT_FALSE(timers.hasTimers);
    passAt(10000);
    EXPECT_EQ(firedAt.size(), 3u);

    timers.addPeriodicTimer("bad", 0, record("never"));
    timers.addPeriodicTimer("bad", -5, record("never"));
    EXPECT_EQ(timers.TimerCount(), 0u);
    timers.stopPeriodicTimer(""); // does nothing
}

TEST_F(TimersTest, StoppingOneShotAndPeriodicByName) {
    timers.addTimer("once", 100, record("once"));
    timers.addPeriodicTimer("every", 50, record("every"));
    timers.stopPeriodicTimer("once");
    EXPECT_EQ(timers.TimerCount(), 1u);
    EXPECT_EQ(timers.nextTimerMS, 50);
    timers.stopPeriodicTimer("every");
    EXPECT_FALSE(timers.hasTimers);
    passAt(1000);
    EXPECT_TRUE(fired.empty());
}

TEST_F(TimersTest, CallbacksMayChangeTimersAndMayThrow) {
    timers.addPeriodicTimer("tick", 100, record("tick"));
    timers.addTimer("chain", 10, [this] {
        fired.push_back("chain");
        timers.addTimer("later", 500, record("later"));
        timers.stopPeriodicTimer("tick");
    });
    timers.addTimer("throws", 20, [] { throw std::runtime_error("boom"); });
    passAt(50);
    EXPECT_EQ(fired, (std::vector<std::string>{"chain"}));
    EXPECT_EQ(timers.TimerCount(), 1u);
    EXPECT_EQ(timers.nextTimerMS, 500);
    passAt(501);
    EXPECT_EQ(fired, (std::vector<std::string>{"chain", "later"}));
}

TEST_F(TimersTest, OtherThreadsAddWhileTheLoopFires) {
    std::atomic<int> count{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> adders;
    for (int a = 0; a < 2; a++) {
        adders.emplace_back([&, a] {
            for (int i = 0; i < 500; i++) {
                timers.addTimer(i % 3 ? "" : "n" + std::to_string(a) + "-" + std::to_string(i), 0,
                                [&count] { count++; });
            }
        });
    }
    std::thread loop([&] {
        while (!done) {
            timers.fireTimersInternal(1);
        }
    });
    for (auto& t : adders) {
        t.join();
    }
    done = true;
    loop.join();
    timers.fireTimersInternal(1);
    EXPECT_EQ(count.load(), 1000);
    EXPECT_FALSE(timers.hasTimers);
}

TEST(TimersInstanceTest, RealClockEntryPoint) {
    std::atomic<bool> ran{false};
    Timers::INSTANCE.addTimer("instance-test", 0, [&] { ran = true; });
    Timers::INSTANCE.fireTimers();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(Timers::INSTANCE.hasTimers);
}

} // namespace
