#include "StatsPublisher.h"

#include <ctime>
#include <thread>

#include "common.h"
#include "log.h"
#include "settings.h"

StatsPublisher StatsPublisher::INSTANCE;

namespace {
constexpr long long TEN_DAYS = 864000;
}

void StatsPublisher::SetClock(std::function<long long()> clock) { m_clock = std::move(clock); }

void StatsPublisher::SetPoster(std::function<bool(const std::string&, std::string&)> poster) {
    m_poster = std::move(poster);
}

void StatsPublisher::PublishStatsBackground(const std::string& reason) {
    long long now = m_clock ? m_clock() : (long long)time(nullptr);
    if (!m_started) {
        m_started = true;
        m_lastRequest = now - TEN_DAYS;
    }
    if (now - m_lastRequest < TEN_DAYS) {
        LogDebug(kivlog::General, "PublishStats called, but not been 10 days yet.\n");
        return;
    }
    m_lastRequest = now;
    std::string mode = getSetting("statsPublish");
    if (mode != "Enabled") {
        LogInfo(kivlog::General, "Not Publishing statistics as mode is '%s'\n", mode.c_str());
        return;
    }
    std::string url = "http://localhost/api/statistics/usage?reason=" + reason;
    auto poster = m_poster;
    std::thread([url, reason, poster]() {
        std::string response;
        if (poster) {
            poster(url, response);
        } else {
            urlPost(url, "", response);
        }
        LogInfo(kivlog::General, "Publishing statistics because of \"%s\" = %s\n", reason.c_str(), response.c_str());
    }).detach();
}
