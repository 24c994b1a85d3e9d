#pragma once

#include "playlist/PlaylistEntryBase.h"

// {"type": "sequence", "sequenceName": "show.tavo"}: plays the sequence to its end.
class PlaylistEntrySequence : public PlaylistEntryBase {
public:
    bool Init(const Json::Value& config) override;
    bool StartPlaying() override;
    void Process() override;
    void Stop() override;
    void Pause() override;
    void Resume() override;

    Json::Value GetInfo() override;
    int GetElapsedMS() override;
    int GetDurationMS() override;
    std::string GetSequenceName() override { return m_sequenceName; }

private:
    std::string m_sequenceName;
    std::string m_playing; // what the engine plays (a remote may fall back to another file)
};
