#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "CommandManager.h"
#include "CommandTestSupport.h"
#include "httpserver/TestHttp.h"
#include "httpserver/webserver.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using cmdtest::RecordingCommand;
using cmdtest::RunLog;

namespace {

// The registry mounted as the daemon mounts it, on a loopback server.
class CommandResourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(cmdtest::MediaDir() / "config");
        manager.addCommand(new RecordingCommand("Echo", log));
        manager.addCommand(new RecordingCommand("Two Words", log, false, "application/x-test"));
        manager.addCommand(new RecordingCommand("Secret", log, true));
        manager.addCommand(new cmdtest::FailingCommand("Fail"));
        manager.addCommand(pending = new cmdtest::PendingCommand("Never"));
        server = std::make_unique<httpserver::webserver>(httpserver::create_webserver(0)
                                                             .bind_address("127.0.0.1")
                                                             .max_threads(10)
                                                             .max_body_size(4096));
        for (const char* path : {"/command", "/commands", "/commandPresets"}) {
            server->register_resource(path, &manager);
        }
        ASSERT_TRUE(server->start(false));
        base = "http://127.0.0.1:" + std::to_string(server->get_bound_port());
    }
    void TearDown() override { server->stop(); }

    void writePresets(const std::string& text) {
        fs::create_directories(cmdtest::MediaDir() / "config");
        std::ofstream(cmdtest::MediaDir() / "config" / "commandPresets.json") << text;
    }

    RunLog log;
    CommandManager manager;
    cmdtest::PendingCommand* pending = nullptr;
    std::unique_ptr<httpserver::webserver> server;
    std::string base;
};

struct Row {
    const char* method;
    const char* path;
    const char* body;  // nullptr: none
    long status;
    const char* contentType;
    const char* answer;  // exact body; nullptr: not checked here
};

void checkRows(const std::string& base, const std::vector<Row>& rows) {
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.method) + " " + r.path + (r.body ? std::string(" ") + r.body : ""));
        std::string body = r.body ? r.body : "";
        auto got = testhttp::request(r.method, base + r.path, r.body ? &body : nullptr);
        ASSERT_TRUE(got.ok);
        EXPECT_EQ(r.status, got.status);
        EXPECT_EQ(r.contentType, got.contentType);
        if (r.answer) {
            EXPECT_EQ(r.answer, got.body);
        }
    }
}

Json::Value parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(Json::Reader().parse(text, v)) << text;
    return v;
}

TEST_F(CommandResourceTest, CommandRowsAnswerAsTheTableSays) {
    checkRows(base, {
        {"GET", "/command/Echo/a/b%20c", nullptr, 200, "text/plain", "a|b c"},
        {"GET", "/command/Two%20Words", nullptr, 200, "text/plain", ""},  // GET is always plain text
        {"GET", "/command/Secret/x", nullptr, 200, "text/plain", "x"},
        {"GET", "/command/Fail", nullptr, 500, "text/plain", "it failed"},
        {"GET", "/command/Nope/x", nullptr, 404, "text/plain", "Not Found"},
        {"GET", "/command", nullptr, 404, "text/plain", "Not Found"},
        {"GET", "/command/", nullptr, 404, "text/plain", "Not Found"},
        {"POST", "/command", R"({"command":"Two Words","args":["p", 2]})", 200, "application/x-test", "p|2"},
        {"POST", "/command", R"({"command":"Nope"})", 500, "text/plain", "No Command: Nope"},
        {"POST", "/command", R"({"command":"Fail"})", 500, "text/plain", "it failed"},
        {"POST", "/command", R"(["Echo"])", 400, "text/plain", nullptr},
        {"POST", "/command", R"("Echo")", 400, "text/plain", nullptr},
        {"POST", "/command", R"({"args":[]})", 400, "text/plain", nullptr},
        {"POST", "/command", "{broken", 400, "text/plain", nullptr},
        {"POST", "/command", "", 400, "text/plain", nullptr},
        {"POST", "/command/Two%20Words/ignored", R"(["a b", 3])", 200, "application/x-test", "a b|3"},
        {"POST", "/command/Echo", "", 200, "text/plain", ""},
        {"POST", "/command/Echo", R"({"a":1})", 400, "text/plain", nullptr},
        {"POST", "/command/Echo", R"(7)", 400, "text/plain", nullptr},
        {"POST", "/command/Echo", "[oops", 400, "text/plain", nullptr},
        {"POST", "/command/Nope", R"([])", 404, "text/plain", "Not Found"},
        {"POST", "/commands", R"([])", 404, "text/plain", "Not Found"},
        {"POST", "/commandPresets", R"([])", 404, "text/plain", "Not Found"},
        {"PUT", "/command/Echo", R"([])", 405, "text/plain", nullptr},
        {"DELETE", "/command/Echo", nullptr, 405, "text/plain", nullptr},
        {"GET", "/commandsX", nullptr, 404, "text/plain", "Not Found"},
    });
    EXPECT_EQ(6u, log.take().size());
}

TEST_F(CommandResourceTest, MultisyncCommandObjectsAnswerCommandSent) {
    manager.SetMultiSyncSender([](const std::string&, const std::string&, const std::vector<std::string>&) {
        return true;
    });
    checkRows(base, {{"POST", "/command", R"({"command":"Echo","multisyncCommand":true})", 200,
                      "text/plain", "Command Sent"}});
    EXPECT_TRUE(log.take().empty());
}

TEST_F(CommandResourceTest, CommandListingAndDescriptions) {
    auto all = testhttp::get(base + "/commands");
    EXPECT_EQ(200, all.status);
    EXPECT_EQ("application/json", all.contentType);
    EXPECT_NE(std::string::npos, all.body.find("\n  {"));  // two spaces of indentation
    Json::Value list = parse(all.body);
    ASSERT_TRUE(list.isArray());
    std::vector<std::string> names;
    for (const auto& c : list) {
        names.push_back(c["name"].asString());
    }
    EXPECT_EQ((std::vector<std::string>{"Echo", "Fail", "Never", "Two Words"}), names);

    auto one = testhttp::get(base + "/commands/Secret");
    EXPECT_EQ(200, one.status);
    EXPECT_EQ("application/json", one.contentType);
    EXPECT_EQ("Secret", parse(one.body)["name"].asString());
    checkRows(base, {{"GET", "/commands/Nope", nullptr, 404, "text/plain", "Not Found"}});
}

TEST_F(CommandResourceTest, PresetRowsReadTheFileOnEveryRequest) {
    checkRows(base, {
        {"GET", "/commandPresets", nullptr, 200, "application/json", "null"},
        {"GET", "/commandPresets?names=true", nullptr, 200, "application/json", "null"},
        {"GET", "/commandPresets/A", nullptr, 404, "text/plain", "Not Found"},
    });
    writePresets(R"({"commands": [
        {"name": "A", "command": "Echo", "args": ["1"]},
        {"name": "B", "command": "Echo", "args": ["2"]},
        {"name": "A", "command": "Echo", "args": ["3"]}
    ], "extra": 1})");
    auto whole = testhttp::get(base + "/commandPresets");
    EXPECT_EQ(200, whole.status);
    EXPECT_EQ(1, parse(whole.body)["extra"].asInt());
    auto names = testhttp::get(base + "/commandPresets?names=true");
    EXPECT_EQ(parse(R"(["A","B","A"])"), parse(names.body));
    auto first = testhttp::get(base + "/commandPresets/A");
    EXPECT_EQ(200, first.status);
    EXPECT_EQ("1", parse(first.body)["args"][0].asString());
    checkRows(base, {{"GET", "/commandPresets/C", nullptr, 404, "text/plain", "Not Found"}});

    writePresets(R"({"commands": []})");
    checkRows(base, {{"GET", "/commandPresets?names=true", nullptr, 200, "application/json", "null"}});
    writePresets(R"({"other": 1})");
    checkRows(base, {{"GET", "/commandPresets/A", nullptr, 404, "text/plain", "Not Found"}});
}

TEST_F(CommandResourceTest, SlowResultsAreAwaitedAndStuckOnesTimeOut) {
    auto start = std::chrono::steady_clock::now();
    std::thread finisher([&] {
        std::this_thread::sleep_for(200ms);
        pending->last()->finish("late but fine", false, "application/x-late");
    });
    auto r = testhttp::post(base + "/command/Never", "[]");
    finisher.join();
    EXPECT_EQ(200, r.status);
    EXPECT_EQ("late but fine", r.body);
    EXPECT_EQ("application/x-late", r.contentType);

    start = std::chrono::steady_clock::now();
    auto stuck = testhttp::get(base + "/command/Never");
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(500, stuck.status);
    EXPECT_EQ("Timeout running command", stuck.body);
    EXPECT_EQ("text/plain", stuck.contentType);
    EXPECT_GE(took, 900ms);
    // The request has let go; the command still holds the result and may finish it.
    auto result = pending->last();
    EXPECT_EQ(2, result.use_count());
    result->finish("finally", false);
    EXPECT_EQ("finally", result->get());
}

TEST_F(CommandResourceTest, OverlargeBodiesAreRefused) {
    std::string body = "[\"" + std::string(5000, 'x') + "\"]";
    auto r = testhttp::post(base + "/command/Echo", body);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(413, r.status);
    EXPECT_TRUE(log.take().empty());
}

TEST_F(CommandResourceTest, FiftyConcurrentClientsRunCommands) {
    std::atomic<int> good{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 50; i++) {
        clients.emplace_back([&, i] {
            std::string n = std::to_string(i);
            auto r = i % 2 ? testhttp::get(base + "/command/Echo/" + n)
                           : testhttp::post(base + "/command", R"({"command":"Echo","args":[")" + n + "\"]}");
            if (r.ok && r.status == 200 && r.body == n) {
                good++;
            }
        });
    }
    for (auto& c : clients) {
        c.join();
    }
    EXPECT_EQ(50, good.load());
    EXPECT_EQ(50u, log.take().size());
}

} // namespace
