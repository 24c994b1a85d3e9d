// Commands forwarded to another player over real HTTP. The other player is a
// second registry served on 127.0.0.1 at the fixed command port, so these
// tests run serially.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "CommandManager.h"
#include "CommandTestSupport.h"
#include "httpserver/webserver.h"

using namespace std::chrono_literals;
using cmdtest::RecordingCommand;
using cmdtest::RunLog;

namespace {

bool waitDone(const Command::ResultPtr& r, std::chrono::milliseconds limit = 15s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!r->isDone() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    return r->isDone();
}

class RemoteCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(cmdtest::MediaDir() / "config");
        std::filesystem::create_directories(cmdtest::MediaDir() / "config");
        std::ofstream(cmdtest::MediaDir() / "config" / "commandPresets.json")
            << R"({"commands": [{"name": "P", "command": "Two Words", "args": ["from preset"], "presetSlot": 7}]})";
        local.Init();
        remote.Init();
        remote.addCommand(new RecordingCommand("Two Words", remoteLog));
        server = std::make_unique<httpserver::webserver>(
            httpserver::create_webserver(32322).bind_address("127.0.0.1").max_threads(4));
        for (const char* path : {"/command", "/commands", "/commandPresets"}) {
            server->register_resource(path, &remote);
        }
        ASSERT_TRUE(server->start(false)) << "port 32322 on 127.0.0.1 is in use";
    }
    void TearDown() override { server->stop(); }

    RunLog remoteLog;
    CommandManager local, remote;
    std::unique_ptr<httpserver::webserver> server;
};

TEST_F(RemoteCommandTest, RunRemoteCommandReachesTheOtherPlayersCommand) {
    auto r = local.runRemoteCommand("127.0.0.1", "Two Words", {"a b", "c/d", "\"q\""});
    ASSERT_TRUE(waitDone(r));
    EXPECT_FALSE(r->isError()) << r->get();
    EXPECT_EQ("a b|c/d|\"q\"", r->get());
    auto runs = remoteLog.take();
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ((std::vector<std::string>{"a b", "c/d", "\"q\""}), runs[0].second);
}

TEST_F(RemoteCommandTest, RemotePresetCommandsTriggerOnTheOtherPlayer) {
    for (auto args : {std::vector<std::string>{"Remote Trigger Preset", "127.0.0.1", "P"},
                      std::vector<std::string>{"Remote Trigger Preset Slot", "127.0.0.1", "7"}}) {
        SCOPED_TRACE(args[0]);
        auto r = local.run(args[0], std::vector<std::string>(args.begin() + 1, args.end()));
        ASSERT_TRUE(waitDone(r));
        EXPECT_FALSE(r->isError()) << r->get();
        auto runs = remoteLog.take();
        ASSERT_EQ(1u, runs.size());
        EXPECT_EQ(std::vector<std::string>{"from preset"}, runs[0].second);
    }
    auto missing = local.run("Remote Trigger Preset", std::vector<std::string>{"127.0.0.1", "NOPE"});
    ASSERT_TRUE(waitDone(missing));
    // The transfer worked; the other player's answer tells what happened there.
    EXPECT_EQ("No preset named NOPE", missing->get());
    EXPECT_TRUE(local.run("Remote Trigger Preset", std::vector<std::string>{})->isError());
}

TEST_F(RemoteCommandTest, UrlCommandRequestsAndReportsFailures) {
    auto list = local.run("URL", std::vector<std::string>{"http://127.0.0.1:32322/commands/Two%20Words"});
    ASSERT_TRUE(waitDone(list));
    EXPECT_FALSE(list->isError());
    EXPECT_NE(std::string::npos, list->get().find("\"name\" : \"Two Words\""));

    auto refused = local.run("URL", std::vector<std::string>{"http://127.0.0.1:1/", "GET"});
    ASSERT_TRUE(waitDone(refused));
    EXPECT_TRUE(refused->isError());

    for (auto bad : {std::vector<std::string>{}, std::vector<std::string>{""},
                     std::vector<std::string>{"http://127.0.0.1:32322/", "BREW"}}) {
        auto r = local.run("URL", bad);
        EXPECT_TRUE(r->isDone());
        EXPECT_TRUE(r->isError());
    }
}

} // namespace
