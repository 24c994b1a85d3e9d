#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "CommandManager.h"
#include "CommandTestSupport.h"
#include "Timers.h"
#include "common.h"

namespace fs = std::filesystem;
using cmdtest::RecordingCommand;
using cmdtest::RunLog;
using Runs = std::vector<std::pair<std::string, std::vector<std::string>>>;

namespace {

void writeFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CommandPresetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(cmdtest::MediaDir() / "config");
        fs::remove_all(cmdtest::MediaDir() / "events");
        manager.addCommand(new RecordingCommand("Echo", log));
        manager.addCommand(new RecordingCommand("Other", log));
    }
    void loadPresets(const std::string& text) {
        writeFile(presetsFile(), text);
        manager.LoadPresets();
    }
    static fs::path presetsFile() { return cmdtest::MediaDir() / "config" / "commandPresets.json"; }

    RunLog log;
    CommandManager manager;
};

TEST_F(CommandPresetsTest, PresetsFileLivesInTheMediaConfigFolder) {
    EXPECT_EQ(presetsFile().string(), CommandManager::PresetsFile());
}

TEST_F(CommandPresetsTest, EntriesOfOneNameRunInFileOrderWithKeywordsInTheirArgs) {
    loadPresets(R"({"commands": [
        {"name": "SHOW", "command": "Echo", "args": ["1 %SEQUENCE_NAME%"]},
        {"name": "OTHER", "command": "Other", "args": ["x"]},
        {"name": "SHOW", "command": "Other", "args": ["2 %SEQUENCE_NAME%", "%NOPE%"], "extra": "%SEQUENCE_NAME%"},
        {"name": "SHOW", "command": "%SEQUENCE_NAME%", "args": [3]}
    ]})");
    std::map<std::string, std::string> keywords{{"SEQUENCE_NAME", "Echo"}};
    EXPECT_TRUE(manager.TriggerPreset("SHOW", keywords));
    Runs runs = log.take();
    ASSERT_EQ(2u, runs.size());  // the third entry's command name is not a keyword target
    EXPECT_EQ((std::pair<std::string, std::vector<std::string>>{"Echo", {"1 Echo"}}), runs[0]);
    EXPECT_EQ((std::pair<std::string, std::vector<std::string>>{"Other", {"2 Echo", "%NOPE%"}}), runs[1]);

    EXPECT_FALSE(manager.TriggerPreset("MISSING"));
    EXPECT_TRUE(log.take().empty());
}

TEST_F(CommandPresetsTest, ReplaceCommandKeywordsTouchesOnlyArgs) {
    Json::Value cmd;
    Json::Reader().parse(R"({"command":"%K%","args":["%K%-%K%", 7],"name":"%K%"})", cmd);
    std::map<std::string, std::string> k{{"K", "v"}};
    Json::Value out = manager.ReplaceCommandKeywords(cmd, k);
    EXPECT_EQ("%K%", out["command"].asString());
    EXPECT_EQ("%K%", out["name"].asString());
    EXPECT_EQ("v-v", out["args"][0].asString());
    EXPECT_EQ("7", out["args"][1].asString());
    EXPECT_EQ("%K%-%K%", cmd["args"][0].asString());  // a copy
}

TEST_F(CommandPresetsTest, SlotsMatchAcrossPresetsInNameOrder) {
    loadPresets(R"({"commands": [
        {"name": "b", "command": "Echo", "args": ["b3"], "presetSlot": 3},
        {"name": "a", "command": "Echo", "args": ["a-none"]},
        {"name": "a", "command": "Echo", "args": ["a3"], "presetSlot": 3},
        {"name": "c", "command": "Echo", "args": ["c3-text"], "presetSlot": "3"},
        {"name": "c", "command": "Echo", "args": ["c-bad"], "presetSlot": "three"},
        {"name": "c", "command": "Echo", "args": ["c-obj"], "presetSlot": {"x": 1}}
    ]})");
    struct Case {
        int slot;
        std::vector<std::string> firstArgs;
    } cases[] = {{3, {"a3", "b3", "c3-text"}}, {0, {"a-none"}}, {4, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slot);
        EXPECT_TRUE(manager.TriggerPreset(c.slot));
        std::vector<std::string> got;
        for (auto& r : log.take()) {
            got.push_back(r.second.at(0));
        }
        EXPECT_EQ(c.firstArgs, got);
    }
    // Entries with an unreadable slot still run by name.
    EXPECT_TRUE(manager.TriggerPreset("c"));
    EXPECT_EQ(3u, log.take().size());
}

TEST_F(CommandPresetsTest, HandEditedOddValuesAreReadWithoutThrowing) {
    loadPresets(R"({"commands": [
        {"name": "odd", "command": "Echo", "args": [1, true, null, {"a": "b"}, ["x"]]},
        {"name": "odd", "command": "Echo", "args": "lonely"},
        {"command": "Echo", "args": ["no name"]},
        {"name": 5, "command": "Echo"},
        "not an object",
        {"name": "odd", "command": "Echo", "args": {"k": "v"}}
    ]})");
    EXPECT_TRUE(manager.TriggerPreset("odd"));
    Runs runs = log.take();
    ASSERT_EQ(3u, runs.size());
    EXPECT_EQ((std::vector<std::string>{"1", "true", "", "{\"a\":\"b\"}", "[\"x\"]"}), runs[0].second);
    EXPECT_EQ((std::vector<std::string>{"lonely"}), runs[1].second);
    EXPECT_EQ(std::vector<std::string>{"{\"k\":\"v\"}"}, runs[2].second);
}

TEST_F(CommandPresetsTest, UnusableFilesGiveNoPresets) {
    for (const char* text : {"{ not json", R"({"commands": {"name": "x"}})", R"([1, 2])", R"({"other": []})"}) {
        SCOPED_TRACE(text);
        loadPresets(R"({"commands": [{"name": "x", "command": "Echo"}]})");
        ASSERT_TRUE(manager.TriggerPreset("x"));
        loadPresets(text);
        EXPECT_FALSE(manager.TriggerPreset("x"));
        EXPECT_TRUE(manager.TriggerPreset(0));
        log.take();
        EXPECT_EQ(text, readFile(presetsFile()));  // left as the user wrote it
    }
}

TEST_F(CommandPresetsTest, FirstStartWritesAnEmptyPresetsFile) {
    ASSERT_FALSE(fs::exists(cmdtest::MediaDir() / "config"));
    manager.LoadPresets();
    ASSERT_TRUE(fs::exists(presetsFile()));
    Json::Value file;
    ASSERT_TRUE(Json::Reader().parse(readFile(presetsFile()), file));
    ASSERT_TRUE(file["commands"].isArray());
    EXPECT_EQ(0u, file["commands"].size());
    EXPECT_TRUE(manager.TriggerPreset(0));
    EXPECT_TRUE(log.take().empty());
}

TEST_F(CommandPresetsTest, LegacyEventFilesAreConvertedMajorFirst) {
    fs::path events = cmdtest::MediaDir() / "events";
    writeFile(events / "02_01.fevt", R"({"majorId": 2, "minorId": 1, "name": "second", "command": "Echo", "args": ["2-1"], "keep": "me"})");
    writeFile(events / "01_25.fevt", R"({"majorId": 1, "minorId": 25, "name": "first", "command": "Echo", "args": ["1-25"]})");
    writeFile(events / "01_02.fevt", R"({"majorId": 1, "minorId": 2, "name": "first", "command": "Other", "args": ["1-2"], "presetSlot": 9})");
    writeFile(events / "03_03.fevt", "broken {");
    writeFile(events / "26_01.fevt", R"({"name": "outside", "command": "Echo"})");
    writeFile(events / "1_1.fevt", R"({"name": "badname", "command": "Echo"})");
    manager.LoadPresets();

    std::string text = readFile(presetsFile());
    EXPECT_NE(std::string::npos, text.find("\n\t\"commands\""));  // one tab per level
    Json::Value file;
    ASSERT_TRUE(Json::Reader().parse(text, file));
    const Json::Value& cmds = file["commands"];
    ASSERT_EQ(3u, cmds.size());
    EXPECT_EQ("1-2", cmds[0]["args"][0].asString());
    EXPECT_EQ("1-25", cmds[1]["args"][0].asString());
    EXPECT_EQ("2-1", cmds[2]["args"][0].asString());
    for (const auto& c : cmds) {
        EXPECT_FALSE(c.isMember("majorId"));
        EXPECT_FALSE(c.isMember("minorId"));
        EXPECT_EQ(0, c["presetSlot"].asInt());
    }
    EXPECT_EQ("me", cmds[2]["keep"].asString());

    // Converted events answer slot 0, in preset-name order.
    EXPECT_TRUE(manager.TriggerPreset(0));
    std::vector<std::string> got;
    for (auto& r : log.take()) {
        got.push_back(r.second.at(0));
    }
    EXPECT_EQ((std::vector<std::string>{"1-2", "1-25", "2-1"}), got);
}

TEST_F(CommandPresetsTest, PresetCommandsTriggerThroughTheRegistry) {
    manager.Init();  // the built-ins join the test commands
    loadPresets(R"({"commands": [
        {"name": "P1", "command": "Echo", "args": ["p1"], "presetSlot": 2},
        {"name": "P2", "command": "Echo", "args": ["p2"], "presetSlot": 4}
    ]})");
    struct Case {
        const char* command;
        std::vector<std::string> args;
        bool error;
        std::vector<std::string> ran;
    } cases[] = {
        {"Trigger Preset", {"P1"}, false, {"p1"}},
        {"Trigger Preset", {"P9"}, true, {}},
        {"Trigger Preset", {}, true, {}},
        {"Trigger Preset Slot", {"4"}, false, {"p2"}},
        {"Trigger Preset Slot", {"four"}, true, {}},
        {"Trigger Multiple Presets", {"P2", "", "P1"}, false, {"p2", "p1"}},
        {"Trigger Multiple Presets", {"P2", "P9"}, true, {"p2"}},
        {"Trigger Multiple Preset Slots", {"2", "4", ""}, false, {"p1", "p2"}},
        {"Trigger Multiple Preset Slots", {"x"}, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        auto r = manager.run(c.command, c.args);
        EXPECT_EQ(c.error, r->isError()) << r->get();
        std::vector<std::string> got;
        for (auto& run : log.take()) {
            got.push_back(run.second.at(0));
        }
        EXPECT_EQ(c.ran, got);
    }
}

TEST_F(CommandPresetsTest, PresetInFutureSetsANamedTimer) {
    manager.Init();
    std::vector<std::string> fired;
    Timers::SetPresetTrigger([&](const std::string& name) { fired.push_back(name); });
    size_t before = Timers::INSTANCE.TimerCount();

    for (auto bad : {std::vector<std::string>{"t", "1"}, std::vector<std::string>{"t", "soon", "P"},
                     std::vector<std::string>{"t", "-1", "P"}, std::vector<std::string>{"t", "1e9", "P"},
                     std::vector<std::string>{"t", "nan", "P"}, std::vector<std::string>{"t", "1", ""}}) {
        EXPECT_TRUE(manager.run("Trigger Preset In Future", bad)->isError()) << bad[1];
    }
    EXPECT_EQ(before, Timers::INSTANCE.TimerCount());

    long long start = GetTimeMS();
    EXPECT_FALSE(manager.run("Trigger Preset In Future", std::vector<std::string>{"kiv-test", "5", "OLD"})->isError());
    EXPECT_FALSE(manager.run("Trigger Preset In Future", std::vector<std::string>{"kiv-test", "1.5", "P1"})->isError());
    EXPECT_EQ(before + 1, Timers::INSTANCE.TimerCount());  // the same name moved the timer
    Timers::INSTANCE.fireTimersInternal(start + 1400);
    EXPECT_TRUE(fired.empty());
    Timers::INSTANCE.fireTimersInternal(GetTimeMS() + 1600);
    EXPECT_EQ(std::vector<std::string>{"P1"}, fired);
    EXPECT_EQ(before, Timers::INSTANCE.TimerCount());
    Timers::SetPresetTrigger(nullptr);
}

} // namespace
