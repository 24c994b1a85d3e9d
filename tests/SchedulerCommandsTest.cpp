#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CommandManager.h"
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

} // namespace
