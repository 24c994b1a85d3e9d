#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CommandManager.h"
#include "Player.h"
#include "Scheduler.h"
#include "common.h"
#include "settings.h"

namespace {

// The daemon's scheduler over the real player (idle here) and the registry.
class SchedulerCommandsTest : public ::testing::Test {
protected:
    std::string media;
    void SetUp() override {
        char tmpl[] = "/tmp/kivschedcmdXXXXXX";
        media = mkdtemp(tmpl);
        std::filesystem::create_directories(media + "/config");
        PutFileContents(media + "/config/schedule.json", "[]");
        setenv("KIV_MEDIA_DIR", media.c_str(), 1);
        settings.LoadDefaults();
    }
    void TearDown() override {
        unsetenv("KIV_MEDIA_DIR");
        std::filesystem::remove_all(media);
    }
};

TEST_F(SchedulerCommandsTest, RegisteredWithTheirArgumentsAndFailuresAreErrors) {
    auto s = std::make_unique<Scheduler>();
    Json::Value d = CommandManager::INSTANCE.getDescription("Extend Schedule");
    ASSERT_EQ(d["args"].size(), 2u);
    EXPECT_EQ(d["args"][0]["name"], "Seconds");
    EXPECT_EQ(d["args"][0]["type"], "int");
    EXPECT_EQ(d["args"][0]["min"], -43200);
    EXPECT_EQ(d["args"][0]["max"], 43200);
    EXPECT_EQ(d["args"][0]["default"], "300");
    EXPECT_EQ(d["args"][0]["adjustable"], true);
    EXPECT_EQ(d["args"][1]["description"], "For schedule events occurring in the next x Seconds");
    EXPECT_EQ(d["args"][1]["default"], "0");
    EXPECT_FALSE(CommandManager::INSTANCE.getDescription("Start Next Scheduled Item").isNull());

    auto r = CommandManager::INSTANCE.run("Extend Schedule", std::vector<std::string>{});
    EXPECT_TRUE(r->isError());
    EXPECT_EQ(r->get(), "Command needs at least 1 argument, found 0");
    r = CommandManager::INSTANCE.run("Extend Schedule", std::vector<std::string>{"600"});
    EXPECT_TRUE(r->isError()); // nothing scheduled plays
    EXPECT_EQ(r->get(), "Error extending Schedule");
    r = CommandManager::INSTANCE.run("Start Next Scheduled Item", std::vector<std::string>{});
    EXPECT_TRUE(r->isError());
    EXPECT_EQ(r->get(), "Unable to start next scheduled item");

    // Once the scheduler is gone the commands answer rather than reach it.
    s.reset();
    r = CommandManager::INSTANCE.run("Start Next Scheduled Item", std::vector<std::string>{});
    EXPECT_TRUE(r->isError());
    EXPECT_EQ(r->get(), "Scheduler is not running");
}

// Through the adapters: the real player takes a scheduled playlist (a long pause) from
// the scheduler, and "Extend Schedule" moves its end.
TEST_F(SchedulerCommandsTest, DrivesTheRealPlayer) {
    std::filesystem::create_directories(media + "/playlists");
    PutFileContents(media + "/playlists/AllDay.json",
                    R"({"name": "AllDay", "mainPlaylist": [{"type": "pause", "duration": 86400}]})");
    // End equal to start: from today's midnight to tomorrow's, whatever the time now.
    PutFileContents(media + "/config/schedule.json",
                    R"([{"playlist": "AllDay", "startTime": "00:00:00", "endTime": "00:00:00", "stopType": 1}])");
    auto s = std::make_unique<Scheduler>();
    s->CheckIfShouldBePlayingNow(0, -1);
    ASSERT_EQ(Player::INSTANCE.GetStatus(), Player::PLAYING);
    EXPECT_TRUE(Player::INSTANCE.WasScheduled());
    EXPECT_EQ(Player::INSTANCE.GetPlaylistName(), "AllDay");
    EXPECT_EQ(Player::INSTANCE.GetStopMethod(), Player::STOP_HARD);
    time_t end = Player::INSTANCE.GetScheduledEndTime();
    EXPECT_EQ(s->GetInfo()["status"], "playing");

    auto r = CommandManager::INSTANCE.run("Extend Schedule", std::vector<std::string>{"600"});
    EXPECT_FALSE(r->isError());
    EXPECT_EQ(r->get(), "Schedule Updated");
    EXPECT_EQ(Player::INSTANCE.GetActualEndTime(), end + 600);
    EXPECT_EQ(s->GetInfo()["currentPlaylist"]["actualEndTime"].asInt64(), (Json::Int64)(end + 600));

    Player::INSTANCE.StopNow(1);
    Player::INSTANCE.Cleanup();
    EXPECT_EQ(Player::INSTANCE.GetStatus(), Player::IDLE);
}

} // namespace
