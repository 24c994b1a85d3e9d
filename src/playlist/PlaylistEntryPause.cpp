#include "playlist/PlaylistEntryPause.h"

#include <cmath>
#include <string>

#include "MonotonicClock.h"
#include "log.h"

bool PlaylistEntryPause::Init(const Json::Value& config) {
    PlaylistEntryBase::Init(config);
    const Json::Value& d = config["duration"];
    double seconds = -1;
    if (d.isNumeric()) {
        seconds = d.asDouble();
    } else if (d.isString()) {
        try {
            seconds = std::stod(d.asString());
        } catch (...) {
            seconds = -1;
        }
    }
    // At most a day: anything longer is a typo, not a pause.
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 86400) {
        LogErr(kivlog::Playlist, "Pause entry with an invalid \"duration\"\n");
        return false;
    }
    m_durationUS = (int64_t)(seconds * 1000000);
    return true;
}

bool PlaylistEntryPause::StartPlaying() {
    m_startUS = GetMonotonicTimeUS();
    m_pausedAt = -1;
    return PlaylistEntryBase::StartPlaying();
}

int64_t PlaylistEntryPause::elapsedUS() const {
    int64_t now = m_pausedAt >= 0 ? m_pausedAt : GetMonotonicTimeUS();
    return now - m_startUS;
}

void PlaylistEntryPause::Process() {
    if (IsPlaying() && m_pausedAt < 0 && elapsedUS() >= m_durationUS) {
        Finished();
    }
}

void PlaylistEntryPause::Pause() {
    if (IsPlaying() && m_pausedAt < 0) {
        m_pausedAt = GetMonotonicTimeUS();
    }
}

void PlaylistEntryPause::Resume() {
    if (m_pausedAt >= 0) {
        m_startUS += GetMonotonicTimeUS() - m_pausedAt;
        m_pausedAt = -1;
    }
}

int PlaylistEntryPause::GetElapsedMS() {
    return IsPlaying() ? (int)(elapsedUS() / 1000) : 0;
}
