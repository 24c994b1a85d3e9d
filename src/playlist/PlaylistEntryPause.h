#pragma once

#include <cstdint>

#include "playlist/PlaylistEntryBase.h"

// {"type": "pause", "duration": 5}: waits that many seconds (fractions allowed).
class PlaylistEntryPause : public PlaylistEntryBase {
public:
    bool Init(const Json::Value& config) override;
    bool StartPlaying() override;
    void Process() override;
    void Pause() override;
    void Resume() override;

    int GetElapsedMS() override;
    int GetDurationMS() override { return (int)(m_durationUS / 1000); }

private:
    int64_t elapsedUS() const;

    int64_t m_durationUS = 0;
    int64_t m_startUS = 0;   // monotonic
    int64_t m_pausedAt = -1; // monotonic, -1 while not paused
};
