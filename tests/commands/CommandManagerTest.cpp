#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "CommandManager.h"
#include "CommandTestSupport.h"

using namespace std::chrono_literals;
using cmdtest::RecordingCommand;
using cmdtest::RunLog;

namespace {

using Runs = std::vector<std::pair<std::string, std::vector<std::string>>>;

class CommandManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager.addCommand(new RecordingCommand("Echo", log));
        manager.addCommand(new RecordingCommand("Two Words", log));
    }
    RunLog log;
    CommandManager manager;
};

TEST_F(CommandManagerTest, UnknownNamesGiveAnErrorResult) {
    auto r = manager.run("Nope", std::vector<std::string>{"x"});
    EXPECT_TRUE(r->isDone());
    EXPECT_TRUE(r->isError());
    EXPECT_EQ("No Command: Nope", r->get());
    EXPECT_EQ("text/plain", r->contentType());
    EXPECT_TRUE(manager.run("Nope", Json::Value(Json::arrayValue))->isError());
    EXPECT_TRUE(log.take().empty());
}

TEST_F(CommandManagerTest, RunsByNameByJsonArrayAndByCommandObject) {
    EXPECT_EQ("a|b", manager.run("Echo", std::vector<std::string>{"a", "b"})->get());

    Json::Value args;
    Json::Reader().parse(R"(["s", 5, 1.5, true, null, {"k":1}, [1]])", args);
    auto r = manager.run("Echo", args);
    EXPECT_FALSE(r->isError());
    EXPECT_EQ("s|5|1.5|true||{\"k\":1}|[1]", r->get());

    Json::Value cmd;
    Json::Reader().parse(R"({"command":"Two Words","args":["x"],"multisyncCommand":false})", cmd);
    EXPECT_EQ("x", manager.run(cmd)->get());

    Runs runs = log.take();
    ASSERT_EQ(3u, runs.size());
    EXPECT_EQ("Two Words", runs[2].first);
}

TEST_F(CommandManagerTest, OddArgumentShapesDoNotThrow) {
    Json::Value cmd(Json::objectValue);
    cmd["command"] = "Echo";
    cmd["args"] = "single";
    EXPECT_EQ("single", manager.run(cmd)->get());
    cmd.removeMember("args");
    EXPECT_EQ("", manager.run(cmd)->get());
    EXPECT_TRUE(manager.run(Json::Value("Echo"))->isError());
    EXPECT_TRUE(manager.run(Json::Value(Json::objectValue))->isError());
}

TEST_F(CommandManagerTest, MultisyncCommandsAreSentNotRun) {
    Json::Value cmd;
    Json::Reader().parse(R"({"command":"Echo","args":["a", 2],"multisyncCommand":true,"multisyncHosts":"10.0.0.2,10.0.0.3"})",
                         cmd);
    // Without player synchronisation nothing can be sent; that is an error, not "sent".
    EXPECT_TRUE(manager.run(cmd)->isError());

    std::vector<std::string> sent;
    manager.SetMultiSyncSender([&](const std::string& hosts, const std::string& name,
                                   const std::vector<std::string>& args) {
        sent = {hosts, name};
        sent.insert(sent.end(), args.begin(), args.end());
        return true;
    });
    auto r = manager.run(cmd);
    EXPECT_FALSE(r->isError());
    EXPECT_EQ("Command Sent", r->get());
    EXPECT_EQ((std::vector<std::string>{"10.0.0.2,10.0.0.3", "Echo", "a", "2"}), sent);
    cmd.removeMember("multisyncHosts");
    manager.run(cmd);
    EXPECT_EQ("", sent[0]);
    EXPECT_TRUE(log.take().empty());
}

TEST_F(CommandManagerTest, RemoteCommandsPostTheArgumentsToTheOtherPlayersCommandUrl) {
    manager.addCommand(new RecordingCommand("URL", log));
    manager.runRemoteCommand("192.168.1.20", "Two Words", {"a b", "c\"d"});
    Runs runs = log.take();
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ("URL", runs[0].first);
    EXPECT_EQ((std::vector<std::string>{"http://192.168.1.20:32322/command/Two%20Words", "POST",
                                        R"(["a b","c\"d"])"}),
              runs[0].second);
    manager.runRemoteCommand("h", "Echo", {});
    EXPECT_EQ("[]", log.take()[0].second[2]);
}

TEST_F(CommandManagerTest, MqttTopicsAndPayloadsBecomeArguments) {
    struct Case {
        const char* topic;
        const char* payload;
        const char* name;  // nullptr: nothing runs
        std::vector<std::string> args;
    } cases[] = {
        {"/set/command/Echo/{Payload}", "hello", "Echo", {"hello"}},
        {"/set/command/Echo", "hello", "Echo", {"hello"}},
        {"/set/command/Echo", "", "Echo", {}},
        {"/set/command/Echo/a/b", "p", "Echo", {"a", "b", "p"}},
        {"/set/command/Echo/{Payload}/x/{Payload}", "p", "Echo", {"p", "x", "p"}},
        {"/set/command/Two Words/'a/b'", "", "Two Words", {"a/b"}},
        {"/set/command", R"({"command":"Echo","args":["j"]})", "Echo", {"j"}},
        {"/set/command/", R"({"command":"Echo"})", "Echo", {}},
        {"/set/command", "not json", nullptr, {}},
        {"/set/command/", "[1,2]", nullptr, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.topic) + " <- " + c.payload);
        manager.HandleMQTTMessage(c.topic, c.payload);
        Runs runs = log.take();
        if (!c.name) {
            EXPECT_TRUE(runs.empty());
            continue;
        }
        ASSERT_EQ(1u, runs.size());
        EXPECT_EQ(c.name, runs[0].first);
        EXPECT_EQ(c.args, runs[0].second);
    }
}

// Sets a flag when deleted.
class TracedCommand : public Command {
public:
    TracedCommand(const std::string& n, std::atomic<bool>& deleted, std::chrono::milliseconds busy = 0ms,
                  std::atomic<bool>* runEnded = nullptr)
        : Command(n), m_deleted(deleted), m_busy(busy), m_runEnded(runEnded) {}
    ~TracedCommand() override {
        m_deletedWhileRunning = m_runEnded && !*m_runEnded;
        m_deleted = true;
    }
    ResultPtr run(const std::vector<std::string>&) override {
        std::this_thread::sleep_for(m_busy);
        if (m_runEnded) {
            *m_runEnded = true;
        }
        return std::make_shared<Result>("done");
    }
    static inline std::atomic<bool> m_deletedWhileRunning{false};

private:
    std::atomic<bool>& m_deleted;
    std::chrono::milliseconds m_busy;
    std::atomic<bool>* m_runEnded;
};

TEST(CommandManagerOwnership, CleanupDeletesAllButGpioAndWaitsForRunningCommands) {
    std::atomic<bool> gpioDeleted{false}, plainDeleted{false}, slowDeleted{false}, runEnded{false};
    TracedCommand gpio("GPIO", gpioDeleted);
    CommandManager m;
    m.addCommand(&gpio);
    m.addCommand(new TracedCommand("Plain", plainDeleted));
    m.addCommand(new TracedCommand("Slow", slowDeleted, 300ms, &runEnded));

    std::thread runner([&] { m.run("Slow", std::vector<std::string>{}); });
    std::this_thread::sleep_for(50ms);
    m.Cleanup();
    runner.join();
    EXPECT_TRUE(plainDeleted);
    EXPECT_TRUE(slowDeleted);
    EXPECT_FALSE(TracedCommand::m_deletedWhileRunning);
    EXPECT_FALSE(gpioDeleted);
    EXPECT_TRUE(m.getDescriptions().empty());
    EXPECT_TRUE(m.run("Plain", std::vector<std::string>{})->isError());
}

TEST(CommandManagerOwnership, ReplacedAndRemovedCommandsAreForgottenNotDeleted) {
    std::atomic<bool> firstDeleted{false}, secondDeleted{false};
    TracedCommand first("Same", firstDeleted);
    auto* second = new TracedCommand("Same", secondDeleted);
    {
        CommandManager m;
        m.addCommand(&first);
        m.addCommand(second);
        m.removeCommand(&first);  // not the registered one: no effect
        EXPECT_TRUE(m.hasCommand("Same"));
        m.removeCommand(second);
        EXPECT_FALSE(m.hasCommand("Same"));
        m.addCommand(second);
    }
    EXPECT_FALSE(firstDeleted);
    EXPECT_TRUE(secondDeleted);
}

TEST(CommandManagerConcurrency, RegistrationWhileOtherThreadsRunAndList) {
    RunLog log;
    CommandManager m;
    constexpr int NAMES = 8;
    std::vector<std::unique_ptr<Command>> owned;
    for (int i = 0; i < NAMES * 50; i++) {
        owned.push_back(std::make_unique<RecordingCommand>("c" + std::to_string(i % NAMES), log));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> runs{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        // Keep changing the map until the runners have had a fair share of turns.
        auto end = std::chrono::steady_clock::now() + 3s;
        while (runs < 2000 && std::chrono::steady_clock::now() < end) {
            for (auto& c : owned) {
                m.addCommand(c.get());
                if ((&c - &owned[0]) % 3 == 0) {
                    m.removeCommand(c.get());
                }
            }
        }
        stop = true;
    });
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            while (!stop) {
                m.run("c" + std::to_string(t), std::vector<std::string>{"x"});
                m.getDescriptions();
                runs++;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (auto& c : owned) {
        m.removeCommand(c.get());
    }
    EXPECT_GT(runs.load(), 0);
    EXPECT_FALSE(log.take().empty());
    EXPECT_TRUE(m.getDescriptions().empty());
}

} // namespace
