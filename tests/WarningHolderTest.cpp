#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "WarningHolder.h"

namespace {

using namespace std::chrono_literals;

class WarningHolderTest : public ::testing::Test {
protected:
    void SetUp() override { WarningHolder::ClearWarnings(); }
    void TearDown() override {
        WarningHolder::StopNotifyThread();
        WarningHolder::SetWarningsFile("");
        WarningHolder::ClearWarnings();
    }
};

TEST_F(WarningHolderTest, KeyedByTextInOrder) {
    WarningHolder::AddWarning("b");
    WarningHolder::AddWarning("a");
    WarningHolder::AddWarning("b");
    WarningHolder::AddWarningTimeout("a", 60);
    EXPECT_EQ(WarningHolder::GetWarnings(), (std::list<std::string>{"b", "a"}));
    WarningHolder::RemoveWarning("b");
    WarningHolder::RemoveWarning("never added");
    EXPECT_EQ(WarningHolder::GetWarnings(), (std::list<std::string>{"a"}));
}

TEST_F(WarningHolderTest, TimedWarningsExpire) {
    WarningHolder::AddWarningTimeout("short", 0);
    WarningHolder::AddWarningTimeout("long", 60);
    EXPECT_EQ(WarningHolder::GetWarnings(), (std::list<std::string>{"long"}));
    // A permanent add of a timed warning keeps it for good.
    WarningHolder::AddWarningTimeout("kept", 0);
    WarningHolder::AddWarning("kept");
    EXPECT_EQ(WarningHolder::GetWarnings(), (std::list<std::string>{"long", "kept"}));
}

struct RecordingListener : WarningListener {
    std::mutex m;
    std::list<std::string> last;
    std::atomic<int> calls{0};
    void handleWarnings(const std::list<std::string>& w) override {
        std::lock_guard<std::mutex> l(m);
        last = w;
        calls++;
    }
    std::list<std::string> get() {
        std::lock_guard<std::mutex> l(m);
        return last;
    }
};

template <typename F> bool waitFor(F f) {
    for (int i = 0; i < 300; i++) {
        if (f()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST_F(WarningHolderTest, NotifierTellsListenersAndWritesFile) {
    char tmpl[] = "/tmp/kivwarnXXXXXX";
    close(mkstemp(tmpl));
    std::string path = tmpl;
    RecordingListener listener;
    WarningHolder::AddWarningListener(&listener);
    WarningHolder::SetWarningsFile(path);
    WarningHolder::StartNotifyThread();
    WarningHolder::AddWarning("disk \"full\"");
    EXPECT_TRUE(waitFor([&] { return listener.get() == std::list<std::string>{"disk \"full\""}; }));
    EXPECT_TRUE(waitFor([&] {
        std::ifstream in(path);
        std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return s == "[\"disk \\\"full\\\"\"]";
    }));
    // Expiry of a timed warning is noticed without any other change.
    WarningHolder::AddWarningTimeout("brief", 1);
    EXPECT_TRUE(waitFor([&] { return listener.get().size() == 2; }));
    EXPECT_TRUE(waitFor([&] { return listener.get().size() == 1; }));
    WarningHolder::RemoveWarningListener(&listener);
    WarningHolder::StopNotifyThread();
    WarningHolder::clearWarningsFile();
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST_F(WarningHolderTest, SafeFromManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; i++) {
                std::string w = "w" + std::to_string((t * 7 + i) % 13);
                if (i % 3) {
                    WarningHolder::AddWarningTimeout(w, 1);
                } else {
                    WarningHolder::RemoveWarning(w);
                }
                WarningHolder::GetWarnings();
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_LE(WarningHolder::GetWarnings().size(), 13u);
}

} // namespace
