// The daemon-facing functions over the process-wide bridge (no sockets: those bind fixed ports).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Bridge.h"
#include "BridgePackets.h"
#include "BridgeTestSupport.h"
#include "E131Bridge.h"
#include "MonotonicClock.h"
#include "Sequence.h"
#include "channeloutput/ChannelOutputThread.h"
#include "settings.h"

namespace {

TEST(Bridge, ReadsTheMediaDirectoryFileAndHandsDataToTheSink) {
    std::filesystem::path media = std::filesystem::path(testing::TempDir()) / "bridge-media";
    std::filesystem::create_directories(media / "config");
    {
        std::ofstream f(media / "config" / "ci-universes.json");
        f << R"({"channelInputs":[{"type":"universes","enabled":1,"timeout":500,"universes":[
              {"active":1,"id":10,"universeCount":2,"startChannel":101,"channelCount":512,"type":1,"address":"127.0.0.1"}]}]})";
    }
    setenv("KIV_MEDIA_DIR", media.c_str(), 1);
    ASSERT_TRUE(LoadInputUniversesFromFile());
    E131Bridge& bridge = Bridge_Instance();
    ASSERT_EQ(bridge.InputUniverses().size(), 2u);
    EXPECT_EQ(bridge.InputUniverses()[1].startAddress, 613);
    EXPECT_EQ(bridge.ExpireOffset(), 500);

    // Without a sink and without an engine the data is counted only.
    Bytes p = MakeE131Data(11, 1, Ramp(512));
    bridge.StoreE131Data(p.data(), p.size(), 1000);
    ChannelBufferSink sink;
    Bridge_SetDataSink(&sink);
    p = MakeE131Data(11, 2, Ramp(512));
    bridge.StoreE131Data(p.data(), p.size(), 2000);
    Bridge_SetDataSink(nullptr);
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].start, 612);
    EXPECT_EQ(sink.calls[0].expires, 2500u);
    EXPECT_TRUE(HasBridgeData());

    Json::Value stats = GetE131UniverseBytesReceived();
    ASSERT_EQ(stats["universes"].size(), 2u);
    EXPECT_EQ(stats["universes"][1]["packetsReceived"], "2");
    ResetBytesReceived();
    stats = GetE131UniverseBytesReceived();
    EXPECT_EQ(stats["universes"][1]["packetsReceived"], "0");

    std::filesystem::remove(media / "config" / "ci-universes.json");
    EXPECT_FALSE(LoadInputUniversesFromFile());
    EXPECT_TRUE(Bridge_Instance().InputUniverses().empty());
    unsetenv("KIV_MEDIA_DIR");
    std::filesystem::remove_all(media);
}

// Into the real engine: E1.31 data lands in the channel data on the next frame, and a
// stream-terminated packet takes it away on the frame after.
TEST(Bridge, DataReachesTheEngineAndTerminationEndsIt) {
    bool held = HoldChannelOutputThread(true); // frames are driven by hand
    SetSetting("bridgeDataPriority", "Prioritize Bridge");
    sequence = new Sequence();
    InputUniverseConfig cfg;
    cfg.loaded = true;
    cfg.universes = {Universe(1, 11, 512, UNIVERSE_TYPE_E131_UNICAST)};
    E131Bridge& bridge = Bridge_Instance();
    bridge.SetInputUniverses(cfg);

    Bytes p = MakeE131Data(1, 1, Ramp(512, 1));
    bridge.StoreE131Data(p.data(), p.size(), (uint64_t)GetMonotonicTimeMS());
    EXPECT_TRUE(sequence->hasBridgeData());
    sequence->ProcessSequenceData(0);
    EXPECT_EQ(sequence->seqData[9], 0);
    EXPECT_EQ(sequence->seqData[10], 1);
    EXPECT_EQ(sequence->seqData[10 + 511], (uint8_t)(1 + 511));
    EXPECT_EQ(sequence->seqData[10 + 512], 0);

    p = MakeE131Data(1, 2, Ramp(512, 1), E131_OPTION_TERMINATED);
    EXPECT_TRUE(bridge.StoreE131Data(p.data(), p.size(), (uint64_t)GetMonotonicTimeMS()));
    sequence->ProcessSequenceData(0);
    EXPECT_FALSE(sequence->hasBridgeData());

    delete sequence;
    sequence = nullptr;
    bridge.SetInputUniverses({});
    HoldChannelOutputThread(held);
}

} // namespace
