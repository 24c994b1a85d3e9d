#pragma once

#include <string>

#include <json/json.h>

// One entry of a playlist. The player drives it from the main loop: StartPlaying once,
// Process on every pass until IsFinished, Stop to end it early. Entries never block.
class PlaylistEntryBase {
public:
    PlaylistEntryBase() = default;
    virtual ~PlaylistEntryBase() = default;

    // Reads the entry's keys; false (with a log line) when the entry cannot be played.
    virtual bool Init(const Json::Value& config);

    // True when the entry started; a false result finishes it at once.
    virtual bool StartPlaying();
    virtual void Process() {}
    // Ends the entry now.
    virtual void Stop();
    virtual void Pause() {}
    virtual void Resume() {}

    bool IsPlaying() const { return m_state == State::Playing; }
    bool IsFinished() const { return m_state == State::Finished; }

    const std::string& GetType() const { return m_type; }
    const Json::Value& GetConfig() const { return m_config; }

    // "type", "secondsElapsed", "secondsRemaining", "duration", "remaining" and the
    // entry's own keys.
    virtual Json::Value GetInfo();
    virtual int GetElapsedMS() { return 0; }
    virtual int GetDurationMS() { return 0; }
    // For the status: the sequence and media names the entry plays, "" when none.
    virtual std::string GetSequenceName() { return ""; }
    virtual std::string GetMediaName() { return ""; }

protected:
    enum class State { Idle, Playing, Finished };

    void Finished() { m_state = State::Finished; }

    State m_state = State::Idle;
    std::string m_type;
    Json::Value m_config;
};
