#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "WarningHolder.h"
#include "channeloutput/ChannelOutput.h"
#include "channeloutput/ChannelOutputManager.h"
#include "channeloutput/FrameRecorder.h"
#include "channeloutput/TestMediaDir.h"

namespace {

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

class ChannelOutputManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WarningHolder::ClearWarnings();
        FrameRecorder::INSTANCE.Reset();
        buffer.assign(KIV_CHANNEL_BUFFER_SIZE, 0);
    }
    void TearDown() override {
        CloseChannelOutputs();
        FrameRecorder::INSTANCE.Reset();
    }
    int Start(const std::vector<Json::Value>& outputs) {
        Json::Value root;
        root["channelOutputs"] = Json::arrayValue;
        for (auto& o : outputs) {
            root["channelOutputs"].append(o);
        }
        return InitializeChannelOutputsFromJson(root);
    }
    bool HasWarningContaining(const std::string& part) {
        auto w = WarningHolder::GetWarnings();
        return std::any_of(w.begin(), w.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
    }

    TestMediaDir media;
    std::vector<unsigned char> buffer;
};

TEST_F(ChannelOutputManagerTest, DrivesEveryOutputEachFrameAndReportsTheUnionOfRanges) {
    ASSERT_EQ(Start({OutputConfig("TestRecorder", 0, 512, "a"), OutputConfig("TestRecorder", 300, 400, "b"),
                     OutputConfig("TestRecorder", 5000, 10, "c")}),
              3);
    EXPECT_EQ(GetOutputRanges(true), (Ranges{{0, 700}, {5000, 10}}));
    EXPECT_EQ(GetOutputRanges(false), (Ranges{{0, 700}, {5000, 10}}));

    buffer[0] = 7;
    buffer[5000] = 9;
    SetChannelOutputFrameNumber(42);
    PrepareChannelData(buffer.data());
    SendChannelData(buffer.data());

    for (auto name : {"a", "b", "c"}) {
        auto* t = FrameRecorder::INSTANCE.Find(name);
        ASSERT_NE(t, nullptr) << name;
        EXPECT_EQ(t->prepCount, 1) << name;
        auto recs = t->Snapshot();
        ASSERT_EQ(recs.size(), 1u) << name;
        EXPECT_EQ(recs[0].frame, 42u);
    }
    EXPECT_EQ(FrameRecorder::INSTANCE.Find("a")->Snapshot()[0].first, 7);
    EXPECT_EQ(FrameRecorder::INSTANCE.Find("c")->Snapshot()[0].checksum, FrameChecksum(&buffer[5000], 10));

    StartingOutput();
    StoppingOutput();
    EXPECT_EQ(FrameRecorder::INSTANCE.Find("b")->startingCount, 1);
    EXPECT_EQ(FrameRecorder::INSTANCE.Find("b")->stoppingCount, 1);

    CloseChannelOutputs();
    EXPECT_EQ(FrameRecorder::INSTANCE.Find("a")->closeCount, 1);
    EXPECT_TRUE(GetOutputRanges(true).empty());
}

// Each bad entry is skipped, the good one beside it still runs, and the user is told
// which output is missing.
TEST_F(ChannelOutputManagerTest, SkipsOutputsThatCannotStart) {
    struct Case {
        const char* what;
        Json::Value config;
        const char* warningNames; // empty: skipped silently
    };
    Json::Value failing = OutputConfig("TestRecorder", 0, 10, "failing");
    failing["failInit"] = true;
    Json::Value disabled = OutputConfig("TestRecorder", 0, 10, "disabled");
    disabled["enabled"] = 0;
    Json::Value disabledBool = OutputConfig("TestRecorder", 0, 10, "disabledBool");
    disabledBool["enabled"] = false;
    Json::Value noType = OutputConfig("TestRecorder", 0, 10, "x");
    noType.removeMember("type");
    Json::Value notObject = "TestRecorder";
    const Case cases[] = {
        {"module missing", OutputConfig("NoSuchOutput", 0, 10, "x"), "NoSuchOutput"},
        {"Init fails", failing, "TestRecorder"},
        {"type leaves the plugin folder", OutputConfig("../../etc/x", 0, 10, "x"), "../../etc/x"},
        {"channels past the buffer", OutputConfig("TestRecorder", KIV_MAX_CHANNELS - 5, 10, "x"), "TestRecorder"},
        {"no type", noType, "(untyped)"},
        {"disabled", disabled, ""},
        {"disabled as bool", disabledBool, ""},
        {"not an object", notObject, ""},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        WarningHolder::ClearWarnings();
        FrameRecorder::INSTANCE.Reset();
        EXPECT_EQ(Start({c.config, OutputConfig("TestRecorder", 100, 10, "good")}), 1);
        SendChannelData(buffer.data());
        ASSERT_NE(FrameRecorder::INSTANCE.Find("good"), nullptr);
        EXPECT_EQ(FrameRecorder::INSTANCE.Find("good")->Count(), 1u);
        EXPECT_EQ(GetOutputRanges(true), (Ranges{{100, 10}}));
        if (*c.warningNames) {
            EXPECT_TRUE(HasWarningContaining(c.warningNames)) << c.warningNames;
        } else {
            EXPECT_TRUE(WarningHolder::GetWarnings().empty());
        }
        CloseChannelOutputs();
    }
}

TEST_F(ChannelOutputManagerTest, ThreadedOutputSendsItsOwnCopyOfTheFrame) {
    ASSERT_EQ(Start({OutputConfig("TestThreadedRecorder", 10, 100, "t")}), 1);
    auto* t = FrameRecorder::INSTANCE.Find("t");
    ASSERT_NE(t, nullptr);
    memset(&buffer[10], 0x55, 100);
    uint64_t expected = FrameChecksum(&buffer[10], 100);
    SendChannelData(buffer.data());
    // The engine overwrites its buffer right after the send; the output must not see that.
    memset(&buffer[10], 0xAA, 100);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (t->Count() < 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto recs = t->Snapshot();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].checksum, expected);
    EXPECT_EQ(recs[0].first, 0x55);
}

TEST_F(ChannelOutputManagerTest, ReadsTheConfigurationFileOfTheMediaDirectory) {
    Json::Value root;
    root["channelOutputs"].append(OutputConfig("TestRecorder", 0, 3, "fromFile"));
    media.WriteJson("config/channeloutputs.json", root);
    EXPECT_EQ(InitializeChannelOutputs(), 1);
    EXPECT_NE(FrameRecorder::INSTANCE.Find("fromFile"), nullptr);
}

TEST_F(ChannelOutputManagerTest, MalformedOrMissingConfigurationStartsNothing) {
    EXPECT_EQ(InitializeChannelOutputs(), 0); // missing: a fresh system, no warning
    EXPECT_TRUE(WarningHolder::GetWarnings().empty());

    media.Write("config/channeloutputs.json", "{\"channelOutputs\": [ {\"type\": ");
    EXPECT_EQ(InitializeChannelOutputs(), 0);
    EXPECT_TRUE(HasWarningContaining("channeloutputs.json"));

    WarningHolder::ClearWarnings();
    media.Write("config/channeloutputs.json", "{\"channelOutputs\": 5}");
    EXPECT_EQ(InitializeChannelOutputs(), 0);
    EXPECT_TRUE(HasWarningContaining("not a list"));
}

} // namespace
