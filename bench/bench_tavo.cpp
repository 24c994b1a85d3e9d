// Writing and reading a large show through the sequence-file library, frame by frame as
// playback does, against the zstd library compressing/decompressing the same blocks in one go.

#include <benchmark/benchmark.h>
#include <zstd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "TAVOFile.h"
#include "TAVOFormat.h"
#include "V2TAVOFile.h"
#include "V2ZSTDCompressionHandler.h"
#include "log.h"

namespace {

constexpr uint32_t CHANNELS = 170000;
constexpr uint32_t FRAMES = 600;
constexpr uint32_t PLAYER_BUFFER = 8388608;

// 600 frames (15 s at 40 fps) of a pixel show: static props, slow fades, chases running
// along strings, and a sparkle region.
const std::vector<std::vector<uint8_t>>& showFrames() {
    static std::vector<std::vector<uint8_t>> frames = [] {
        std::vector<std::vector<uint8_t>> out(FRAMES, std::vector<uint8_t>(CHANNELS));
        const uint32_t pixels = CHANNELS / 3;
        uint32_t seed = 12345;
        for (uint32_t f = 0; f < FRAMES; f++) {
            uint8_t* d = out[f].data();
            for (uint32_t p = 0; p < pixels; p++) {
                uint8_t r, g, b;
                uint32_t model = p / 500;  // props of 500 pixels
                switch (model % 4) {
                case 0:  // static colour
                    r = (model * 37) & 0xFF;
                    g = (model * 91) & 0xFF;
                    b = 40;
                    break;
                case 1: {  // fade in and out
                    double level = 0.5 + 0.5 * std::sin((f + model * 7) / 40.0);
                    r = uint8_t(255 * level);
                    g = uint8_t(120 * level);
                    b = 0;
                    break;
                }
                case 2: {  // chase along the string
                    bool on = ((p + f * 2) % 50) < 8;
                    r = g = b = on ? 255 : 0;
                    break;
                }
                default: {  // sparkle on a dim base
                    seed = seed * 1103515245u + 12345u;
                    bool spark = ((seed >> 16) & 63) == 0;
                    r = g = b = spark ? 255 : 16;
                    break;
                }
                }
                d[p * 3] = r;
                d[p * 3 + 1] = g;
                d[p * 3 + 2] = b;
            }
        }
        return out;
    }();
    return frames;
}

std::string benchPath(int type) {
    static const char* names[] = {"none", "zstd", "zlib"};
    return "/tmp/bench_tavo_" + std::to_string(getpid()) + "_" + names[type] + ".tavo";
}

// Seconds per iteration of each benchmark (wall clock, and CPU of the benchmark's thread,
// which a shared machine disturbs less), for the ratios printed at the end.
struct Timing {
    double real = 0;
    double cpu = 0;
};
std::map<std::string, Timing>& timings() {
    static std::map<std::string, Timing> t;
    return t;
}

double threadCPUSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Measures the whole benchmark loop; call once before the loop, finish() after it.
class LoopTimer {
public:
    LoopTimer() : start(std::chrono::steady_clock::now()), cpuStart(threadCPUSeconds()) {}
    void finish(const std::string& name, benchmark::State& state) {
        double n = double(std::max<int64_t>(state.iterations(), 1));
        timings()[name] = {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n,
                           (threadCPUSeconds() - cpuStart) / n};
    }

private:
    std::chrono::steady_clock::time_point start;
    double cpuStart;
};

void writeShow(const std::string& path, TAVOFile::CompressionType type) {
    const auto& frames = showFrames();
    std::unique_ptr<TAVOFile> f(TAVOFile::createTAVOFile(path, 2, type, -99));
    f->channelCount = CHANNELS;
    f->numFrames = FRAMES;
    f->stepTime = 25;
    f->writeHeader();
    for (uint32_t i = 0; i < FRAMES; i++) {
        f->addFrame(i, frames[i].data());
    }
    f->finalize();
}

void BM_Write(benchmark::State& state) {
    auto type = (TAVOFile::CompressionType)state.range(0);
    showFrames();
    LoopTimer timer;
    for (auto _ : state) {
        writeShow(benchPath(type), type);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * CHANNELS * FRAMES);
    timer.finish("write" + std::to_string(type), state);
    struct stat st;
    if (stat(benchPath(type).c_str(), &st) == 0) {
        state.counters["file_MB"] = double(st.st_size) / 1e6;
    }
}

void BM_Read(benchmark::State& state) {
    auto type = (TAVOFile::CompressionType)state.range(0);
    std::string path = benchPath(type);
    writeShow(path, type);
    std::vector<uint8_t> buffer(PLAYER_BUFFER + 8);
    LoopTimer timer;
    for (auto _ : state) {
        std::unique_ptr<TAVOFile> f(TAVOFile::openTAVOFile(path));
        f->prepareRead({{0, CHANNELS}}, 0);
        for (uint32_t i = 0; i < FRAMES; i++) {
            std::unique_ptr<TAVOFile::FrameData> d(f->getFrame(i));
            d->readFrame(buffer.data(), PLAYER_BUFFER);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * CHANNELS * FRAMES);
    timer.finish("read" + std::to_string(type), state);
}

// The zstd file's blocks as written: raw bytes and the frames they hold.
struct Blocks {
    std::vector<std::vector<uint8_t>> compressed;
    std::vector<uint32_t> firstFrame;
};

Blocks zstdBlocks() {
    std::string path = benchPath(TAVOFile::zstd);
    writeShow(path, TAVOFile::zstd);
    std::unique_ptr<TAVOFile> f(TAVOFile::openTAVOFile(path));
    auto& v2 = dynamic_cast<V2TAVOFile&>(*f);
    Blocks b;
    FILE* in = fopen(path.c_str(), "rb");
    for (size_t k = 0; k + 1 < v2.frameOffsets.size(); k++) {
        uint64_t size = v2.frameOffsets[k + 1].second - v2.frameOffsets[k].second;
        std::vector<uint8_t> raw(size);
        fseeko(in, (off_t)v2.frameOffsets[k].second, SEEK_SET);
        if (fread(raw.data(), 1, size, in) != size) {
            break;
        }
        b.compressed.push_back(std::move(raw));
        b.firstFrame.push_back((uint32_t)v2.frameOffsets[k].first);
    }
    b.firstFrame.push_back(FRAMES);
    fclose(in);
    return b;
}

void BM_ZstdDecompressBlocks(benchmark::State& state) {
    Blocks b = zstdBlocks();
    std::vector<uint8_t> out;
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    LoopTimer timer;
    for (auto _ : state) {
        for (size_t k = 0; k < b.compressed.size(); k++) {
            size_t bytes = size_t(b.firstFrame[k + 1] - b.firstFrame[k]) * CHANNELS;
            if (out.size() < bytes) {
                out.resize(bytes);
            }
            size_t r = ZSTD_decompressDCtx(dctx, out.data(), bytes, b.compressed[k].data(), b.compressed[k].size());
            if (ZSTD_isError(r) || r != bytes) {
                state.SkipWithError("decompression failed");
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    ZSTD_freeDCtx(dctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * CHANNELS * FRAMES);
    timer.finish("zstd-decompress", state);
}

void BM_ZstdCompressBlocks(benchmark::State& state) {
    Blocks b = zstdBlocks();
    const auto& frames = showFrames();
    // The same blocks' raw data, each contiguous, compressed at the writer's levels.
    std::vector<std::vector<uint8_t>> raw;
    for (size_t k = 0; k + 1 < b.firstFrame.size(); k++) {
        std::vector<uint8_t> r;
        for (uint32_t i = b.firstFrame[k]; i < b.firstFrame[k + 1]; i++) {
            r.insert(r.end(), frames[i].begin(), frames[i].end());
        }
        raw.push_back(std::move(r));
    }
    std::vector<uint8_t> out(ZSTD_compressBound(raw.empty() ? 0 : raw.back().size() * 2));
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    LoopTimer timer;
    for (auto _ : state) {
        for (size_t k = 0; k < raw.size(); k++) {
            size_t bound = ZSTD_compressBound(raw[k].size());
            if (out.size() < bound) {
                out.resize(bound);
            }
            int level = V2ZSTDCompressionHandler::blockLevel(-99, k == 0);
            size_t r = ZSTD_compressCCtx(cctx, out.data(), out.size(), raw[k].data(), raw[k].size(), level);
            if (ZSTD_isError(r)) {
                state.SkipWithError("compression failed");
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    ZSTD_freeCCtx(cctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * CHANNELS * FRAMES);
    timer.finish("zstd-compress", state);
}

BENCHMARK(BM_Write)->Arg(TAVOFile::none)->Arg(TAVOFile::zstd)->Arg(TAVOFile::zlib)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read)->Arg(TAVOFile::none)->Arg(TAVOFile::zstd)->Arg(TAVOFile::zlib)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZstdDecompressBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZstdCompressBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    KIVLogger::INSTANCE.SetAllLevel(LOG_LEVEL_WARN);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int t = 0; t < 3; t++) {
        unlink(benchPath(t).c_str());
    }
    auto& tm = timings();
    auto ratio = [&](const char* what, const std::string& a, const std::string& b) {
        if (tm.count(a) && tm.count(b)) {
            printf("%s: wall %.2fx (%.1f ms vs %.1f ms), cpu %.2fx (%.1f ms vs %.1f ms)\n", what, tm[a].real / tm[b].real,
                   tm[a].real * 1e3, tm[b].real * 1e3, tm[a].cpu / tm[b].cpu, tm[a].cpu * 1e3, tm[b].cpu * 1e3);
        }
    };
    ratio("reading zstd frame by frame / zstd decompressing the blocks", "read1", "zstd-decompress");
    ratio("writing zstd frame by frame / zstd compressing the blocks", "write1", "zstd-compress");
    return 0;
}
