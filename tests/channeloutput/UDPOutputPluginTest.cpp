#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "LoopbackReceiver.h"
#include "WarningHolder.h"
#include "channeloutput/ChannelOutput.h"
#include "channeloutput/ChannelOutputManager.h"
#include "channeloutput/TestMediaDir.h"
#include "common.h"

// The "UDP" module as the daemon uses it: loaded by the output manager from
// build/src/plugins, configured from a channel output entry, driven frame by frame.
namespace {

class UDPOutputPluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        WarningHolder::ClearWarnings();
        setenv("KIV_PLUGIN_DIR", KIV_BUILD_DIR "/src/plugins", 1);
        buffer.assign(KIV_CHANNEL_BUFFER_SIZE, 0);
        ASSERT_TRUE(e131.ok() && ddp.ok());
    }
    void TearDown() override {
        CloseChannelOutputs();
        WarningHolder::ClearWarnings();
    }

    TestMediaDir media; // before the plugin directory is pointed at the real modules
    std::vector<unsigned char> buffer;
    LoopbackReceiver e131{"127.0.0.2", 5568};
    LoopbackReceiver ddp{"127.0.0.4", 4048};
};

TEST_F(UDPOutputPluginTest, LoadedByTheOutputManagerSendsEveryFrame) {
    const Json::Value root = LoadJsonFromString(R"({"channelOutputs": [{
        "type": "UDP", "enabled": 1, "interface": "lo",
        "universes": [
          {"type": 1, "address": "127.0.0.2", "startChannel": 1, "channelCount": 512, "id": 1, "universeCount": 2},
          {"type": 4, "address": "127.0.0.4", "startChannel": 2001, "channelCount": 100}
        ]}]})");
    ASSERT_EQ(InitializeChannelOutputsFromJson(root), 1);
    EXPECT_EQ(GetOutputRanges(true),
              (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1024}, {2000, 100}}));
    StartingOutput();
    for (int frame = 0; frame < 3; frame++) {
        for (size_t i = 0; i < 2100; i++) buffer[i] = uint8_t(i + frame);
        PrepareChannelData(buffer.data());
        SendChannelData(buffer.data());
        const auto e = e131.receive(2, 2000);
        ASSERT_EQ(e.size(), 2u) << "frame " << frame;
        for (size_t u = 0; u < 2; u++) {
            EXPECT_EQ(e[u][111], frame) << "sequence";
            EXPECT_EQ(e[u][114], 1 + int(u)) << "universe";
            EXPECT_TRUE(std::equal(e[u].begin() + 126, e[u].end(), buffer.begin() + long(u) * 512));
        }
        const auto d = ddp.receive(1, 2000);
        ASSERT_EQ(d.size(), 1u);
        EXPECT_EQ(d[0][0], 0x41);
        EXPECT_EQ(d[0][6] << 8 | d[0][7], 2000) << "type 4: the show's channel numbers";
        EXPECT_TRUE(std::equal(d[0].begin() + 10, d[0].end(), buffer.begin() + 2000));
    }
    StoppingOutput();
    EXPECT_TRUE(WarningHolder::GetWarnings().empty());
}

} // namespace
