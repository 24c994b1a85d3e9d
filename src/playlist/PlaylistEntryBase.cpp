#include "playlist/PlaylistEntryBase.h"

#include <algorithm>

bool PlaylistEntryBase::Init(const Json::Value& config) {
    m_config = config;
    m_type = config.isObject() && config["type"].isString() ? config["type"].asString() : "";
    m_state = State::Idle;
    return true;
}

bool PlaylistEntryBase::StartPlaying() {
    m_state = State::Playing;
    return true;
}

void PlaylistEntryBase::Stop() {
    m_state = State::Finished;
}

Json::Value PlaylistEntryBase::GetInfo() {
    Json::Value info;
    int elapsed = GetElapsedMS();
    int duration = GetDurationMS();
    int remaining = std::max(0, duration - elapsed);
    info["type"] = m_type;
    info["secondsElapsed"] = elapsed / 1000;
    info["secondsRemaining"] = remaining / 1000;
    info["duration"] = duration / 1000.0;
    info["remaining"] = remaining / 1000.0;
    return info;
}
