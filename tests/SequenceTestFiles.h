#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "channeloutput/FrameRecorder.h"
#include "tavo/TAVOFile.h"

// Test sequences whose every channel value is known: frame f, channel c of a file made with
// seed s holds TestChannelValue(s, f, c), never 0, so a blanked frame is told apart.
inline uint8_t TestChannelValue(uint32_t seed, uint32_t frame, uint32_t channel) {
    return (uint8_t)((seed * 101 + frame * 31 + channel * 7) % 251 + 1);
}

inline std::vector<uint8_t> TestFrame(uint32_t seed, uint32_t frame, uint32_t channels) {
    std::vector<uint8_t> data(channels);
    for (uint32_t c = 0; c < channels; c++) {
        data[c] = TestChannelValue(seed, frame, c);
    }
    return data;
}

inline uint64_t TestFrameChecksum(uint32_t seed, uint32_t frame, uint32_t channels) {
    auto data = TestFrame(seed, frame, channels);
    return FrameChecksum(data.data(), channels);
}

inline bool WriteTestSequence(const std::string& path, uint32_t channels, uint32_t frames, int stepTime,
                              uint32_t seed = 0, std::vector<TAVOFile::VariableHeader> headers = {}) {
    TAVOFile* f = TAVOFile::createTAVOFile(path, 2, TAVOFile::none, -1);
    if (!f) {
        return false;
    }
    f->channelCount = channels;
    f->numFrames = frames;
    f->stepTime = stepTime;
    f->variableHeaders = std::move(headers);
    bool ok = f->writeHeader();
    for (uint32_t i = 0; ok && i < frames; i++) {
        auto data = TestFrame(seed, i, channels);
        f->addFrame(i, data.data());
    }
    ok = ok && f->finalize();
    delete f;
    return ok;
}

// Payload of an "FC" or "FE" header: version 1, entries of (name, [(start, end), ...]).
using FrameEventList = std::vector<std::pair<std::string, std::vector<std::pair<uint32_t, uint32_t>>>>;
inline std::vector<uint8_t> FrameEventPayload(const FrameEventList& entries, uint8_t version = 1) {
    std::vector<uint8_t> d;
    auto u32 = [&d](uint32_t v) {
        for (int i = 0; i < 4; i++) {
            d.push_back((uint8_t)(v >> (8 * i)));
        }
    };
    auto text = [&d](const std::string& s) {
        d.insert(d.end(), s.begin(), s.end());
        d.push_back(0);
    };
    d.push_back(version);
    u32((uint32_t)entries.size());
    text("label");
    for (auto& [name, pairs] : entries) {
        text(name);
        u32((uint32_t)pairs.size());
        for (auto& [start, end] : pairs) {
            u32(start);
            u32(end);
        }
    }
    return d;
}
