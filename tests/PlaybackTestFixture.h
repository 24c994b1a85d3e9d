#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Player.h"
#include "Sequence.h"
#include "WarningHolder.h"
#include "channeloutput/ChannelOutputManager.h"
#include "channeloutput/ChannelOutputThread.h"
#include "channeloutput/FrameRecorder.h"
#include "channeloutput/TestMediaDir.h"
#include "log.h"
#include "settings.h"
#include "SequenceTestFiles.h"

// A media directory, one recording output "rec" over the first kChannels channels, and a
// fresh engine. Settings the engine reads at construction are set before MakeEngine().
class PlaybackTest : public ::testing::Test {
protected:
    static constexpr uint32_t kChannels = 64;

    void SetUp() override {
        if (const char* lv = getenv("KIV_TEST_LOG_LEVEL")) {
            SetLogLevelComplex(lv); // e.g. "debug:Sequence,Playlist" when chasing a failure
        }
        WarningHolder::ClearWarnings();
        FrameRecorder::INSTANCE.Reset();
        SetSetting("kivMode", "player");
        SetSetting("blankBetweenSequences", "0");
        SetSetting("bridgeDataPriority", "Prioritize Bridge");
        Json::Value root;
        root["channelOutputs"].append(OutputConfig("TestRecorder", 0, kChannels, "rec"));
        ASSERT_EQ(InitializeChannelOutputsFromJson(root), 1);
    }
    void TearDown() override {
        Player::INSTANCE.Cleanup();
        StopChannelOutputThread();
        delete sequence;
        sequence = nullptr;
        CloseChannelOutputs();
        HoldChannelOutputThread(false);
        FrameRecorder::INSTANCE.Reset();
        SetSetting("kivMode", "player");
    }

    void MakeEngine() { sequence = new Sequence(); }

    std::string WriteSequence(const std::string& name, uint32_t frames, int stepTime, uint32_t seed = 0,
                              std::vector<TAVOFile::VariableHeader> headers = {}) {
        EXPECT_TRUE(WriteTestSequence(media.path + "/sequences/" + name, kChannels, frames, stepTime, seed,
                                      std::move(headers)));
        return name;
    }

    RecorderTrack& Rec() { return *FrameRecorder::INSTANCE.Find("rec"); }

    // Waits (at most timeoutMS) until cond holds; returns whether it did.
    static bool WaitFor(const std::function<bool()>& cond, int timeoutMS = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMS);
        while (!cond()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    bool HasWarningContaining(const std::string& part) {
        auto w = WarningHolder::GetWarnings();
        return std::any_of(w.begin(), w.end(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
    }

    TestMediaDir media;
};
