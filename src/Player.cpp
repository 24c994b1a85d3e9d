#include "Player.h"

#include "Sequence.h"
#include "common.h"
#include "effects.h"
#include "log.h"
#include "playlist/Playlist.h"
#include "settings.h"

Player Player::INSTANCE;

Player::Player() = default;
Player::~Player() = default;

void Player::Init() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    m_resumeChecked = false;
}

void Player::Cleanup() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (m_playlist) {
        m_playlist->StopNow();
    }
    finishLocked();
}

void Player::finishLocked() {
    bool wasPlaying = m_playlist != nullptr;
    if (wasPlaying) {
        m_endedScheduleEntry = m_scheduled ? m_scheduleEntry : -1;
    }
    m_playlist.reset();
    m_scheduled = false;
    m_scheduleEntry = -1;
    m_priority = 0;
    m_stopMethod = STOP_GRACEFUL;
    m_status = IDLE;
    // The last sequence closed while the playlist still played, so the engine kept its
    // frame lit; the show is over now, so go dark as the engine does outside playlists.
    if (wasPlaying && sequence && !sequence->IsSequenceRunning() && !IsEffectRunning() &&
        getKIVmode() != REMOTE_MODE) {
        sequence->SendBlankingData();
    }
}

void Player::Process() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (!m_resumeChecked) {
        // A restart or "-p NAME -P N" asks to carry on with a playlist; the scheduler may
        // have taken it over already, in which case the player is busy.
        m_resumeChecked = true;
        std::string name = getSetting("resumePlaylist");
        if (!name.empty() && !m_playlist) {
            int position = getSettingInt("resumePosition", 0);
            SetSetting("resumePlaylist", "");
            SetSetting("resumePosition", 0);
            LogInfo(kivlog::Playlist, "Resuming playlist %s at position %d\n", name.c_str(), position);
            StartPlaylist(name, -1, position);
        }
    }
    if (!m_playlist) {
        return;
    }
    m_playlist->Process();
    if (m_playlist->IsDone()) {
        finishLocked();
    }
}

void Player::startLocked(std::unique_ptr<Playlist> playlist, int position, int repeat) {
    if (m_playlist) {
        m_playlist->StopNow();
        finishLocked();
    }
    m_playlist = std::move(playlist);
    m_status = PLAYING; // before the first entry starts: the engine must not blank between entries
    m_actualStart = time(nullptr);
    if (!m_playlist->Start(position, repeat) || m_playlist->IsDone()) {
        finishLocked();
    }
}

int Player::StartPlaylist(const std::string& name, int repeat, int position, int scheduleEntry, int priority) {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    auto playlist = std::make_unique<Playlist>();
    if (!playlist->Load(name)) {
        return 0;
    }
    startLocked(std::move(playlist), position, repeat);
    if (!m_playlist) {
        return 0;
    }
    m_scheduled = false;
    m_scheduleEntry = scheduleEntry;
    m_priority = priority;
    return 1;
}

int Player::StartScheduledPlaylist(const std::string& name, int position, int repeat, int entryIndex, int priority,
                                   time_t startTime, time_t endTime, int stopMethod) {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (!StartPlaylist(name, repeat, position, entryIndex, priority)) {
        return 0;
    }
    m_scheduled = true;
    m_scheduledStart = startTime;
    m_scheduledEnd = endTime;
    m_actualEnd = endTime;
    m_stopMethod = stopMethod;
    return 1;
}

void Player::StopGracefully(int forceStop, int afterCurrentLoop) {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (!m_playlist || (!forceStop && !m_scheduled)) {
        return;
    }
    if (m_status == PAUSED) {
        m_playlist->Resume();
    }
    if (afterCurrentLoop) {
        m_playlist->StopAfterLoop();
        m_status = STOPPING_AFTER_LOOP;
    } else {
        m_playlist->StopGracefully();
        m_status = STOPPING_GRACEFULLY;
    }
}

void Player::StopNow(int forceStop) {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (!m_playlist || (!forceStop && !m_scheduled)) {
        return;
    }
    m_status = STOPPING_NOW;
    m_playlist->StopNow();
    finishLocked();
}

void Player::NextItem() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (m_playlist) {
        m_playlist->NextItem();
        if (m_playlist->IsDone()) {
            finishLocked();
        }
    }
}

void Player::PrevItem() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (m_playlist) {
        m_playlist->PrevItem();
    }
}

void Player::Pause() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (m_playlist && m_status != PAUSED) {
        m_statusBeforePause = m_status;
        m_playlist->Pause();
        m_status = PAUSED;
    }
}

void Player::Resume() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (m_playlist && m_status == PAUSED) {
        m_playlist->Resume();
        m_status = m_statusBeforePause;
    }
}

std::string Player::GetPlaylistName() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_playlist ? m_playlist->GetName() : "";
}

int Player::GetPosition() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_playlist ? m_playlist->GetPosition() : 0;
}

int Player::GetRepeat() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_playlist ? m_playlist->GetRepeat() : 0;
}

bool Player::WasScheduled() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_playlist && m_scheduled;
}

int Player::GetScheduleEntry() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_playlist && m_scheduled ? m_scheduleEntry : -1;
}

int Player::GetEndedScheduleEntry() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_endedScheduleEntry;
}

int Player::GetStopMethod() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_stopMethod;
}

int Player::GetPriority() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_priority;
}

time_t Player::GetScheduledStartTime() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_scheduledStart;
}

time_t Player::GetActualStartTime() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_actualStart;
}

time_t Player::GetScheduledEndTime() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_scheduledEnd;
}

time_t Player::GetActualEndTime() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_actualEnd;
}

int Player::AdjustPlaylistStopTime(int seconds) {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (!m_playlist || !m_scheduled) {
        return 0;
    }
    time_t end = m_actualEnd + seconds;
    if (end < time(nullptr)) {
        return 0; // would end in the past: refuse rather than stop the show at once
    }
    m_actualEnd = end;
    return 1;
}

Json::Value Player::GetInfo() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    if (!m_playlist) {
        Json::Value info;
        info["name"] = "";
        info["size"] = 0;
        info["repeat"] = 0;
        info["currentEntry"] = Json::objectValue;
        return info;
    }
    return m_playlist->GetInfo();
}

void Player::GetCurrentStatus(Json::Value& result) {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    PlaylistEntryBase* e = m_playlist ? m_playlist->GetCurrentEntry() : nullptr;
    Json::Value current;
    current["playlist"] = m_playlist ? m_playlist->GetName() : "";
    current["type"] = e ? e->GetType() : "";
    current["index"] = m_playlist ? m_playlist->GetPosition() : 0;
    current["count"] = m_playlist ? m_playlist->GetSize() : 0;
    result["current_playlist"] = current;
    int elapsed = e ? e->GetElapsedMS() / 1000 : 0;
    int remaining = e ? std::max(0, e->GetDurationMS() - e->GetElapsedMS()) / 1000 : 0;
    result["current_sequence"] = e ? e->GetSequenceName() : "";
    result["current_song"] = e ? e->GetMediaName() : "";
    result["seconds_played"] = std::to_string(elapsed);
    result["seconds_elapsed"] = std::to_string(elapsed);
    result["seconds_remaining"] = std::to_string(remaining);
    result["time_elapsed"] = secondsToTime(elapsed);
    result["time_remaining"] = secondsToTime(remaining);
    result["repeat_mode"] = m_playlist ? m_playlist->GetRepeat() : 0;
}

Json::Value Player::GetMqttStatusJSON() {
    Json::Value info = GetInfo();
    info["status"] = GetStatus();
    info["position"] = GetPosition();
    return info;
}

Json::Value Player::GetConfig() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_playlist ? m_playlist->GetConfig() : Json::Value(Json::objectValue);
}

time_t Player::GetFileTime() {
    std::lock_guard<std::recursive_mutex> lk(m_lock);
    return m_playlist ? m_playlist->GetFileTime() : 0;
}
