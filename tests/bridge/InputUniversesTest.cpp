#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdio>
#include <fstream>

#include "InputUniverses.h"
#include "common.h"

namespace {

Json::Value Parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(LoadJsonFromString(text, v)) << text;
    return v;
}

TEST(InputUniverses, ExpandsUniverseCount) {
    auto cfg = ParseInputUniverses(Parse(R"({"channelInputs":[{"type":"universes","enabled":1,"timeout":2500,
        "universes":[{"active":1,"id":10,"universeCount":3,"startChannel":1,"channelCount":512,"type":0,"priority":7},
                     {"active":1,"id":20,"startChannel":2000,"channelCount":100,"type":1,"address":"10.0.0.9"},
                     {"active":1,"id":30,"startChannel":3000,"channelCount":100,"type":2,"address":"ignored"}]}]})"));
    EXPECT_TRUE(cfg.loaded);
    EXPECT_EQ(cfg.timeoutMs, 2500);
    ASSERT_EQ(cfg.universes.size(), 5u);
    const int ids[] = {10, 11, 12, 20, 30};
    const int starts[] = {1, 513, 1025, 2000, 3000};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(cfg.universes[i].universe, ids[i]);
        EXPECT_EQ(cfg.universes[i].startAddress, starts[i]);
    }
    EXPECT_EQ(cfg.universes[0].priority, 7);
    EXPECT_EQ(cfg.universes[3].unicastAddress, "10.0.0.9");
    EXPECT_EQ(cfg.universes[4].unicastAddress, "");
}

TEST(InputUniverses, SkipsDisabledInactiveAndInvalid) {
    auto cfg = ParseInputUniverses(Parse(R"({"channelInputs":[
        {"type":"universes","enabled":0,"universes":[{"active":1,"id":1,"startChannel":1,"channelCount":1,"type":0}]},
        {"type":"other","enabled":1,"universes":[{"active":1,"id":2,"startChannel":1,"channelCount":1,"type":0}]},
        {"type":"universes","enabled":1,"universes":[
            {"active":0,"id":3,"startChannel":1,"channelCount":1,"type":0},
            {"active":1,"id":4,"startChannel":1,"channelCount":1,"type":7},
            {"active":1,"id":-1,"startChannel":1,"channelCount":1,"type":0},
            {"active":1,"id":65536,"startChannel":1,"channelCount":1,"type":0},
            {"active":1,"id":5,"startChannel":0,"channelCount":1,"type":0},
            {"active":1,"id":6,"startChannel":1,"channelCount":0,"type":0},
            {"active":1,"id":7,"startChannel":8388200,"channelCount":512,"type":0},
            {"active":1,"id":65534,"universeCount":5,"startChannel":1,"channelCount":1,"type":2},
            {"active":1,"id":100,"universeCount":3,"startChannel":8387585,"channelCount":512,"type":0},
            "not an object"]}]})"));
    EXPECT_TRUE(cfg.loaded);
    EXPECT_EQ(cfg.timeoutMs, -1);
    std::vector<int> ids;
    for (auto& u : cfg.universes) ids.push_back(u.universe);
    // 65534 and 65535 fit; universe 101 ends exactly at the last channel, 102 would not.
    EXPECT_EQ(ids, (std::vector<int>{65534, 65535, 100, 101}));
}

TEST(InputUniverses, NothingLoadedFromBadDocuments) {
    for (const char* text : {"[]", "{}", R"({"channelInputs":5})", R"({"channelInputs":[{"type":"universes"}]})"}) {
        auto cfg = ParseInputUniverses(Parse(text));
        EXPECT_FALSE(cfg.loaded) << text;
        EXPECT_TRUE(cfg.universes.empty()) << text;
    }
}

TEST(InputUniverses, FileErrors) {
    EXPECT_FALSE(LoadInputUniverses("/nonexistent/ci-universes.json").loaded);
    std::string path = testing::TempDir() + "ci-universes-bad.json";
    {
        std::ofstream f(path);
        f << "{ not json";
    }
    EXPECT_FALSE(LoadInputUniverses(path).loaded);
    {
        std::ofstream f(path);
        f << R"({"channelInputs":[{"type":"universes","enabled":1,"universes":[
              {"active":1,"id":1,"startChannel":1,"channelCount":512,"type":0}]}]})";
    }
    auto cfg = LoadInputUniverses(path);
    EXPECT_TRUE(cfg.loaded);
    EXPECT_EQ(cfg.universes.size(), 1u);
    remove(path.c_str());
}

TEST(InputUniverses, SequenceCheck) {
    struct {
        int last, next;
        bool error;
    } cases[] = {{1, 2, false}, {1, 3, true}, {5, 5, true}, {255, 0, false}, {255, 1, false},
                 {255, 2, true}, {254, 255, false}, {10, 9, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(IsSequenceError(c.last, c.next), c.error) << c.last << " -> " << c.next;
    }
}

} // namespace
