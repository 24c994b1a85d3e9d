#pragma once

// Helpers shared by the sequence-file tests: a temporary directory, frames with known
// content, and writing/reading whole sequences through the library.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "TAVOFile.h"
#include "V2TAVOFile.h"

namespace tavotest {

using Frames = std::vector<std::vector<uint8_t>>;

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tavotest-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// Lighting-like frames: a static region, a fade and a chase, with a little noise so that
// compressed blocks are not trivially small.
inline Frames makeFrames(uint32_t channels, uint32_t frames, uint32_t seed = 1) {
    Frames out(frames, std::vector<uint8_t>(channels));
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t f = 0; f < frames; f++) {
        for (uint32_t c = 0; c < channels; c++) {
            uint8_t v;
            if (c < channels / 4) {
                v = 200;
            } else if (c < channels / 2) {
                v = uint8_t(f * 3);
            } else if (c < channels * 3 / 4) {
                v = ((c + f) % 16 == 0) ? 255 : 0;
            } else {
                x = x * 1103515245u + 12345u;
                v = uint8_t(x >> 24);
            }
            out[f][c] = v;
        }
    }
    return out;
}

struct WriteSpec {
    int major = 2;
    int minor = 0;
    TAVOFile::CompressionType type = TAVOFile::none;
    int level = -99;
    TAVOFile::ChannelRanges sparse;
    std::vector<TAVOFile::VariableHeader> headers;
    int stepTime = 25;
    uint64_t uniqueId = 12345;
};

// Writes frames (each a full frame of channels) to path; false when the writer refused.
inline bool writeSequence(const std::string& path, const Frames& frames, uint32_t channels, const WriteSpec& spec = {},
                          std::vector<uint8_t>* memory = nullptr) {
    std::unique_ptr<TAVOFile> f(TAVOFile::createTAVOFile(path, spec.major, spec.type, spec.level));
    if (!f) {
        return false;
    }
    f->channelCount = channels;
    f->numFrames = (uint32_t)frames.size();
    f->stepTime = spec.stepTime;
    f->uniqueId = spec.uniqueId;
    f->variableHeaders = spec.headers;
    if (auto* v2 = dynamic_cast<V2TAVOFile*>(f.get())) {
        v2->sparseRanges = spec.sparse;
    }
    f->enableMinorVersionFeatures((uint8_t)spec.minor);
    if (!f->writeHeader()) {
        return false;
    }
    for (uint32_t i = 0; i < frames.size(); i++) {
        f->addFrame(i, frames[i].data());
    }
    bool ok = f->finalize();
    if (memory) {
        *memory = f->memoryBuffer;
    }
    return ok;
}

// Writes frames to path and opens the result; null when either step failed.
inline std::unique_ptr<TAVOFile> writeAndOpen(const std::string& path, const Frames& frames, uint32_t channels,
                                              const WriteSpec& spec = {}) {
    if (!writeSequence(path, frames, channels, spec)) {
        return nullptr;
    }
    return std::unique_ptr<TAVOFile>(TAVOFile::openTAVOFile(path));
}

// Every frame read into a zeroed buffer of channels; a frame that fails reads as empty.
inline Frames readSequence(TAVOFile& f, uint32_t channels) {
    Frames out;
    for (uint32_t i = 0; i < f.numFrames; i++) {
        std::vector<uint8_t> buf(channels, 0);
        std::unique_ptr<TAVOFile::FrameData> d(f.getFrame(i));
        if (!d || !d->readFrame(buf.data(), channels)) {
            buf.clear();
        }
        out.push_back(std::move(buf));
    }
    return out;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

inline TAVOFile::VariableHeader textHeader(const char* code, const std::string& text, bool extended = false) {
    std::vector<uint8_t> d(text.begin(), text.end());
    d.push_back(0);
    return TAVOFile::VariableHeader(code, d, extended);
}

} // namespace tavotest
