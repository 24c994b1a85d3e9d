#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <map>
#include <memory>

#include "ControllerPinger.h"
#include "DDPOutputData.h"
#include "E131OutputData.h"
#include "WarningHolder.h"

namespace {

// Scripted controllers: whether each host answers pings and HTTP, and what was asked.
class ControllerPingerTest : public ::testing::Test {
protected:
    void SetUp() override { WarningHolder::ClearWarnings(); }
    void TearDown() override { WarningHolder::ClearWarnings(); }

    std::unique_ptr<UDPOutputData> entry(const std::string& address, const std::string& extra = "") {
        Json::Value v;
        v["type"] = 4;
        v["startChannel"] = 1;
        v["channelCount"] = 30;
        v["address"] = address;
        v["description"] = "tree";
        if (extra == "unmonitored") v["monitor"] = 0;
        if (extra == "inactive") v["active"] = 0;
        return std::make_unique<DDPOutputData>(v, UDPOutputContext{});
    }

    ControllerPinger pinger{
        [this](const std::vector<PingRequest>& requests) {
            std::vector<int> r;
            for (const PingRequest& q : requests) {
                pings.push_back({q.host, q.timeoutMs});
                r.push_back(pingAnswers[q.host] ? 1 : 0);
            }
            return r;
        },
        [this](const std::vector<std::string>& hosts) {
            probes.push_back(hosts);
            std::vector<bool> r;
            for (const auto& h : hosts) r.push_back(httpAnswers[h]);
            return r;
        }};
    std::map<std::string, bool> pingAnswers, httpAnswers;
    std::vector<std::pair<std::string, int>> pings;
    std::vector<std::vector<std::string>> probes;
};

TEST_F(ControllerPingerTest, EscalatesThenRemovesAndRestores) {
    auto o = entry("127.0.0.5");
    std::vector<UDPOutputData*> list = {o.get()};
    const std::string warning = "Cannot Ping DDP Channel Data Target 127.0.0.5 tree";

    struct Step { bool answers; int timeout; int failCount; bool valid; bool changed; size_t probes; };
    const Step steps[] = {
        {false, 250, 1, true, false, 0},
        {false, 500, 2, true, false, 1},   // the second failure starts an HTTP probe
        {false, 1000, 3, false, true, 1},  // the third removes it with a warning
        {false, 250, 4, false, false, 1},
        {false, 250, 0, false, false, 1},  // past 4 the count starts over
        {false, 250, 1, false, false, 1},
        {true, 500, 0, true, true, 1},     // an answer puts it back
    };
    int n = 0;
    for (const Step& s : steps) {
        pingAnswers["127.0.0.5"] = s.answers;
        pings.clear();
        EXPECT_EQ(pinger.PingControllers(list, false), s.changed) << "step " << n;
        ASSERT_EQ(pings.size(), 1u);
        EXPECT_EQ(pings[0].second, s.timeout) << "step " << n;
        EXPECT_EQ(o->failCount, s.failCount) << "step " << n;
        EXPECT_EQ(o->valid, s.valid) << "step " << n;
        EXPECT_EQ(probes.size(), s.probes) << "step " << n;
        const auto w = WarningHolder::GetWarnings();
        EXPECT_EQ(std::find(w.begin(), w.end(), warning) != w.end(), !s.valid) << "step " << n;
        n++;
    }
}

TEST_F(ControllerPingerTest, OneAnswerEndsTheRunOfFailures) {
    auto o = entry("127.0.0.5");
    std::vector<UDPOutputData*> list = {o.get()};
    pinger.PingControllers(list, false);
    pinger.PingControllers(list, false);
    ASSERT_EQ(o->failCount, 2);
    pingAnswers["127.0.0.5"] = true;
    pinger.PingControllers(list, false);
    EXPECT_EQ(o->failCount, 0);
    pingAnswers["127.0.0.5"] = false;
    pinger.PingControllers(list, false);
    EXPECT_TRUE(o->valid) << "a single later failure does not remove it";
}

TEST_F(ControllerPingerTest, HttpAnswerKeepsControllerThatIgnoresPings) {
    auto a = entry("127.0.0.6");
    auto b = entry("127.0.0.6"); // a second entry for the same controller
    std::vector<UDPOutputData*> list = {a.get(), b.get()};
    httpAnswers["127.0.0.6"] = true;
    pinger.PingControllers(list, false);
    pings.clear();
    pinger.PingControllers(list, false);
    EXPECT_EQ(pings.size(), 1u) << "one ping per host and round";
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0], std::vector<std::string>{"127.0.0.6"}) << "one probe per host";
    EXPECT_EQ(a->failCount, 0);
    EXPECT_EQ(b->failCount, 0);
    for (int n = 0; n < 5; n++) pinger.PingControllers(list, false);
    EXPECT_TRUE(a->valid);
    EXPECT_TRUE(WarningHolder::GetWarnings().empty());
}

TEST_F(ControllerPingerTest, SkipsWhatIsNotWatched) {
    auto healthy = entry("127.0.0.7");
    auto failing = entry("127.0.0.8");
    auto unmonitored = entry("127.0.0.9", "unmonitored");
    auto inactive = entry("127.0.0.10", "inactive");
    Json::Value mc;
    mc["type"] = 0;
    mc["startChannel"] = 1;
    mc["channelCount"] = 10;
    mc["id"] = 1;
    E131OutputData multicast(mc, UDPOutputContext{});
    pingAnswers["127.0.0.7"] = true;
    std::vector<UDPOutputData*> list = {healthy.get(), failing.get(), unmonitored.get(),
                                        inactive.get(), &multicast};
    pinger.PingControllers(list, false);
    ASSERT_EQ(pings.size(), 2u);
    EXPECT_EQ(pings[0].first, "127.0.0.7");
    EXPECT_EQ(pings[1].first, "127.0.0.8");
    pings.clear();
    pinger.PingControllers(list, true);
    ASSERT_EQ(pings.size(), 1u) << "failed only";
    EXPECT_EQ(pings[0].first, "127.0.0.8");
}

} // namespace
