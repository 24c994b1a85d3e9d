// Playback core figures:
//  - HandoverVsMemcpy: one output pass (send, hand-over of the next frame, processing) for
//    1,000,000 channels, against a plain memcpy of the same bytes, measured alternately.
//  - OutputThreadAllocations: operator new calls on the output thread per frame in steady
//    state, with the real thread playing at 100 frames per second.
//  - FrameTiming60s: 60 s at 40 frames per second through the recording output, against a
//    bare clock_nanosleep loop to absolute deadlines running beside it in the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "MonotonicClock.h"
#include "log.h"
#include "Sequence.h"
#include "channeloutput/ChannelOutputManager.h"
#include "channeloutput/ChannelOutputThread.h"
#include "channeloutput/FrameRecorder.h"
#include "channeloutput/TestMediaDir.h"
#include "settings.h"
#include "SequenceTestFiles.h"

// --- allocation counting: every operator new on this thread ---
// (malloc-backed, so the matching deletes free() what these return)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
thread_local uint64_t tlAllocations = 0;
uint64_t threadAllocations() {
    return tlAllocations;
}
} // namespace

void* operator new(std::size_t n) {
    tlAllocations++;
    if (void* p = std::malloc(n ? n : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    tlAllocations++;
    if (void* p = std::malloc(n ? n : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    tlAllocations++;
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    tlAllocations++;
    return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// A media directory with one recording output over `channels` channels and a fresh engine.
struct Rig {
    Rig(uint32_t channels, bool checksum) {
        if (const char* lv = getenv("KIV_BENCH_LOG_LEVEL")) {
            SetLogLevelComplex(lv);
        }
        FrameRecorder::INSTANCE.Reset();
        SetSetting("kivMode", "player");
        Json::Value out = OutputConfig("TestRecorder", 0, channels, "rec");
        out["checksum"] = checksum;
        out["capacity"] = 20000;
        Json::Value root;
        root["channelOutputs"].append(out);
        InitializeChannelOutputsFromJson(root);
        sequence = new Sequence();
    }
    ~Rig() {
        StopChannelOutputThread();
        delete sequence;
        sequence = nullptr;
        CloseChannelOutputs();
        HoldChannelOutputThread(false);
    }
    RecorderTrack& rec() { return *FrameRecorder::INSTANCE.Find("rec"); }

    TestMediaDir media;
};

constexpr uint32_t kBigChannels = 1000000;

void BM_HandoverVsMemcpy(benchmark::State& state) {
    Rig rig(kBigChannels, false);
    HoldChannelOutputThread(true); // passes run here, one at a time
    const uint32_t frames = 64;
    WriteTestSequence(rig.media.path + "/sequences/big.tavo", kBigChannels, frames, 25);
    sequence->StartSequence("big.tavo", 0);

    // The baseline copies from buffers as cold as the engine's frames: as many as the
    // reader keeps in memory, filled on another thread, used in turn.
    constexpr int kSources = 64;
    std::vector<std::vector<unsigned char>> sources(kSources);
    std::thread([&sources] {
        for (auto& b : sources) {
            b.assign(kBigChannels, 0x5A);
        }
    }).join();
    std::vector<unsigned char> dst(kBigChannels);
    double memcpyNs = 0, passNs = 0, sendNs = 0, readNs = 0;
    int64_t n = 0;
    for (auto _ : state) {
        if (channelOutputFrame >= frames - 4) {
            sequence->SeekSequenceFile(0);
            sequence->ReadSequenceData(false);
            // Let the reader fill its cache again, as it has long done during a show.
            std::this_thread::sleep_for(std::chrono::milliseconds(80));
        }
        // A frame period of idle time, in which the reader queues the next frame (it sleeps
        // 1 ms after each, so a shorter gap would measure the reader, not the hand-over).
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const unsigned char* src = sources[n % kSources].data();

        auto t0 = std::chrono::steady_clock::now();
        memcpy(dst.data(), src, kBigChannels);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
        auto t1 = std::chrono::steady_clock::now();
        sequence->SendSequenceData();
        auto ta = std::chrono::steady_clock::now();
        sequence->ReadSequenceData(false);
        auto tb = std::chrono::steady_clock::now();
        sequence->ProcessSequenceData(0);
        benchmark::ClobberMemory();
        auto t2 = std::chrono::steady_clock::now();
        sendNs += std::chrono::duration<double, std::nano>(ta - t1).count();
        readNs += std::chrono::duration<double, std::nano>(tb - ta).count();

        double m = std::chrono::duration<double, std::nano>(t1 - t0).count();
        double p = std::chrono::duration<double, std::nano>(t2 - t1).count();
        memcpyNs += m;
        passNs += p;
        n++;
        state.SetIterationTime(p * 1e-9);
    }

    state.counters["pass_us"] = passNs / n / 1000.0;
    state.counters["memcpy_us"] = memcpyNs / n / 1000.0;
    state.counters["ratio"] = passNs / memcpyNs;
    state.counters["send_us"] = sendNs / n / 1000.0;
    state.counters["handover_us"] = readNs / n / 1000.0;
}
BENCHMARK(BM_HandoverVsMemcpy)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMicrosecond);

void BM_OutputThreadAllocations(benchmark::State& state) {
    for (auto _ : state) {
        Rig rig(kBigChannels, false);
        FrameRecorder::INSTANCE.allocationCounter = &threadAllocations;
        const uint32_t frames = 300;
        WriteTestSequence(rig.media.path + "/sequences/alloc.tavo", 100000, frames, 10);
        sequence->StartSequence("alloc.tavo", 0);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (sequence->IsSequenceRunning() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FrameRecorder::INSTANCE.allocationCounter = nullptr;
        // Steady state: from frame 50 to frame 250, first send of each.
        uint64_t first = 0, last = 0;
        int firstFrame = -1, lastFrame = -1;
        for (auto& r : rig.rec().Snapshot()) {
            if ((int)r.frame >= 50 && firstFrame < 0) {
                firstFrame = (int)r.frame;
                first = r.allocs;
            }
            if ((int)r.frame <= 250) {
                lastFrame = (int)r.frame;
                last = r.allocs;
            }
        }
        int counted = lastFrame - firstFrame;
        state.counters["frames"] = counted;
        state.counters["allocations"] = (double)(last - first);
        state.counters["allocs_per_frame"] = counted > 0 ? (double)(last - first) / counted : -1;
    }
}
BENCHMARK(BM_OutputThreadAllocations)->Iterations(1)->Unit(benchmark::kMillisecond);

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    size_t i = std::min(v.size() - 1, (size_t)std::ceil(p * (double)v.size()) - 1);
    return v[i];
}

// Deviations of each time from its due time, due times spaced `period` apart and anchored
// at the earliest (best-case) wake, so both loops are measured the same way.
std::vector<double> deviations(const std::vector<int64_t>& times, int64_t period) {
    std::vector<double> dev;
    if (times.empty()) {
        return dev;
    }
    int64_t anchor = INT64_MAX;
    for (size_t k = 0; k < times.size(); k++) {
        anchor = std::min(anchor, times[k] - (int64_t)k * period);
    }
    for (size_t k = 0; k < times.size(); k++) {
        dev.push_back((double)(times[k] - anchor - (int64_t)k * period) / 1000.0); // us
    }
    return dev;
}

void BM_FrameTiming60s(benchmark::State& state) {
    const int seconds = (int)state.range(0);
    const int64_t periodNs = 25000000;
    for (auto _ : state) {
        Rig rig(512, true);
        const uint32_t frames = (uint32_t)seconds * 40;
        WriteTestSequence(rig.media.path + "/sequences/timing.tavo", 512, frames, 25);

        std::atomic<bool> stop{false};
        std::vector<int64_t> bare;
        bare.reserve(frames + 100);
        std::thread bareLoop([&] {
            timespec next;
            clock_gettime(CLOCK_MONOTONIC, &next);
            while (!stop) {
                next.tv_nsec += periodNs;
                while (next.tv_nsec >= 1000000000) {
                    next.tv_nsec -= 1000000000;
                    next.tv_sec++;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
                bare.push_back(MonotonicNs());
            }
        });

        sequence->StartSequence("timing.tavo", 0);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds + 10);
        while (sequence->IsSequenceRunning() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop = true;
        bareLoop.join();

        // First send of each frame from frame 1 on (frame 0 may wait for the start).
        std::vector<int64_t> sends;
        int lastFrame = 0;
        for (auto& r : rig.rec().Snapshot()) {
            if ((int)r.frame > lastFrame && r.checksum == TestFrameChecksum(0, r.frame, 512)) {
                if ((int)r.frame != lastFrame + 1 && !sends.empty()) {
                    state.counters["skipped_frames"] += (double)((int)r.frame - lastFrame - 1);
                }
                lastFrame = (int)r.frame;
                sends.push_back(r.timeNs);
            }
        }
        if (sends.size() < 2 || bare.size() < 2) {
            state.SkipWithError("too few frames recorded");
            return;
        }
        double meanPeriodUs = (double)(sends.back() - sends.front()) / (double)(sends.size() - 1) / 1000.0;
        double bareMeanUs = (double)(bare.back() - bare.front()) / (double)(bare.size() - 1) / 1000.0;
        double p99Thread = percentile(deviations(sends, periodNs), 0.99);
        double p99Bare = percentile(deviations(bare, periodNs), 0.99);
        state.counters["frames"] = (double)sends.size();
        state.counters["mean_period_us"] = meanPeriodUs;
        state.counters["period_error_pct"] = (meanPeriodUs - 25000.0) / 25000.0 * 100.0;
        state.counters["bare_mean_period_us"] = bareMeanUs;
        state.counters["p99_dev_thread_us"] = p99Thread;
        state.counters["p99_dev_bare_us"] = p99Bare;
        state.counters["p99_ratio"] = p99Bare > 0 ? p99Thread / p99Bare : 0;
    }
}
BENCHMARK(BM_FrameTiming60s)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
