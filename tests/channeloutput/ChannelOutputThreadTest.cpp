#include "PlaybackTestFixture.h"

namespace {

// The real output thread playing through the recording output.
class ChannelOutputThreadTest : public PlaybackTest {
protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        MakeEngine();
    }

    // Frame numbers of the sends, repeats collapsed; -1 for a blanked frame.
    std::vector<int> DistinctFrames() {
        std::vector<unsigned char> zeros(kChannels, 0);
        uint64_t zero = FrameChecksum(zeros.data(), kChannels);
        std::vector<int> out;
        for (auto& r : Rec().Snapshot()) {
            int f = r.checksum == zero ? -1 : (int)r.frame;
            if (f >= 0) {
                EXPECT_EQ(r.checksum, TestFrameChecksum(0, f, kChannels)) << "frame " << f;
            }
            if (out.empty() || out.back() != f) {
                out.push_back(f);
            }
        }
        return out;
    }
};

TEST_F(ChannelOutputThreadTest, PlaysEveryFrameInOrderThenBlanks) {
    ASSERT_EQ(sequence->OpenSequenceFile(WriteSequence("play.tavo", 20, 25), 0, -1), 1);
    sequence->StartSequence();
    ASSERT_TRUE(WaitFor([] { return !sequence->IsSequenceRunning(); }));
    ASSERT_TRUE(WaitFor([this] { auto d = DistinctFrames(); return !d.empty() && d.back() == -1; }));
    std::vector<int> expected;
    for (int i = 0; i < 20; i++) {
        expected.push_back(i);
    }
    expected.push_back(-1);
    EXPECT_EQ(DistinctFrames(), expected);
    EXPECT_EQ(Rec().startingCount, 1);
}

TEST_F(ChannelOutputThreadTest, ForcedOutputSendsWithoutAdvancingTheSequence) {
    // 250 ms frames: forty forced sends within a frame or two must not move it further.
    ASSERT_EQ(sequence->StartSequence(WriteSequence("slow.tavo", 40, 250), 0), 1);
    ASSERT_TRUE(WaitFor([this] { return Rec().Count() >= 1; }));
    size_t before = Rec().Count();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 40; i++) {
        ForceChannelOutputNow();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    double elapsedFrames =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 0.25;
    EXPECT_GT(Rec().Count(), before + 5); // the forced passes did send
    int last = DistinctFrames().back();
    EXPECT_LE(last, (int)elapsedFrames + 2);
    sequence->CloseSequenceFile();
}

TEST_F(ChannelOutputThreadTest, WindsDownWhenIdleAndCanBeRecalled) {
    ASSERT_EQ(StartChannelOutputThread(), 1);
    EXPECT_TRUE(ChannelOutputThreadIsRunning());
    // Idle in player mode: the thread winds down after its second idle pass and ends
    // 2.5 s later; a force request inside that time keeps it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(ChannelOutputThreadIsRunning());
    ForceChannelOutputNow();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(ChannelOutputThreadIsRunning());
    EXPECT_TRUE(WaitFor([] { return !ChannelOutputThreadIsRunning(); }, 6000));
    EXPECT_EQ(Rec().stoppingCount, 1);
    // It starts again on demand, and a stop ends it.
    ASSERT_EQ(StartChannelOutputThread(), 1);
    EXPECT_EQ(StopChannelOutputThread(), 0);
    EXPECT_FALSE(ChannelOutputThreadIsRunning());
}

TEST_F(ChannelOutputThreadTest, KeepsRunningWhileForced) {
    ASSERT_EQ(StartForcingChannelOutput(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_TRUE(ChannelOutputThreadIsRunning());
    StopForcingChannelOutput();
    StopForcingChannelOutput(); // not below zero
    EXPECT_TRUE(WaitFor([] { return !ChannelOutputThreadIsRunning(); }, 6000));
}

TEST_F(ChannelOutputThreadTest, DisabledOutputSendsNothing) {
    DisableChannelOutput();
    ASSERT_EQ(sequence->StartSequence(WriteSequence("off.tavo", 10, 25), 0), 1);
    ASSERT_TRUE(WaitFor([] { return !sequence->IsSequenceRunning(); }));
    EnableChannelOutput();
    // Only the blanking frame of the close went out (sent on the closing thread's pass).
    for (int f : DistinctFrames()) {
        EXPECT_EQ(f, -1);
    }
}

} // namespace
