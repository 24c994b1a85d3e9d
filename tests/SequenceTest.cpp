#include "PlaybackTestFixture.h"

#include <cstring>
#include <map>

#include "MonotonicClock.h"

namespace {

// The engine driven by hand, as the output thread drives it: the thread is held so that
// nothing but the test moves frames.
class SequenceTest : public PlaybackTest {
protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        HoldChannelOutputThread(true);
        MakeEngine();
    }

    // One output pass: send the buffer, load the next frame, prepare it.
    void Pass() {
        if (!sequence->dataProcessed) {
            sequence->ProcessSequenceData(0);
        }
        sequence->SendSequenceData();
        sequence->ReadSequenceData(false);
        sequence->ProcessSequenceData(0);
    }

    // The frame numbers sent since the last call, checked against the data each carried.
    std::vector<int> SentFrames(uint32_t seed = 0) {
        auto recs = Rec().Snapshot();
        std::vector<int> out;
        for (size_t i = seen; i < recs.size(); i++) {
            int f = (int)recs[i].frame;
            if (recs[i].checksum == zeroChecksum()) {
                out.push_back(-1); // blanked
                continue;
            }
            EXPECT_EQ(recs[i].checksum, TestFrameChecksum(seed, f, kChannels)) << "frame " << f;
            out.push_back(f);
        }
        seen = recs.size();
        return out;
    }
    static uint64_t zeroChecksum() {
        std::vector<unsigned char> z(kChannels, 0);
        return FrameChecksum(z.data(), kChannels);
    }

    size_t seen = 0;
};

TEST_F(SequenceTest, OpenStartSeekStepAndPause) {
    struct Case {
        const char* what;
        int stepTime;
        int startFrame;
        int startSecond;
        const char* ops; // p: pass, P: toggle pause, s: step, b: step back, k: seek to seekTo
        int seekTo;
        std::vector<int> sent;
    };
    const Case cases[] = {
        {"plays from the start", 50, 0, -1, "ppp", 0, {0, 1, 2}},
        {"start frame 100", 50, 100, -1, "pp", 0, {100, 101}},
        {"start second 5 at 25 ms", 25, 0, 5, "pp", 0, {200, 201}},
        {"pause holds the frame", 50, 0, -1, "pPppPpp", 0, {0, 1, 1, 1, 2}},
        {"single step while paused", 50, 0, -1, "pPspp", 0, {0, 1, 2}},
        {"step back, then forward again", 50, 0, -1, "pppPbppspp", 0, {0, 1, 2, 3, 2, 2, 3}},
        {"seek forward", 50, 0, -1, "pkpp", 300, {0, 1, 300}},
        {"seek backwards restarts the reader", 50, 0, -1, "ppppkpp", 1, {0, 1, 2, 3, 4, 1}},
        {"seek to the front of the cache", 50, 0, -1, "pkpp", 2, {0, 1, 2}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = WriteSequence("ops.tavo", 400, c.stepTime);
        ASSERT_EQ(sequence->OpenSequenceFile(name, c.startFrame, c.startSecond), 1);
        sequence->StartSequence();
        SentFrames();
        for (const char* op = c.ops; *op; op++) {
            switch (*op) {
            case 'p': Pass(); break;
            case 'P': sequence->ToggleSequencePause(); break;
            case 's': sequence->SingleStepSequence(); break;
            case 'b': sequence->SingleStepSequenceBack(); break;
            case 'k': sequence->SeekSequenceFile(c.seekTo); break;
            }
        }
        EXPECT_EQ(SentFrames(), c.sent);
        sequence->CloseSequenceFile();
        SentFrames();
    }
}

TEST_F(SequenceTest, OpeningTheFileThatIsBeingOpenedKeepsIt) {
    std::string name = WriteSequence("same.tavo", 10, 50);
    ASSERT_EQ(sequence->OpenSequenceFile(name, 0, -1), 1);
    Pass(); // not started: frames stay
    ASSERT_EQ(sequence->OpenSequenceFile(name, 5, -1), 1);
    sequence->StartSequence();
    Pass();
    Pass();
    EXPECT_EQ(SentFrames(), (std::vector<int>{0, 0, 1}));
}

TEST_F(SequenceTest, EndOfFileClosesAndBlanks) {
    std::string name = WriteSequence("short.tavo", 3, 50);
    ASSERT_EQ(sequence->StartSequence(name, 0), 1);
    SentFrames(); // starting by name closes first, which sends a dark frame
    for (int i = 0; i < 4; i++) {
        Pass();
    }
    EXPECT_FALSE(sequence->IsSequenceRunning());
    EXPECT_EQ(sequence->GetSequenceName(), "");
    // The last frame, then the blanking frame the close sends.
    auto sent = SentFrames();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(std::vector<int>(sent.begin(), sent.begin() + 3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(sent.back(), -1);
    EXPECT_EQ(sequence->seqMSRemaining, 0);
}

TEST_F(SequenceTest, RefusesFilesItCannotPlay) {
    struct Case {
        const char* what;
        std::string file;
        const char* warning;
    };
    media.Write("sequences/garbage.tavo", "not a sequence file at all");
    WriteSequence("zero.tavo", 10, 0);
    const Case cases[] = {
        {"empty name", "", nullptr},
        {"missing file", "nosuch.tavo", "does not exist"},
        {"not a sequence file", "garbage.tavo", nullptr},
        {"frame time 0", "zero.tavo", "frame time of 0 ms"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        WarningHolder::ClearWarnings();
        EXPECT_EQ(sequence->OpenSequenceFile(c.file, 0, -1), 0);
        EXPECT_FALSE(sequence->IsSequenceRunning());
        EXPECT_EQ(sequence->GetSequenceName(), "");
        if (c.warning) {
            EXPECT_TRUE(HasWarningContaining(c.warning));
        }
        // The engine still plays a good file afterwards.
        ASSERT_EQ(sequence->StartSequence(WriteSequence("good.tavo", 5, 50), 0), 1);
        EXPECT_TRUE(sequence->IsSequenceRunning("good.tavo"));
        sequence->CloseSequenceFile();
    }
}

TEST_F(SequenceTest, RemoteFallsBackToTheFallbackSequence) {
    SetSetting("kivMode", "remote");
    EXPECT_EQ(sequence->OpenSequenceFile("nosuch.tavo", 0, -1), 0);
    WriteSequence("fallback.tavo", 5, 50, 9);
    ASSERT_EQ(sequence->StartSequence("nosuch.tavo", 0), 1);
    EXPECT_EQ(sequence->GetSequenceName(), "fallback.tavo");
    Pass();
    EXPECT_EQ(SentFrames(9), (std::vector<int>{0}));
}

TEST_F(SequenceTest, RemoteWarnsAboutRepeatedEarlySeeks) {
    SetSetting("kivMode", "remote");
    ASSERT_EQ(sequence->StartSequence(WriteSequence("seek.tavo", 400, 50), 0), 1);
    for (int i = 0; i < 6; i++) {
        sequence->SeekSequenceFile(300 - i * 40); // frames 100 and above are not counted
        sequence->SeekSequenceFile(90 - i * 10);
    }
    EXPECT_FALSE(HasWarningContaining("Multiple Frame Skips"));
    sequence->SeekSequenceFile(5);
    EXPECT_TRUE(HasWarningContaining("Multiple Frame Skips During Playback - Likely Slow Network"));
}

TEST_F(SequenceTest, BridgeDataReplacesSequenceDataUntilItExpires) {
    ASSERT_EQ(sequence->StartSequence(WriteSequence("bridge.tavo", 100, 50), 0), 1);
    std::vector<unsigned char> wide(512, 0xB1), narrow(10, 0xB2);
    uint64_t now = (uint64_t)GetMonotonicTimeMS();
    sequence->SetBridgeData(wide.data(), 0, 512, now + 60000);
    sequence->SetBridgeData(narrow.data(), 100, 10, now + 60000);
    EXPECT_TRUE(sequence->hasBridgeData());
    sequence->ProcessSequenceData(0);
    EXPECT_EQ(sequence->seqData[0], 0xB1);
    EXPECT_EQ(sequence->seqData[99], 0xB1);
    EXPECT_EQ(sequence->seqData[100], 0xB2);
    EXPECT_EQ(sequence->seqData[109], 0xB2);
    EXPECT_EQ(sequence->seqData[110], 0xB1);
    EXPECT_EQ(sequence->seqData[511], 0xB1);
    EXPECT_EQ(sequence->seqData[512], 0);

    // The wide range expires: on the next frame only the narrow one is laid over it.
    sequence->SetBridgeData(wide.data(), 0, 512, now - 1);
    sequence->SetBridgeData(narrow.data(), 100, 10, now + 60000); // the newest data wins
    Pass();
    EXPECT_EQ(sequence->seqData[0], TestChannelValue(0, 1, 0));
    EXPECT_EQ(sequence->seqData[63], TestChannelValue(0, 1, 63));
    EXPECT_EQ(sequence->seqData[100], 0xB2);
    EXPECT_TRUE(sequence->hasBridgeData());

    sequence->SetBridgeData(narrow.data(), 100, 10, now - 1);
    sequence->ProcessSequenceData(0);
    EXPECT_FALSE(sequence->hasBridgeData());
}

TEST_F(SequenceTest, BridgeDataOutsideTheBufferIsRefused) {
    std::vector<unsigned char> data(16, 0xEE);
    uint64_t later = (uint64_t)GetMonotonicTimeMS() + 60000;
    sequence->SetBridgeData(data.data(), (int)KIV_MAX_CHANNELS - 8, 16, later);
    sequence->SetBridgeData(data.data(), -4, 16, later);
    sequence->SetBridgeData(data.data(), 0, -1, later);
    EXPECT_FALSE(sequence->hasBridgeData());
    EXPECT_EQ(sequence->seqData[KIV_FIXED_OFF_INDEX], 0);
    EXPECT_EQ(sequence->seqData[KIV_FIXED_FULL_INDEX], 255);
}

TEST_F(SequenceTest, PrioritizedSequenceDropsBridgeDataWhileItRuns) {
    delete sequence;
    SetSetting("bridgeDataPriority", "Prioritize Sequence");
    MakeEngine();
    std::vector<unsigned char> data(8, 0xC3);
    uint64_t later = (uint64_t)GetMonotonicTimeMS() + 60000;
    ASSERT_EQ(sequence->StartSequence(WriteSequence("prio.tavo", 100, 50), 0), 1);
    sequence->SetBridgeData(data.data(), 0, 8, later);
    EXPECT_FALSE(sequence->hasBridgeData());
    sequence->CloseSequenceFile();
    sequence->SetBridgeData(data.data(), 0, 8, later);
    EXPECT_TRUE(sequence->hasBridgeData());
}

TEST_F(SequenceTest, FrameEventsFireAtTheirFrames) {
    std::vector<TAVOFile::VariableHeader> headers;
    headers.emplace_back("FC", FrameEventPayload({{"Lights", {{1, 3}}}, {"Fog", {{2, 2}}}}));
    headers.emplace_back("FE", FrameEventPayload({{"Sparkle", {{1, 2}}}}));
    auto truncated = FrameEventPayload({{"Ignored", {{1, 2}}}});
    truncated.resize(truncated.size() - 3);
    headers.emplace_back("FC", truncated);
    headers.emplace_back("FC", FrameEventPayload({{"WrongVersion", {{1, 1}}}}, 2));

    std::vector<std::pair<std::string, std::string>> fired; // preset, SEQUENCE_NAME
    sequence->SetPresetTrigger([&fired](const std::string& name, std::map<std::string, std::string>& kw) {
        fired.emplace_back(name, kw["SEQUENCE_NAME"]);
    });
    ASSERT_EQ(sequence->StartSequence(WriteSequence("events.tavo", 10, 50, 0, headers), 0), 1);
    EXPECT_EQ(sequence->frameCommands[1], (std::vector<std::string>{"Lights"}));
    EXPECT_EQ(sequence->frameCommands[3], (std::vector<std::string>{"Lights_END"}));
    EXPECT_EQ(sequence->frameCommands[2], (std::vector<std::string>{"Fog", "Fog_END"}));
    EXPECT_EQ(sequence->effectStarts[1], (std::vector<std::string>{"Sparkle"}));
    EXPECT_EQ(sequence->effectStops[2], (std::vector<std::string>{"Sparkle"}));

    for (int i = 0; i < 4; i++) {
        Pass(); // sends frames 0, 1, 2, 3
    }
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(fired, (std::vector<P>{{"SEQUENCE_STARTED", "events.tavo"},
                                     {"Lights", "events.tavo"},
                                     {"Fog", "events.tavo"},
                                     {"Fog_END", "events.tavo"},
                                     {"Lights_END", "events.tavo"}}));
    fired.clear();
    sequence->CloseSequenceFile();
    EXPECT_EQ(fired, (std::vector<P>{{"SEQUENCE_STOPPED", "events.tavo"}}));
    EXPECT_TRUE(sequence->frameCommands.empty());
}

// Blanking after a close and while idle, by mode, player state and setting.
TEST_F(SequenceTest, BlanksBetweenSequencesAsConfigured) {
    struct Case {
        const char* what;
        const char* mode;
        const char* blankSetting;
        bool playerPlaying;
        bool blanksOnClose;
    };
    const Case cases[] = {
        {"player idle", "player", "0", false, true},
        {"player playing a playlist", "player", "0", true, false},
        {"playing, blankBetweenSequences", "player", "1", true, true},
        {"remote", "remote", "0", false, false},
        {"remote, blankBetweenSequences", "remote", "1", false, true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        delete sequence;
        SetSetting("kivMode", c.mode);
        SetSetting("blankBetweenSequences", c.blankSetting);
        MakeEngine();
        if (c.playerPlaying) {
            // A playlist that waits: the player is playing but no sequence is open.
            media.Write("playlists/wait.json", R"({"name": "wait", "mainPlaylist": [{"type": "pause", "duration": 60}]})");
            ASSERT_TRUE(Player::INSTANCE.StartPlaylist("wait", 0));
        }
        ASSERT_EQ(sequence->StartSequence(WriteSequence("blank.tavo", 100, 50), 0), 1);
        Pass();
        SentFrames();
        sequence->CloseSequenceFile();
        auto sent = SentFrames();
        EXPECT_EQ(!sent.empty() && sent.back() == -1, c.blanksOnClose);
        EXPECT_EQ(sequence->seqData[0] == 0, c.blanksOnClose);
        Player::INSTANCE.StopNow(1);
    }
}

TEST_F(SequenceTest, RemoteBlanksFromTheSeventhIdlePass) {
    delete sequence;
    SetSetting("kivMode", "remote");
    MakeEngine();
    memset(sequence->seqData, 0x11, kChannels);
    for (int i = 1; i <= 6; i++) {
        sequence->ReadSequenceData(false);
        EXPECT_EQ(sequence->seqData[0], 0x11) << "idle pass " << i;
    }
    sequence->ReadSequenceData(false);
    EXPECT_EQ(sequence->seqData[0], 0);
}

} // namespace
