#include "PlaybackTestFixture.h"

#include <ctime>
#include <sstream>

#include "ControlCommand.h"
#include "commands/CommandManager.h"
#include "commands/CommandTestSupport.h"
#include "common.h"

namespace {

struct Exchange {
    const char* request;
    const char* reply;
};

// The control requests through the real player, engine and recording output. The
// scheduler and media output are the test's own hooks.
class ControlCommandTest : public PlaybackTest {
protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        MakeEngine();
        WriteSequence("long.tavo", 400, 25, 4); // 10 s
        WriteSequence("short.tavo", 8, 25, 1);
        media.Write("playlists/show.json", R"({"name": "show", "repeat": 1,
            "mainPlaylist": [{"type": "sequence", "sequenceName": "long.tavo"},
                             {"type": "pause", "duration": 60}]})");
        media.Write("playlists/rest.json", R"({"name": "rest",
            "mainPlaylist": [{"type": "pause", "duration": 60}, {"type": "pause", "duration": 60}]})");
        SetSetting("localOverride", "0");

        ControlSocketHooks h;
        h.nextPlaylistName = [this] { return nextName; };
        h.nextPlaylistStart = [] { return std::string("Sat @ 18:00"); };
        h.playlistThatShouldBePlaying = [this](int& repeat) {
            repeat = scheduledRepeat;
            return scheduledName;
        };
        h.startScheduledPlaylist = [this] { scheduledStarts++; };
        h.reloadSchedule = [this] { reloads++; };
        h.getVolume = [this] { return volume; };
        h.setVolume = [this](int v) { volume = v; };
        h.mediaStatus = [this](ControlSocketHooks::MediaStatus& m) {
            if (mediaFile.empty()) {
                return false;
            }
            m.filename = mediaFile;
            m.status = 1;
            m.secondsElapsed = 12;
            m.secondsRemaining = 30;
            return true;
        };
        SetControlSocketHooks(h);
        RegisterShutdownHandler([this](bool restart) { shutdowns.push_back(restart); });
    }
    void TearDown() override {
        RegisterShutdownHandler(nullptr);
        SetControlSocketHooks({});
        CommandManager::INSTANCE.Cleanup();
        PlaybackTest::TearDown();
    }

    void ExpectTable(const std::vector<Exchange>& table) {
        for (auto& e : table) {
            EXPECT_EQ(ProcessCommand(e.request), e.reply) << "request: " << e.request;
        }
    }
    bool RunUntil(const std::function<bool()>& cond) {
        return WaitFor([&] {
            Player::INSTANCE.Process();
            return cond();
        });
    }
    static std::vector<std::string> Fields(const std::string& reply) {
        std::vector<std::string> out;
        std::stringstream s(reply.substr(0, reply.size() - (reply.empty() ? 0 : 1)));
        std::string f;
        while (std::getline(s, f, ',')) {
            out.push_back(f);
        }
        return out;
    }
    // Status fields but the two times (10 elapsed, 11 remaining), which it checks add up to
    // about the entry's length.
    std::string StatusWithoutTimes(int totalSeconds) {
        std::string reply = ProcessCommand("s");
        auto f = Fields(reply);
        if (f.size() != 14 || reply.back() != '\n') {
            return "bad status: " + reply;
        }
        int sum = atoi(f[9].c_str()) + atoi(f[10].c_str());
        EXPECT_GE(sum, totalSeconds - 2) << reply;
        EXPECT_LE(sum, totalSeconds) << reply;
        f[9] = f[10] = "T";
        std::string out;
        for (auto& x : f) {
            out += (out.empty() ? "" : ",") + x;
        }
        return out;
    }

    std::string nextName = "Evening";
    std::string scheduledName;
    int scheduledRepeat = 0;
    int scheduledStarts = 0;
    int reloads = 0;
    int volume = 50;
    std::string mediaFile;
    std::vector<bool> shutdowns;
};

TEST_F(ControlCommandTest, IdleRepliesToEveryKeyword) {
    ExpectTable({
        {"s", "2,0,50,Evening,Sat @ 18:00\n"},
        {"p", "2,0,Unknown Playlist,,,,,,,,,,\n"},
        {"p,", "2,0,Unknown Playlist,,,,,,,,,,\n"},
        {"P,,2", "2,0,Unknown Playlist,,,,,,,,,,\n"},
        {"p,nosuch,", "2,0,Error Starting Playlist,,,,,,,,,,\n"},
        {"S", "0,Not playing,,,,,,,,,,,\n"},
        {"StopGracefully", "0,Not playing,,,,,,,,,,,\n"},
        {"L", "0,Not playing,,,,,,,,,,,\n"},
        {"StopGracefullyAfterLoop", "0,Not playing,,,,,,,,,,,\n"},
        {"d", "2,0,Not playing,,,,,,,,,,\n"},
        {"StopNow", "2,0,Not playing,,,,,,,,,,\n"},
        {"R", "2,1,Reloading Schedule,,,,,,,,,,\n"},
        {"v", "2,0,Invalid Volume,,,,,,,,,,\n"},
        {"v,,", "2,0,Invalid Volume,,,,,,,,,,\n"},
        {"v,40,", "2,1,Setting Volume,,,,,,,,,,\n"},
        {"e", "2,0,Invalid Effect,,,,,,,,,,\n"},
        {"e,Snow,", "2,0,Invalid Effect,,,,,,,,,,\n"},
        {"e,Snow,1,0,", "2,0,Invalid Effect,,,,,,,,,,\n"}, // no effect can start yet
        {"t", "2,0,Command Preset Failed,,,,,,,,,,\n"},
        {"t,nosuch,", "2,0,Command Preset Failed,,,,,,,,,,\n"},
        {"GetTestMode", "{}\n"},
        {"SetTestMode,{\"enabled\": 1, \"colors\": [1,2]}", "0,1,Test Mode Deactivated,,,,,,,,,\n"},
        {"StopAllEffects", "2,1,All Effects Stopped,,,,,,,,,,\n"},
        {"StopEffectByName,Snow,", "2,0,Stop Effect Failed,,,,,,,,,,\n"},
        {"StopEffectByName", "2,0,Stop Effect Failed,,,,,,,,,,\n"},
        {"StopEffect,3", "2,0,Stop Effect Failed,,,,,,,,,,\n"},
        {"StopEffect", "2,0,Stop Effect Failed,,,,,,,,,,\n"},
        {"GetRunningEffects", "2,1,Running Effects\n"},
        {"StartSequence", "2,0,Invalid Sequence,,,,,,,,,,\n"},
        {"StartSequence,long.tavo", "2,0,Invalid Sequence,,,,,,,,,,\n"},
        {"StartSequence,../../etc/passwd,0", "2,0,Invalid Sequence,,,,,,,,,,\n"},
        {"StartSequence,nosuch.tavo,0", "2,0,Error Starting Sequence,,,,,,,,,,\n"},
        {"StopSequence", "2,0,Not playing,,,,,,,,,,\n"},
        {"ToggleSequencePause", "2,0,No Sequence Playing,,,,,,,,,,\n"},
        {"SingleStepSequence", "2,0,No Paused Sequence,,,,,,,,,,\n"},
        {"SingleStepSequenceBack", "2,0,No Paused Sequence,,,,,,,,,,\n"},
        {"NextPlaylistItem", "2,0,No playlist running\n"},
        {"PrevPlaylistItem", "2,0,No playlist running\n"},
        {"SetupExtGPIO,5,Output,", "2,0,Configuring GPIO,5,Output,,,,,,,,,\n"},
        {"SetupExtGPIO,5,", "2,0,Invalid GPIO,,,,,,,,,,\n"},
        {"ExtGPIO,5,Output,1", "2,0,Setting GPIO,5,Output,1,,,,,,,,\n"},
        {"ExtGPIO,5", "2,0,Invalid GPIO,,,,,,,,,,\n"},
        {"SetSetting,someKey,5", "2,1,Setting Saved,,,,,,,,,,\n"},
        {"SetSetting,someKey", "2,0,Invalid Setting,,,,,,,,,,\n"},
        {"SetSetting,kivMode,x", "2,0,Invalid Setting,,,,,,,,,,\n"},
        {"LogMask,a;b,", "Invalid command: 'LogMask'\n"},
        {"play", "Invalid command: 'play'\n"},
        {"s,", "2,0,40,Evening,Sat @ 18:00\n"},
    });
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(volume, 40);
    EXPECT_EQ(getKIVmode(), PLAYER_MODE);
    EXPECT_EQ(getSetting("someKey"), "5");
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::IDLE);
    EXPECT_TRUE(shutdowns.empty());
}

TEST_F(ControlCommandTest, ShutdownAndRestartAnswerBeforeTheDaemonWindsDown) {
    ExpectTable({
        {"restart", "2,1,Restarting,,,,,,,,,,\n"},
        {"q", "2,1,Shutting Down,,,,,,,,,,\n"},
    });
    EXPECT_EQ(shutdowns, (std::vector<bool>{true, false}));
}

TEST_F(ControlCommandTest, UptimeCountsFromTheSocketStart) {
    long now = (long)time(nullptr);
    SetControlSocketStartTime(now - 100);
    std::string reply = ProcessCommand("GetKIVDUptime");
    long up = (long)time(nullptr) - now + 100;
    EXPECT_TRUE(reply == "2,1,KIVD Uptime," + std::to_string(up) + ",,,,,,,,,\n" ||
                reply == "2,1,KIVD Uptime," + std::to_string(up - 1) + ",,,,,,,,,\n")
        << reply;
}

TEST_F(ControlCommandTest, LogLevelsNeedLoggerAndLevelAndRaiseTheWarning) {
    ExpectTable({
        {"LogLevel,Command,debug,", "2,1,Log Level Updated,Command,debug,,,,,,,,,\n"},
        {"LogLevel,Nope,debug", "2,0,Error Updating Log Level,Nope,debug,,,,,,,,,\n"},
        {"LogLevel,Command,loud", "2,0,Error Updating Log Level,Command,loud,,,,,,,,,\n"},
        {"LogLevel,Command,", "2,0,Error Updating Log Level,Command,,,,,,,,,,\n"},
        {"LogLevel", "2,0,Error Updating Log Level,,,,,,,,,,,\n"},
    });
    EXPECT_TRUE(HasWarningContaining("A Log Level is set to Debug"));
    EXPECT_EQ(ProcessCommand("LogLevel,Command,info"), "2,1,Log Level Updated,Command,info,,,,,,,,,\n");
    EXPECT_FALSE(HasWarningContaining("A Log Level is set to"));
}

TEST_F(ControlCommandTest, PresetsBySlotOrByName) {
    cmdtest::RunLog log;
    CommandManager::INSTANCE.addCommand(new cmdtest::RecordingCommand("Echo", log));
    media.Write("config/commandPresets.json", R"({"commands": [
        {"name": "Two Words", "command": "Echo", "args": ["named"]},
        {"name": "0", "command": "Echo", "args": ["zero"]},
        {"name": "third", "command": "Echo", "args": ["slot3"], "presetSlot": 3}]})");
    CommandManager::INSTANCE.LoadPresets();
    struct Case {
        const char* request;
        const char* ran; // the argument of the Echo that ran, "" for none
    };
    const Case cases[] = {
        {"t,3,", "slot3"},
        {"t,Two Words,", "named"},
        {"t,0", "zero"},
        {"t,3abc", ""}, // not a number, so a name, and no preset has it
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.request);
        bool ran = *c.ran != 0;
        EXPECT_EQ(ProcessCommand(c.request),
                  ran ? "2,1,Command Preset Triggered,1,,,,,,,,,\n" : "2,0,Command Preset Failed,,,,,,,,,,\n");
        auto runs = log.take();
        ASSERT_EQ(runs.size(), ran ? 1u : 0u);
        if (ran) {
            EXPECT_EQ(runs[0].second, std::vector<std::string>{c.ran});
        }
    }
}

TEST_F(ControlCommandTest, PlaylistPlayingStepsAndStops) {
    EXPECT_EQ(ProcessCommand("p,show,"), "2,1,Playlist Started,,,,,,,,,,\n");
    ASSERT_TRUE(RunUntil([] { return sequence->IsSequenceRunning() != 0; }));
    EXPECT_EQ(StatusWithoutTimes(10), "2,1,50,show,sequence,long.tavo,,1,2,T,T,Evening,Sat @ 18:00,1");

    EXPECT_EQ(ProcessCommand("NextPlaylistItem"), "2,1,Skipping to next playlist item\n");
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetPosition() == 2; }));
    EXPECT_EQ(StatusWithoutTimes(60), "2,1,50,show,pause,,,2,2,T,T,Evening,Sat @ 18:00,1");
    EXPECT_EQ(ProcessCommand("PrevPlaylistItem"), "2,1,Skipping to previous playlist item\n");
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetPosition() == 1; }));

    // "S" and "L" turn one graceful stop into the other; each refuses its own state.
    ExpectTable({
        {"S", "2,1,Playlist Stopping Gracefully,,,,,,,,,,\n"},
        {"S", "0,Not playing,,,,,,,,,,,\n"},
        {"NextPlaylistItem", "2,0,Playlist is stopping gracefully\n"},
        {"L", "2,1,Playlist Stopping Gracefully After Loop,,,,,,,,,,\n"},
        {"L", "0,Not playing,,,,,,,,,,,\n"},
        {"S", "2,1,Playlist Stopping Gracefully,,,,,,,,,,\n"},
        {"StartSequence,short.tavo,0", "2,0,Already Playing,,,,,,,,,,\n"},
        {"StopSequence", "2,0,Not playing,,,,,,,,,,\n"},
        {"d", "2,1,Playlist Stopping Now,,,,,,,,,,\n"},
    });
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetStatus() == Player::IDLE; }));
    EXPECT_EQ(ProcessCommand("s"), "2,0,50,Evening,Sat @ 18:00\n");
}

TEST_F(ControlCommandTest, PausedPlaylistAnswersPausedAndStillStops) {
    EXPECT_EQ(ProcessCommand("P,rest,2"), "2,1,Playlist Started,,,,,,,,,,\n");
    EXPECT_EQ(StatusWithoutTimes(60), "2,1,50,rest,pause,,,2,2,T,T,Evening,Sat @ 18:00,0");
    Player::INSTANCE.Pause();
    ASSERT_EQ(Player::INSTANCE.GetStatus(), Player::PAUSED);
    EXPECT_EQ(StatusWithoutTimes(60), "2,5,50,rest,pause,,,2,2,T,T,Evening,Sat @ 18:00,0");
    ExpectTable({
        {"NextPlaylistItem", "2,0,Playlist is paused\n"},
        {"PrevPlaylistItem", "2,0,Playlist is paused\n"},
    });
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 2);
    EXPECT_EQ(ProcessCommand("d"), "2,1,Playlist Stopping Now,,,,,,,,,,\n");
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetStatus() == Player::IDLE; }));
}

TEST_F(ControlCommandTest, ThePlaylistTheScheduleCallsForStartsThroughTheScheduler) {
    scheduledName = "rest";
    scheduledRepeat = 1;
    EXPECT_EQ(ProcessCommand("p,rest"), "2,1,Playlist Started,,,,,,,,,,\n");
    EXPECT_EQ(scheduledStarts, 1);
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::IDLE);
    // Once rather than repeating: not what the schedule asks for, so the player starts it.
    EXPECT_EQ(ProcessCommand("P,rest"), "2,1,Playlist Started,,,,,,,,,,\n");
    EXPECT_EQ(scheduledStarts, 1);
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PLAYING);
    EXPECT_EQ(Player::INSTANCE.GetRepeat(), 0);
}

TEST_F(ControlCommandTest, LoneSequencePausesStepsAndStops) {
    EXPECT_EQ(ProcessCommand("StartSequence,long.tavo,2"), "2,1,Sequence Started,,,,,,,,,,\n");
    ASSERT_TRUE(WaitFor([] { return sequence->IsSequenceRunning() != 0; }));
    std::string reply = ProcessCommand("s");
    auto f = Fields(reply);
    ASSERT_EQ(f.size(), 14u) << reply;
    EXPECT_EQ(f[0] + f[1] + f[2] + "|" + f[5], "2150|long.tavo");
    EXPECT_LE(atoi(f[10].c_str()), 8); // started at second 2 of 10
    EXPECT_EQ(reply.substr(reply.find(",,0,0,")), ",,0,0," + f[9] + "," + f[10] + ",Evening,Sat @ 18:00,0\n");

    ExpectTable({
        {"StartSequence,short.tavo,0", "2,0,Already Playing,,,,,,,,,,\n"},
        {"SingleStepSequence", "2,0,No Paused Sequence,,,,,,,,,,\n"},
        {"ToggleSequencePause", "2,1,Sequence Paused,,,,,,,,,,\n"},
        {"SingleStepSequence", "2,1,Sequence Stepped,,,,,,,,,,\n"},
        {"SingleStepSequenceBack", "2,1,Sequence Stepped Back,,,,,,,,,,\n"},
        {"ToggleSequencePause", "2,1,Sequence Resumed,,,,,,,,,,\n"},
        {"NextPlaylistItem", "2,0,No playlist running\n"},
        {"d", "2,1,Sequence Stopping Now,,,,,,,,,,\n"},
    });
    EXPECT_FALSE(sequence->IsSequenceRunning());

    EXPECT_EQ(ProcessCommand("StartSequence,long.tavo,0"), "2,1,Sequence Started,,,,,,,,,,\n");
    ASSERT_TRUE(WaitFor([] { return sequence->IsSequenceRunning() != 0; }));
    EXPECT_EQ(ProcessCommand("StopSequence"), "2,1,Sequence Stopping,,,,,,,,,,\n");
    EXPECT_FALSE(sequence->IsSequenceRunning());
}

TEST_F(ControlCommandTest, RemoteStatusReportsMediaAndSequence) {
    SetSetting("kivMode", "remote");
    EXPECT_EQ(ProcessCommand("s"), "8,0,50,,,0,0\n");
    mediaFile = "song.mp3";
    EXPECT_EQ(ProcessCommand("s"), "8,0,50,,song.mp3,12,30\n");
    ASSERT_EQ(ProcessCommand("StartSequence,long.tavo,0"), "8,1,Sequence Started,,,,,,,,,,\n");
    ASSERT_TRUE(WaitFor([] { return sequence->IsSequenceRunning() != 0; }));
    EXPECT_EQ(ProcessCommand("s"), "8,0,50,long.tavo,song.mp3,12,30\n");
    // With the local override a sequence playing here is reported as playing alone.
    SetSetting("localOverride", "1");
    EXPECT_EQ(ProcessCommand("s").substr(0, 20), "8,1,50,,,long.tavo,,");
}

TEST_F(ControlCommandTest, HostileRequestsGetClearReplies) {
    const std::string longName(5000, 'x');
    std::string nul("s\0junk", 6);
    ExpectTable({
        {"", "Invalid command: ''\n"},
        {",", "Invalid command: ''\n"},
        {",,,,,,,,,,", "Invalid command: ''\n"},
        {",s", "Invalid command: ''\n"},
        {"s\n", "Invalid command: 's\n'\n"},
        {"%s%s%n%n", "Invalid command: '%s%s%n%n'\n"},
        {"v,99999999999", "2,1,Setting Volume,,,,,,,,,,\n"}, // out of range reads as 0
        {"e,%s,%n,", "2,0,Invalid Effect,,,,,,,,,,\n"},
    });
    EXPECT_EQ(volume, 0);
    EXPECT_EQ(ProcessCommand(nul), "2,0,0,Evening,Sat @ 18:00\n");

    // The keyword is echoed on its first 63 characters only.
    EXPECT_EQ(ProcessCommand(longName), "Invalid command: '" + std::string(63, 'x') + "'\n");
    // Only the first 4095 bytes count: the name is cut, and then there is no such playlist.
    EXPECT_EQ(ProcessCommand("p," + longName + ",1"), "2,0,Error Starting Playlist,,,,,,,,,,\n");
    std::string commas(10000, ',');
    EXPECT_EQ(ProcessCommand(commas), "Invalid command: ''\n");
    EXPECT_EQ(ProcessCommand("ExtGPIO" + commas), "2,0,Invalid GPIO,,,,,,,,,,\n");
    // A field of 4000 characters in a reply that echoes it.
    std::string big = "LogLevel," + std::string(2000, 'a') + "," + std::string(2000, 'b');
    std::string reply = ProcessCommand(big);
    EXPECT_EQ(reply.size(), CONTROL_REPLY_MAX);
    EXPECT_EQ(reply.substr(0, 33), "2,0,Error Updating Log Level,aaaa");
    EXPECT_EQ(reply.back(), 'a'); // cut inside the first echoed field
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::IDLE);
}

TEST_F(ControlCommandTest, LongStatusIsCutAt1499Characters) {
    nextName = std::string(3000, 'n');
    std::string reply = ProcessCommand("s");
    EXPECT_EQ(reply.size(), CONTROL_REPLY_MAX);
    EXPECT_EQ(reply.substr(0, 10), "2,0,50,nnn");
    // A playing playlist's status with a long playlist name, sequence name and next name.
    std::string name(200, 'q');
    media.Write("playlists/" + name + ".json",
                R"({"name": ")" + name + R"(", "mainPlaylist": [{"type": "sequence", "sequenceName": ")" + name +
                    R"(.tavo"}]})");
    WriteSequence(name + ".tavo", 400, 25, 4);
    ASSERT_EQ(ProcessCommand("P," + name), "2,1,Playlist Started,,,,,,,,,,\n");
    reply = ProcessCommand("s");
    EXPECT_EQ(reply.size(), CONTROL_REPLY_MAX);
    EXPECT_EQ(reply.substr(0, 12 + name.size()), "2,1,50," + name + ",sequ");
}

} // namespace
