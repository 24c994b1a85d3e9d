#pragma once

#include <functional>
#include <string>

// The usage statistics request to the local web server, at most once in ten days, and only
// when the setting "statsPublish" is "Enabled". The request runs on a detached thread so the
// main loop never waits for the web server.
class StatsPublisher {
public:
    static StatsPublisher INSTANCE;

    // reason: "Startup" for the first request, "normal" afterwards.
    void PublishStatsBackground(const std::string& reason);

    // Tests replace the clock (seconds) and the request; defaults: time() and urlPost.
    void SetClock(std::function<long long()> clock);
    void SetPoster(std::function<bool(const std::string& url, std::string& response)> poster);

private:
    std::function<long long()> m_clock;
    std::function<bool(const std::string&, std::string&)> m_poster;
    long long m_lastRequest = 0;
    bool m_started = false;
};
