#include "playlist/PlaylistEntrySequence.h"

#include "Sequence.h"
#include "log.h"

bool PlaylistEntrySequence::Init(const Json::Value& config) {
    PlaylistEntryBase::Init(config);
    if (!config["sequenceName"].isString() || config["sequenceName"].asString().empty()) {
        LogErr(kivlog::Playlist, "Sequence entry without a \"sequenceName\"\n");
        return false;
    }
    m_sequenceName = config["sequenceName"].asString();
    return true;
}

bool PlaylistEntrySequence::StartPlaying() {
    if (!sequence || !sequence->StartSequence(m_sequenceName, 0)) {
        LogErr(kivlog::Playlist, "Could not start sequence %s\n", m_sequenceName.c_str());
        Finished();
        return false;
    }
    m_playing = sequence->GetSequenceName();
    if (m_playing.empty()) {
        Finished(); // ended already (an empty file)
        return true;
    }
    return PlaylistEntryBase::StartPlaying();
}

void PlaylistEntrySequence::Process() {
    if (IsPlaying() && !sequence->IsSequenceRunning(m_playing)) {
        Finished();
    }
}

void PlaylistEntrySequence::Stop() {
    if (IsPlaying() && sequence) {
        sequence->CloseIfOpen(m_playing);
    }
    PlaylistEntryBase::Stop();
}

void PlaylistEntrySequence::Pause() {
    if (IsPlaying() && !sequence->SequenceIsPaused()) {
        sequence->ToggleSequencePause();
    }
}

void PlaylistEntrySequence::Resume() {
    if (IsPlaying() && sequence->SequenceIsPaused()) {
        sequence->ToggleSequencePause();
    }
}

Json::Value PlaylistEntrySequence::GetInfo() {
    Json::Value info = PlaylistEntryBase::GetInfo();
    info["sequenceName"] = m_sequenceName;
    info["mediaFilename"] = "";
    return info;
}

int PlaylistEntrySequence::GetElapsedMS() {
    return IsPlaying() ? (int)sequence->seqMSElapsed : 0;
}

int PlaylistEntrySequence::GetDurationMS() {
    return IsPlaying() ? (int)sequence->seqMSDuration : 0;
}
