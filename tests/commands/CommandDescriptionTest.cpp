#include <gtest/gtest.h>

#include "CommandManager.h"
#include "CommandTestSupport.h"

namespace {

class DescribedCommand : public Command {
public:
    DescribedCommand(const std::string& n, const std::string& d) : Command(n, d) {}
    ResultPtr run(const std::vector<std::string>&) override { return std::make_shared<Result>(""); }
};

Json::Value parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}

TEST(CommandDescription, NameAloneWithoutDescriptionOrArgs) {
    DescribedCommand c("Bare", "");
    EXPECT_EQ(parse(R"({"name":"Bare"})"), c.getDescription());
    DescribedCommand d("Told", "Does things");
    EXPECT_EQ(parse(R"({"name":"Told","description":"Does things"})"), d.getDescription());
}

TEST(CommandDescription, ArgumentKeysFollowTheirRules) {
    struct Case {
        const char* what;
        void (*setup)(Command::CommandArg&);
        const char* expected;  // the argument's object
    } cases[] = {
        {"plain", [](Command::CommandArg&) {},
         R"({"name":"A","type":"int","description":"Arg","optional":false})"},
        {"range", [](Command::CommandArg& a) { a.min = 1; a.max = 10; },
         R"({"name":"A","type":"int","description":"Arg","optional":false,"min":1,"max":10})"},
        {"equal bounds publish no range", [](Command::CommandArg& a) { a.min = 5; a.max = 5; },
         R"({"name":"A","type":"int","description":"Arg","optional":false})"},
        {"content list wins over contents",
         [](Command::CommandArg& a) {
             a.contentListUrl = "api/x";
             a.contents = {"a"};
             a.allowBlanks = true;
         },
         R"({"name":"A","type":"int","description":"Arg","optional":false,"contentListUrl":"api/x","allowBlanks":true})"},
        {"contents", [](Command::CommandArg& a) { a.contents = {"x", "y"}; },
         R"({"name":"A","type":"int","description":"Arg","optional":false,"contents":["x","y"]})"},
        {"default", [](Command::CommandArg& a) { a.defaultValue = "7"; },
         R"({"name":"A","type":"int","description":"Arg","optional":false,"default":"7"})"},
        {"adjustable with url",
         [](Command::CommandArg& a) {
             a.adjustable = true;
             a.adjustableGetValueURL = "api/v";
         },
         R"({"name":"A","type":"int","description":"Arg","optional":false,"adjustable":true,"adjustableGetValueURL":"api/v"})"},
        {"adjustable without url", [](Command::CommandArg& a) { a.adjustable = true; },
         R"({"name":"A","type":"int","description":"Arg","optional":false,"adjustable":true})"},
        {"url without adjustable", [](Command::CommandArg& a) { a.adjustableGetValueURL = "api/v"; },
         R"({"name":"A","type":"int","description":"Arg","optional":false})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DescribedCommand cmd("C", "");
        Command::CommandArg arg("A", "int", "Arg", false);
        c.setup(arg);
        cmd.args.push_back(arg);
        Json::Value d = cmd.getDescription();
        ASSERT_TRUE(d["args"].isArray());
        ASSERT_EQ(1u, d["args"].size());
        EXPECT_EQ(parse(c.expected), d["args"][0]);
    }
}

TEST(CommandDescription, ArgumentsKeepTheirOrder) {
    DescribedCommand cmd("C", "");
    cmd.args.emplace_back("First", "string", "1", false);
    cmd.args.emplace_back("Second", "string", "2", true);
    Json::Value d = cmd.getDescription();
    EXPECT_EQ("First", d["args"][0]["name"].asString());
    EXPECT_EQ("Second", d["args"][1]["name"].asString());
    EXPECT_TRUE(d["args"][1]["optional"].asBool());
}

TEST(CommandDescription, ListingIsInNameOrderWithoutHiddenCommands) {
    cmdtest::RunLog log;
    CommandManager m;
    m.addCommand(new cmdtest::RecordingCommand("b", log));
    m.addCommand(new cmdtest::RecordingCommand("Secret", log, true));
    m.addCommand(new cmdtest::RecordingCommand("a b", log));
    m.addCommand(new cmdtest::RecordingCommand("B", log));
    Json::Value all = m.getDescriptions();
    ASSERT_EQ(3u, all.size());
    EXPECT_EQ("B", all[0]["name"].asString());  // byte order: capitals first
    EXPECT_EQ("a b", all[1]["name"].asString());
    EXPECT_EQ("b", all[2]["name"].asString());
    EXPECT_EQ("Secret", m.getDescription("Secret")["name"].asString());
    EXPECT_TRUE(m.getDescription("None").isNull());
}

TEST(CommandDescription, BuiltinsDescribeThemselves) {
    cmdtest::MediaDir();
    CommandManager m;
    m.Init();
    for (const char* name : {"URL", "Trigger Preset", "Trigger Preset In Future", "Trigger Preset Slot",
                             "Trigger Multiple Presets",
                             "Trigger Multiple Preset Slots", "Remote Trigger Preset",
                             "Remote Trigger Preset Slot", "Run Script", "Remote Run Script"}) {
        SCOPED_TRACE(name);
        Json::Value d = m.getDescription(name);
        ASSERT_TRUE(d.isObject());
        EXPECT_FALSE(d["description"].asString().empty());
        EXPECT_GT(d["args"].size(), 0u);
    }
    Json::Value slot = m.getDescription("Trigger Preset Slot")["args"][0];
    EXPECT_EQ(1, slot["min"].asInt());
    EXPECT_EQ(255, slot["max"].asInt());
    Json::Value remote = m.getDescription("Remote Trigger Preset")["args"];
    EXPECT_EQ("Remote IP", remote[0]["name"].asString());
    EXPECT_EQ("Name", remote[1]["name"].asString());
}

} // namespace
