#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What the test recording output modules saw, kept in the host program (the test) so a
// test can read it; the modules resolve FrameRecorder::INSTANCE from the host's symbols.

struct FrameRecord {
    unsigned frame;     // channelOutputFrame at the send
    int64_t timeNs;     // CLOCK_MONOTONIC at the send
    uint64_t checksum;  // FrameChecksum of the output's channels, 0 when disabled
    unsigned char first; // value of the output's first channel
    uint64_t allocs;     // FrameRecorder::allocationCounter() on the sending thread, 0 without one
};

inline int64_t MonotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// FNV-1a over count bytes.
inline uint64_t FrameChecksum(const unsigned char* data, unsigned count) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned i = 0; i < count; i++) {
        h = (h ^ data[i]) * 1099511628211ULL;
    }
    return h;
}

class RecorderTrack {
public:
    explicit RecorderTrack(size_t capacity) { records.reserve(capacity); }

    // Frame path: no allocation; a full track counts drops instead.
    void Record(const FrameRecord& r) {
        std::lock_guard<std::mutex> lk(lock);
        if (records.size() < records.capacity()) {
            records.push_back(r);
        } else {
            dropped++;
        }
    }
    std::vector<FrameRecord> Snapshot() {
        std::lock_guard<std::mutex> lk(lock);
        return records;
    }
    size_t Count() {
        std::lock_guard<std::mutex> lk(lock);
        return records.size();
    }

    std::atomic<int> prepCount{0};
    std::atomic<int> startingCount{0};
    std::atomic<int> stoppingCount{0};
    std::atomic<int> closeCount{0};
    std::atomic<int> timeoutCount{0};
    size_t dropped = 0;

private:
    std::mutex lock;
    std::vector<FrameRecord> records;
};

class FrameRecorder {
public:
    static FrameRecorder INSTANCE;

    // Set by a host that counts allocations per thread (the benchmarks); sampled at each send.
    std::atomic<uint64_t (*)()> allocationCounter{nullptr};

    // Called from an output's Init; an existing track of that name is kept.
    RecorderTrack* Open(const std::string& name, size_t capacity);
    // Null when no output of that name was initialised since the last Reset.
    RecorderTrack* Find(const std::string& name);
    // Forget every track; only while no recording output is open.
    void Reset();

private:
    std::mutex m_lock;
    std::map<std::string, std::unique_ptr<RecorderTrack>> m_tracks;
};
