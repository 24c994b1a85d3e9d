#include "channeloutput/FrameRecorder.h"

FrameRecorder FrameRecorder::INSTANCE;

RecorderTrack* FrameRecorder::Open(const std::string& name, size_t capacity) {
    std::lock_guard<std::mutex> lk(m_lock);
    auto& t = m_tracks[name];
    if (!t) {
        t = std::make_unique<RecorderTrack>(capacity);
    }
    return t.get();
}

RecorderTrack* FrameRecorder::Find(const std::string& name) {
    std::lock_guard<std::mutex> lk(m_lock);
    auto it = m_tracks.find(name);
    return it == m_tracks.end() ? nullptr : it->second.get();
}

void FrameRecorder::Reset() {
    std::lock_guard<std::mutex> lk(m_lock);
    m_tracks.clear();
}
