#include "PlaybackTestFixture.h"

#include "playlist/Playlist.h"

namespace {

// The player running playlists of sequences and pauses through the real engine, output
// thread and recording output.
class PlayerTest : public PlaybackTest {
protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        MakeEngine();
        // Seeds 1, 2, 3 tell the sequences apart in the recording.
        WriteSequence("a.tavo", 6, 25, 1);
        WriteSequence("b.tavo", 6, 25, 2);
        WriteSequence("c.tavo", 6, 25, 3);
        WriteSequence("long.tavo", 400, 25, 4);
    }

    bool RunToIdle() {
        return RunUntil([] { return Player::INSTANCE.GetStatus() == Player::IDLE; });
    }

    // Which sequence each send came from, in order, repeats collapsed ("a", "b", ...; "-"
    // for a blanked frame, left out unless withBlanks).
    std::string Played(bool withBlanks = false) {
        std::vector<unsigned char> zeros(kChannels, 0);
        uint64_t zero = FrameChecksum(zeros.data(), kChannels);
        std::string out;
        for (auto& r : Rec().Snapshot()) {
            char who = '?';
            if (r.checksum == zero) {
                if (!withBlanks) {
                    continue;
                }
                who = '-';
            }
            for (uint32_t seed = 1; seed <= 4 && who == '?'; seed++) {
                if (r.checksum == TestFrameChecksum(seed, r.frame, kChannels)) {
                    who = seed == 4 ? 'L' : (char)('a' + seed - 1);
                }
            }
            if (out.empty() || out.back() != who) {
                out.push_back(who);
            }
        }
        return out;
    }

    // Times sequence `seed` started (its frame 0 was sent after another sequence's frame).
    int Starts(uint32_t seed) {
        int n = 0;
        bool inside = false;
        for (auto& r : Rec().Snapshot()) {
            bool mine = r.frame == 0 && r.checksum == TestFrameChecksum(seed, 0, kChannels);
            if (mine && !inside) {
                n++;
            }
            inside = mine;
        }
        return n;
    }

    void WritePlaylist(const std::string& name, const std::string& json) {
        media.Write("playlists/" + name + ".json", json);
    }
};

TEST_F(PlayerTest, PlaysLeadInMainAndLeadOut) {
    WritePlaylist("show", R"({"name": "show", "repeat": 0,
        "leadIn": [{"type": "sequence", "sequenceName": "a.tavo"}],
        "mainPlaylist": [{"type": "pause", "duration": 0.2}, {"type": "sequence", "sequenceName": "b.tavo"}],
        "leadOut": [{"type": "sequence", "sequenceName": "c.tavo"}]})");
    ASSERT_NE(Player::INSTANCE.StartPlaylist("show", -1), 0);
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PLAYING);
    EXPECT_TRUE(Player::INSTANCE.IsPlaying());
    EXPECT_EQ(Player::INSTANCE.GetPlaylistName(), "show");
    EXPECT_FALSE(Player::INSTANCE.WasScheduled());
    EXPECT_EQ(Player::INSTANCE.GetScheduleEntry(), -1);
    ASSERT_TRUE(RunToIdle());
    // No blanking between entries while the playlist plays; dark after its end.
    EXPECT_TRUE(WaitFor([this] { return Played(true).back() == '-'; }));
    EXPECT_EQ(Played(true).substr(0, 3), "abc");
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 0);
}

TEST_F(PlayerTest, RepeatsUntilAskedToStopAfterTheLoop) {
    WritePlaylist("loop", R"({"name": "loop", "repeat": 1,
        "mainPlaylist": [{"type": "sequence", "sequenceName": "a.tavo"}, {"type": "sequence", "sequenceName": "b.tavo"}],
        "leadOut": [{"type": "sequence", "sequenceName": "c.tavo"}]})");
    ASSERT_NE(Player::INSTANCE.StartPlaylist("loop", -1), 0);
    EXPECT_EQ(Player::INSTANCE.GetRepeat(), 1);
    ASSERT_TRUE(RunUntil([this] { return Starts(1) >= 3; }));
    Player::INSTANCE.StopGracefully(1, 1);
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::STOPPING_AFTER_LOOP);
    ASSERT_TRUE(RunToIdle());
    std::string played = Played();
    EXPECT_EQ(played.substr(0, 6), "ababab");
    EXPECT_NE(played.find("abc"), std::string::npos);
    EXPECT_EQ(Starts(3), 1);
}

TEST_F(PlayerTest, GracefulStopFinishesTheEntryThenPlaysTheLeadOut) {
    WritePlaylist("graceful", R"({"name": "graceful", "repeat": 1,
        "mainPlaylist": [{"type": "sequence", "sequenceName": "a.tavo"}, {"type": "sequence", "sequenceName": "b.tavo"}],
        "leadOut": [{"type": "sequence", "sequenceName": "c.tavo"}]})");
    ASSERT_NE(Player::INSTANCE.StartPlaylist("graceful", -1), 0);
    Player::INSTANCE.StopGracefully(1, 0);
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::STOPPING_GRACEFULLY);
    ASSERT_TRUE(RunToIdle());
    std::string played = Played();
    EXPECT_EQ(played.substr(0, 2), "ac");
    EXPECT_EQ(Starts(2), 0);
}

TEST_F(PlayerTest, StopNowEndsAtOnceWithoutTheLeadOut) {
    WritePlaylist("now", R"({"name": "now",
        "mainPlaylist": [{"type": "sequence", "sequenceName": "long.tavo"}],
        "leadOut": [{"type": "sequence", "sequenceName": "c.tavo"}]})");
    ASSERT_NE(Player::INSTANCE.StartPlaylist("now", -1), 0);
    ASSERT_TRUE(RunUntil([this] { return Rec().Count() > 3; }));
    Player::INSTANCE.StopNow(1);
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::IDLE);
    EXPECT_FALSE(sequence->IsSequenceRunning());
    Player::INSTANCE.Process();
    EXPECT_EQ(Starts(3), 0);
}

TEST_F(PlayerTest, ScheduleStopsLeaveAManualPlaylistAlone) {
    WritePlaylist("manual", R"({"name": "manual", "mainPlaylist": [{"type": "pause", "duration": 60}]})");
    ASSERT_NE(Player::INSTANCE.StartPlaylist("manual", 0), 0);
    Player::INSTANCE.StopGracefully(0, 0);
    Player::INSTANCE.StopNow(0);
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PLAYING);
    EXPECT_EQ(Player::INSTANCE.AdjustPlaylistStopTime(60), 0); // not scheduled

    time_t now = time(nullptr);
    ASSERT_NE(Player::INSTANCE.StartScheduledPlaylist("manual", 0, 0, 3, 3, now, now + 600, Player::STOP_HARD), 0);
    EXPECT_TRUE(Player::INSTANCE.WasScheduled());
    EXPECT_EQ(Player::INSTANCE.GetScheduleEntry(), 3);
    EXPECT_EQ(Player::INSTANCE.GetStopMethod(), Player::STOP_HARD);
    EXPECT_NE(Player::INSTANCE.AdjustPlaylistStopTime(60), 0);
    EXPECT_EQ(Player::INSTANCE.GetActualEndTime(), now + 660);
    EXPECT_EQ(Player::INSTANCE.GetScheduledEndTime(), now + 600);
    Player::INSTANCE.StopNow(0);
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::IDLE);
}

TEST_F(PlayerTest, MovesBetweenItemsAndReportsTheCurrentEntry) {
    WritePlaylist("items", R"({"name": "items",
        "leadIn": [{"type": "pause", "duration": 60}],
        "mainPlaylist": [{"type": "pause", "duration": 60}, {"type": "pause", "duration": 30}],
        "leadOut": [{"type": "pause", "duration": 60}]})");
    ASSERT_NE(Player::INSTANCE.StartPlaylist("items", 0, 2), 0);
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 2);
    Player::INSTANCE.NextItem();
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 3);
    Json::Value info = Player::INSTANCE.GetInfo();
    EXPECT_EQ(info["name"].asString(), "items");
    EXPECT_EQ(info["size"].asInt(), 4);
    EXPECT_EQ(info["repeat"].asInt(), 0);
    EXPECT_EQ(info["currentEntry"]["type"].asString(), "pause");
    EXPECT_DOUBLE_EQ(info["currentEntry"]["duration"].asDouble(), 30.0);
    for (auto key : {"secondsElapsed", "secondsRemaining", "remaining"}) {
        EXPECT_TRUE(info["currentEntry"].isMember(key)) << key;
    }
    Player::INSTANCE.PrevItem();
    Player::INSTANCE.PrevItem();
    Player::INSTANCE.PrevItem();
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 1);

    Player::INSTANCE.Pause();
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PAUSED);
    Player::INSTANCE.Resume();
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::PLAYING);

    Json::Value status;
    Player::INSTANCE.GetCurrentStatus(status);
    EXPECT_EQ(status["current_playlist"]["playlist"].asString(), "items");
    EXPECT_EQ(status["current_playlist"]["index"].asInt(), 1);
    EXPECT_EQ(Player::INSTANCE.GetConfig()["name"].asString(), "items");
    EXPECT_GT(Player::INSTANCE.GetFileTime(), 0);
}

TEST_F(PlayerTest, ASequenceNameStartsAsAOneEntryPlaylist) {
    time_t now = time(nullptr);
    ASSERT_NE(Player::INSTANCE.StartScheduledPlaylist("a.tavo", 0, 1, 3, 3, now, now + 60, Player::STOP_AFTER_LOOP), 0);
    EXPECT_EQ(Player::INSTANCE.GetPlaylistName(), "a.tavo");
    EXPECT_TRUE(Player::INSTANCE.WasScheduled());
    EXPECT_EQ(Player::INSTANCE.GetScheduleEntry(), 3);
    EXPECT_EQ(Player::INSTANCE.GetRepeat(), 1);
    ASSERT_TRUE(RunUntil([this] { return Starts(1) >= 2; }));
    Player::INSTANCE.StopGracefully(0, 1);
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(Played(), "a");
    EXPECT_EQ(Starts(2), 0);
    // Once idle, the player still tells which scheduled entry ended.
    EXPECT_FALSE(Player::INSTANCE.WasScheduled());
    EXPECT_EQ(Player::INSTANCE.GetEndedScheduleEntry(), 3);

    // A playlist file of the same name still wins over the sequence.
    WritePlaylist("b.tavo", R"({"name": "b.tavo", "mainPlaylist": [{"type": "sequence", "sequenceName": "c.tavo"}]})");
    ASSERT_NE(Player::INSTANCE.StartPlaylist("b.tavo", 0), 0);
    ASSERT_TRUE(RunToIdle());
    EXPECT_EQ(Starts(3), 1);
    EXPECT_EQ(Starts(2), 0);
    EXPECT_EQ(Player::INSTANCE.GetEndedScheduleEntry(), -1);
}

TEST_F(PlayerTest, BadPlaylistsLeaveThePlayerIdle) {
    struct Case {
        const char* what;
        const char* name;
        const char* text; // null: no file
        const char* warning;
    };
    const Case cases[] = {
        {"missing", "missing", nullptr, "does not exist"},
        {"not JSON", "broken", "{\"mainPlaylist\": [", "not a valid playlist"},
        {"not an object", "array", "[1, 2]", "not a valid playlist"},
        {"section not a list", "section", R"({"mainPlaylist": {"type": "pause"}})", "not a valid playlist"},
        {"nothing playable", "empty", R"({"mainPlaylist": [{"type": "unknownkind"}]})", "cannot be played"},
        {"name leaves the folder", "../x", nullptr, "Invalid playlist name"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        WarningHolder::ClearWarnings();
        if (c.text) {
            WritePlaylist(c.name, c.text);
        }
        EXPECT_EQ(Player::INSTANCE.StartPlaylist(c.name, 0), 0);
        EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::IDLE);
        EXPECT_TRUE(HasWarningContaining(c.warning)) << c.warning;
    }
}

TEST_F(PlayerTest, APlaylistWhoseEntriesAllFailStopsInsteadOfSpinning) {
    WritePlaylist("gone", R"({"name": "gone", "repeat": 1,
        "mainPlaylist": [{"type": "sequence", "sequenceName": "nosuch1.tavo"},
                         {"type": "sequence", "sequenceName": "nosuch2.tavo"}]})");
    Player::INSTANCE.StartPlaylist("gone", -1);
    ASSERT_TRUE(RunToIdle());
    EXPECT_TRUE(HasWarningContaining("none of its entries could be played"));
}

TEST_F(PlayerTest, ResumesThePlaylistNamedInTheSettings) {
    WritePlaylist("resume", R"({"name": "resume",
        "mainPlaylist": [{"type": "pause", "duration": 60}, {"type": "pause", "duration": 60}]})");
    SetSetting("resumePlaylist", "resume");
    SetSetting("resumePosition", 2);
    Player::INSTANCE.Init();
    Player::INSTANCE.Process();
    EXPECT_EQ(Player::INSTANCE.GetPlaylistName(), "resume");
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 2);
    EXPECT_EQ(getSetting("resumePlaylist"), "");
    Player::INSTANCE.StopNow(1);
    Player::INSTANCE.Init();
    Player::INSTANCE.Process();
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::IDLE);
}

TEST(PlaylistTest, PauseEntryLastsItsDuration) {
    Playlist p;
    Json::Value root;
    Json::Value pause;
    pause["type"] = "pause";
    pause["duration"] = 0.05;
    root["mainPlaylist"].append(pause);
    ASSERT_TRUE(p.LoadJson("p", root));
    ASSERT_TRUE(p.Start(0, 0));
    EXPECT_FALSE(p.IsDone());
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!p.IsDone() && std::chrono::steady_clock::now() < end) {
        p.Process();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(p.IsDone());

    for (const char* bad : {"-1", "\"abc\"", "1e9", "null"}) {
        Json::Value e;
        Json::Reader().parse(std::string("{\"type\": \"pause\", \"duration\": ") + bad + "}", e);
        Json::Value r;
        r["mainPlaylist"].append(e);
        Playlist q;
        ASSERT_TRUE(q.LoadJson("q", r));
        EXPECT_EQ(q.GetSize(), 0) << bad;
    }
}

} // namespace
