#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "StatsPublisher.h"
#include "settings.h"

namespace {

constexpr long long DAY = 86400;

// Counts posts; each post runs on its own detached thread.
struct Recorder {
    std::atomic<int> posts{0};
    std::string lastURL;
    std::mutex lock;

    bool waitPosts(int n) {
        for (int i = 0; i < 200 && posts < n; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return posts == n;
    }
};

TEST(StatsPublisher, PostsOnlyWhenEnabledAndOnceInTenDays) {
    auto recorder = std::make_shared<Recorder>();
    long long now = 1'000'000'000;
    StatsPublisher publisher;
    publisher.SetClock([&now] { return now; });
    publisher.SetPoster([recorder](const std::string& url, std::string& response) {
        std::lock_guard<std::mutex> l(recorder->lock);
        recorder->lastURL = url;
        recorder->posts++;
        return true;
    });

    SetSetting("statsPublish", "Enabled");
    publisher.PublishStatsBackground("Startup");
    ASSERT_TRUE(recorder->waitPosts(1));
    {
        std::lock_guard<std::mutex> l(recorder->lock);
        EXPECT_EQ(recorder->lastURL, "http://localhost/api/statistics/usage?reason=Startup");
    }

    now += 10 * DAY - 1;
    publisher.PublishStatsBackground("normal");
    now += 1;
    publisher.PublishStatsBackground("normal");
    EXPECT_TRUE(recorder->waitPosts(2));

    // Not enabled: the attempt still counts for the ten days, nothing is posted.
    SetSetting("statsPublish", "");
    now += 10 * DAY;
    publisher.PublishStatsBackground("normal");
    SetSetting("statsPublish", "Enabled");
    now += DAY;
    publisher.PublishStatsBackground("normal");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(recorder->posts, 2);
}

} // namespace
