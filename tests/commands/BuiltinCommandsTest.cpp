#include "PlaybackTestFixture.h"

#include "CommandManager.h"
#include "VolumeCommands.h"

// The built-in commands: their descriptions, the playlist commands driving the
// player through the real engine and the recording output, volume, the
// commands whose subsystem is missing, and playlist entries of type "command".
namespace {

class BuiltinCommandsTest : public PlaybackTest {
protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        MakeEngine();
        WriteSequence("a.tavo", 6, 25, 1);
        WriteSequence("long.tavo", 400, 25, 4);
        media.Write("playlists/show.json", R"({"name": "show", "repeat": 0,
            "leadIn": [{"type": "pause", "duration": 0.05}],
            "mainPlaylist": [{"type": "sequence", "sequenceName": "long.tavo"},
                             {"type": "sequence", "sequenceName": "long.tavo"},
                             {"type": "sequence", "sequenceName": "a.tavo"}]})");
        manager.Init();
    }
    void TearDown() override {
        manager.Cleanup();
        PlaybackTest::TearDown();
    }

    Command::ResultPtr Run(const std::string& name, const std::vector<std::string>& args = {}) {
        return manager.run(name, args);
    }

    CommandManager manager;
};

TEST_F(BuiltinCommandsTest, AllThirtyNineAreDescribedForUserInterfaces) {
    const char* names[] = {
        "Stop Now", "Stop Gracefully", "Restart Playlist Item", "Next Playlist Item", "Prev Playlist Item",
        "Start Playlist", "Toggle Playlist", "Start Playlist At Item", "Start Playlist At Random Item",
        "Insert Playlist After Current", "Insert Playlist Immediate", "Insert Random Item From Playlist",
        "Play Media", "Pause Playlist", "Resume Playlist", "Trigger Preset", "Trigger Preset In Future",
        "Trigger Preset Slot", "Trigger Multiple Presets", "Trigger Multiple Preset Slots", "Run Script",
        "Effect Start", "TAVO Effect Start", "TAVO Effect Stop", "Effect Stop", "Effects Stop", "Volume Set",
        "Volume Adjust", "Volume Increase", "Volume Decrease", "URL", "All Lights Off", "Remote Trigger Preset",
        "Remote Trigger Preset Slot", "Remote Effect Start", "Remote Effect Stop", "Remote Run Script",
        "Remote TAVO Effect Start", "Remote Playlist Start"};
    Json::Value all = manager.getDescriptions();
    ASSERT_TRUE(all.isArray());
    EXPECT_EQ(all.size(), std::size(names));
    for (const char* n : names) {
        Json::Value d = manager.getDescription(n);
        ASSERT_TRUE(d.isObject()) << n;
        EXPECT_EQ(d["name"].asString(), n);
        EXPECT_FALSE(d["description"].asString().empty()) << n;
        for (const auto& a : d["args"]) {
            EXPECT_TRUE(a["name"].isString() && a["type"].isString() && a["optional"].isBool()) << n;
        }
    }
    Json::Value vol = manager.getDescription("Volume Set")["args"][0];
    EXPECT_EQ(vol["min"].asInt(), 0);
    EXPECT_EQ(vol["max"].asInt(), 100);
    EXPECT_TRUE(vol["adjustable"].asBool());
    Json::Value pl = manager.getDescription("Start Playlist")["args"][0];
    EXPECT_EQ(pl["contentListUrl"].asString(), "api/playlists");
    Json::Value stop = manager.getDescription("Toggle Playlist")["args"][2];
    EXPECT_EQ(stop["contents"].size(), 3u);
    // The remote forms put the player's address first.
    EXPECT_EQ(manager.getDescription("Remote Playlist Start")["args"][0]["name"].asString(), "Remote IP");
}

TEST_F(BuiltinCommandsTest, PlaylistCommandsDriveThePlayer) {
    EXPECT_TRUE(Run("Next Playlist Item")->isError()) << "nothing plays yet";
    EXPECT_TRUE(Run("Start Playlist", {"missing"})->isError());
    EXPECT_TRUE(Run("Start Playlist", {})->isError());

    auto r = Run("Start Playlist", {"show", "false"});
    ASSERT_FALSE(r->isError()) << r->get();
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PLAYING);
    EXPECT_EQ(Player::INSTANCE.GetPlaylistName(), "show");
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetPosition() == 2; }));
    // Already running: "If Not Running" leaves it alone.
    EXPECT_EQ(Run("Start Playlist", {"show", "false", "true"})->get(), "Playlist is already running");
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 2);

    EXPECT_FALSE(Run("Next Playlist Item")->isError());
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetPosition() == 3; }));
    EXPECT_FALSE(Run("Prev Playlist Item")->isError());
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetPosition() == 2; }));

    EXPECT_TRUE(Run("Resume Playlist")->isError()) << "not paused";
    EXPECT_FALSE(Run("Pause Playlist")->isError());
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PAUSED);
    EXPECT_FALSE(Run("Resume Playlist")->isError());
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PLAYING);

    EXPECT_FALSE(Run("Restart Playlist Item")->isError());
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 2);

    EXPECT_FALSE(Run("Stop Gracefully", {"false"})->isError());
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::STOPPING_GRACEFULLY);
    EXPECT_FALSE(Run("Stop Now")->isError());
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetStatus() == Player::IDLE; }));
    // The sequence that played reached the recording output.
    EXPECT_FALSE(Rec().Snapshot().empty());
}

TEST_F(BuiltinCommandsTest, StartAtItemsToggleAndStopAfterLoop) {
    struct Case {
        std::vector<std::string> args;
        bool error;
        int position;
    } cases[] = {
        {{"show", "3"}, false, 3}, {{"show", "0"}, true, 0}, {{"show", "x"}, true, 0}, {{"show", "99"}, true, 0},
    };
    for (const auto& c : cases) {
        auto r = Run("Start Playlist At Item", c.args);
        EXPECT_EQ(r->isError(), c.error) << c.args[1] << ": " << r->get();
        if (!c.error) {
            EXPECT_EQ(Player::INSTANCE.GetPosition(), c.position);
        }
        Player::INSTANCE.StopNow(1);
        RunUntil([] { return Player::INSTANCE.GetStatus() == Player::IDLE; });
    }

    for (int i = 0; i < 5; i++) {
        ASSERT_FALSE(Run("Start Playlist At Random Item", {"show"})->isError());
        int p = Player::INSTANCE.GetPosition();
        EXPECT_TRUE(p >= 2 && p <= 4) << "random items come from the main list, got " << p;
    }

    EXPECT_FALSE(Run("Toggle Playlist", {"show", "true", "After Loop"})->isError());
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::STOPPING_AFTER_LOOP) << "toggling a running playlist stops it";
    Player::INSTANCE.StopNow(1);
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetStatus() == Player::IDLE; }));
    EXPECT_FALSE(Run("Toggle Playlist", {"show", "true"})->isError());
    EXPECT_EQ(Player::INSTANCE.GetRepeat(), 1);
    EXPECT_FALSE(Run("Stop Gracefully", {"true"})->isError());
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::STOPPING_AFTER_LOOP);
}

TEST_F(BuiltinCommandsTest, VolumeIsKeptAndClamped) {
    struct Case {
        const char* command;
        const char* arg;
        bool error;
        int volume;
    } cases[] = {
        {"Volume Set", "50", false, 50},     {"Volume Increase", "20", false, 70},
        {"Volume Increase", "90", false, 100}, {"Volume Decrease", "30", false, 70},
        {"Volume Adjust", "-80", false, 0},  {"Volume Set", "101", true, 0},
        {"Volume Set", "loud", true, 0},     {"Volume Decrease", "", true, 0},
    };
    for (const auto& c : cases) {
        auto r = Run(c.command, {c.arg});
        EXPECT_EQ(r->isError(), c.error) << c.command << " " << c.arg << ": " << r->get();
        EXPECT_EQ(VolumeStore::INSTANCE.Get(), c.volume) << c.command << " " << c.arg;
    }
}

TEST_F(BuiltinCommandsTest, MissingSubsystemsAnswerAnErrorNamingThem) {
    struct Case {
        const char* command;
        const char* mentions;
    } cases[] = {
        {"Effect Start", "effect engine"},   {"TAVO Effect Start", "effect engine"},
        {"TAVO Effect Stop", "effect engine"}, {"Effect Stop", "effect engine"},
        {"Effects Stop", "effect engine"},   {"Play Media", "media output"},
        {"Insert Playlist After Current", "queue"}, {"Insert Playlist Immediate", "queue"},
        {"Insert Random Item From Playlist", "queue"},
    };
    for (const auto& c : cases) {
        auto r = Run(c.command, {"x"});
        EXPECT_TRUE(r->isError()) << c.command;
        EXPECT_NE(r->get().find(c.mentions), std::string::npos) << c.command << ": " << r->get();
    }
}

TEST_F(BuiltinCommandsTest, AllLightsOffBlanksTheBuffer) {
    StartChannelOutputThread();
    ASSERT_FALSE(Run("Start Playlist", {"show"})->isError());
    ASSERT_TRUE(RunUntil([this] { return Rec().Snapshot().size() > 5; }));
    Player::INSTANCE.StopNow(1);
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetStatus() == Player::IDLE; }));
    auto r = Run("All Lights Off");
    EXPECT_FALSE(r->isError()) << r->get();
    std::vector<unsigned char> zeros(kChannels, 0);
    uint64_t zero = FrameChecksum(zeros.data(), kChannels);
    EXPECT_TRUE(WaitFor([&] {
        auto s = Rec().Snapshot();
        return !s.empty() && s.back().checksum == zero;
    }));
}

TEST_F(BuiltinCommandsTest, CommandEntriesRunThroughTheRegistry) {
    media.Write("playlists/cmds.json", R"({"name": "cmds", "repeat": 0,
        "mainPlaylist": [{"type": "command", "command": "Volume Set", "args": ["33"]},
                         {"type": "command", "command": "No Such Command"},
                         {"type": "command", "command": "Volume Increase", "args": [2]}]})");
    VolumeStore::INSTANCE.Set(70);
    ASSERT_FALSE(Run("Start Playlist", {"cmds"})->isError());
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetStatus() == Player::IDLE; }));
    EXPECT_EQ(VolumeStore::INSTANCE.Get(), 35) << "numbers in \"args\" pass as text; a failing command does not stop the list";

    // A command entry that replaces its own playlist.
    media.Write("playlists/hop.json", R"({"name": "hop", "repeat": 0,
        "mainPlaylist": [{"type": "command", "command": "Start Playlist", "args": ["show"]},
                         {"type": "pause", "duration": 5}]})");
    ASSERT_FALSE(Run("Start Playlist", {"hop"})->isError());
    ASSERT_TRUE(RunUntil([] { return Player::INSTANCE.GetPlaylistName() == "show"; }));
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PLAYING);

    // Entries without a name, or with args that are not an array, are refused.
    media.Write("playlists/bad.json", R"({"name": "bad", "repeat": 0,
        "mainPlaylist": [{"type": "command"}, {"type": "command", "command": "Stop Now", "args": "x"}]})");
    EXPECT_TRUE(Run("Start Playlist", {"bad"})->isError());
}

} // namespace
