#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

#include "TAVOFormat.h"
#include "TAVOTestFiles.h"
#include "log.h"

using namespace tavotest;

namespace {

// Every bad input must give a log line and a null file, a null frame or a false readFrame;
// frames that do come back must hold the original data.
class TAVOBadInput : public ::testing::Test {
protected:
    static constexpr uint32_t CHANNELS = 700;
    static constexpr uint32_t FRAMES = 120;

    void SetUp() override {
        frames = makeFrames(CHANNELS, FRAMES);
        logPath = dir.file("log.txt");
        SetLogFile(logPath.c_str(), false);
    }
    void TearDown() override { SetLogFile("", true); }

    std::vector<uint8_t> goodFile(TAVOFile::CompressionType type, int major = 2,
                                  std::vector<TAVOFile::VariableHeader> headers = {}) {
        WriteSpec spec;
        spec.type = type;
        spec.major = major;
        spec.minor = 2;
        spec.headers = std::move(headers);
        std::vector<uint8_t> memory;
        EXPECT_TRUE(writeSequence("-memory-", frames, CHANNELS, spec, &memory));
        return memory;
    }

    size_t logSize() {
        struct stat st;
        return stat(logPath.c_str(), &st) == 0 ? (size_t)st.st_size : 0;
    }

    // Opens bytes as a file and reads every frame (and some past the end). Returns the number
    // of frames that came back; fails the test when a returned frame is wrong or nothing was logged.
    int readBad(const std::vector<uint8_t>& bytes, const std::string& what, bool expectOpen) {
        std::string path = dir.file("bad.tavo");
        writeBytes(path, bytes);
        size_t before = logSize();
        std::unique_ptr<TAVOFile> f(TAVOFile::openTAVOFile(path));
        EXPECT_EQ((bool)f, expectOpen) << what;
        int good = 0;
        bool failed = !f;
        if (f) {
            std::vector<uint32_t> order;
            for (uint32_t i = 0; i < std::min<uint32_t>(f->numFrames, FRAMES + 5); i++) {
                order.push_back(i);
            }
            order.push_back(UINT32_MAX);
            order.push_back(f->numFrames);
            for (uint32_t i : order) {
                std::vector<uint8_t> buf(CHANNELS, 0);
                std::unique_ptr<TAVOFile::FrameData> d(f->getFrame(i));
                if (!d || !d->readFrame(buf.data(), CHANNELS)) {
                    failed = true;
                    continue;
                }
                if (i < FRAMES) {
                    EXPECT_EQ(buf, frames[i]) << what << ": frame " << i;
                }
                good++;
            }
        }
        EXPECT_TRUE(failed) << what << ": nothing failed";
        EXPECT_GT(logSize(), before) << what << ": nothing logged";
        return good;
    }

    TempDir dir;
    Frames frames;
    std::string logPath;
};

TEST_F(TAVOBadInput, TruncatedAtEachBoundary) {
    for (auto type : {TAVOFile::none, TAVOFile::zstd, TAVOFile::zlib}) {
        std::vector<uint8_t> good = goodFile(type, 2, {textHeader("mf", "a.mp3")});
        uint32_t dataOffset = tavo::read16(&good[4]);
        std::vector<size_t> cuts = {0, 6, 7, 8, 20, 31, 32, dataOffset - 1};
        bool compressed = type != TAVOFile::none;
        uint64_t firstBlockEnd = dataOffset + (compressed ? tavo::read32(&good[36]) : CHANNELS * 10);
        for (size_t cut : {size_t(dataOffset), size_t(dataOffset + 1), size_t(firstBlockEnd - 1), size_t(firstBlockEnd),
                           size_t(firstBlockEnd + 5), good.size() / 2, good.size() - 1}) {
            cuts.push_back(cut);
        }
        for (size_t cut : cuts) {
            std::vector<uint8_t> bytes(good.begin(), good.begin() + cut);
            readBad(bytes, "type " + std::to_string(type) + " cut at " + std::to_string(cut), cut >= dataOffset);
        }
    }
}

TEST_F(TAVOBadInput, DamagedHeaders) {
    struct Case {
        const char* what;
        TAVOFile::CompressionType type;
        std::function<void(std::vector<uint8_t>&)> damage;
        bool opens;
    };
    const Case cases[] = {
        {"bad identifier", TAVOFile::none, [](auto& b) { b[0] = 'X'; }, false},
        {"major version 3", TAVOFile::none, [](auto& b) { b[7] = 3; }, false},
        {"data offset past the end", TAVOFile::none, [](auto& b) { tavo::write16(&b[4], 0xFFF0); b.resize(3000); }, false},
        {"data offset inside the fixed header", TAVOFile::none, [](auto& b) { tavo::write16(&b[4], 12); }, false},
        {"huge channel count", TAVOFile::none, [](auto& b) { tavo::write32(&b[10], 0xFFFFFFFF); }, false},
        {"more frames than the file", TAVOFile::none, [](auto& b) { tavo::write32(&b[14], 0xFFFFFFFF); }, true},
        {"255 ranges in a small header", TAVOFile::none, [](auto& b) { b[22] = 255; }, false},
        {"4095 blocks in a small header", TAVOFile::zstd, [](auto& b) { b[20] = 0xF1; b[21] = 0xFF; }, false},
        {"ranges wider than a frame", TAVOFile::zstd, [](auto& b) {
             // Three index slots, the fourth slot's room read as one range (0, 0xFFFFFF).
             b[21] = 3;
             b[22] = 1;
             tavo::write24(&b[56], 0);
             tavo::write24(&b[59], 0xFFFFFF);
         }, false},
        {"absurd block size", TAVOFile::zstd, [](auto& b) { tavo::write32(&b[36], 0xFFFFFFFF); }, true},
        {"second block past the end", TAVOFile::zstd, [](auto& b) { tavo::write32(&b[44], 0x7FFFFFFF); }, true},
        {"blocks out of order", TAVOFile::zstd, [](auto& b) { tavo::write32(&b[40], 0); }, true},
        {"first block not at frame 0", TAVOFile::zlib, [](auto& b) { tavo::write32(&b[32], 5); }, true},
        {"frame count near 2^32", TAVOFile::zstd, [](auto& b) { tavo::write32(&b[14], 0xFFFFFFFE); }, true},
        {"corrupt zstd block", TAVOFile::zstd, [](auto& b) {
             uint32_t second = tavo::read16(&b[4]) + tavo::read32(&b[36]);
             b[second] ^= 0xFF;  // the frame's magic number
         }, true},
        {"short zstd block", TAVOFile::zstd, [](auto& b) { tavo::write32(&b[44], tavo::read32(&b[44]) / 2); }, true},
        {"corrupt zlib block", TAVOFile::zlib, [](auto& b) {
             uint32_t second = tavo::read16(&b[4]) + tavo::read32(&b[36]);
             b[second] ^= 0xFF;  // the stream header
             b[second + 1] ^= 0xFF;
         }, true},
        {"corrupt zlib data", TAVOFile::zlib, [](auto& b) {
             uint32_t second = tavo::read16(&b[4]) + tavo::read32(&b[36]);
             for (int i = 10; i < 60; i++) {
                 b[second + i] = 0xFF;
             }
         }, true},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = goodFile(c.type);
        c.damage(bytes);
        readBad(bytes, c.what, c.opens);
    }
}

TEST_F(TAVOBadInput, DamagedVariableHeaders) {
    std::vector<TAVOFile::VariableHeader> headers = {textHeader("sp", "tool"), textHeader("mf", "song.mp3"),
                                                     textHeader("FC", "abc", true)};
    std::vector<uint8_t> good = goodFile(TAVOFile::zstd, 2, headers);
    uint32_t varStart = tavo::read16(&good[8]);
    auto open = [&](const std::vector<uint8_t>& bytes) {
        std::string path = dir.file("vh.tavo");
        writeBytes(path, bytes);
        return std::unique_ptr<TAVOFile>(TAVOFile::openTAVOFile(path));
    };
    {
        // The second header claims more bytes than the header has: parsing stops there.
        auto bytes = good;
        tavo::write16(&bytes[varStart + 9], 0xFFFF);
        size_t before = logSize();
        auto f = open(bytes);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->variableHeaders.size(), 1u);
        EXPECT_GT(logSize(), before);
        EXPECT_EQ(readSequence(*f, CHANNELS), frames);
    }
    uint32_t ext = varStart + 9 + 13;  // the extended entry
    ASSERT_EQ(good[ext + 2], 'E');
    for (auto damage : {std::function<void(std::vector<uint8_t>&)>([&](auto& b) { tavo::write32(&b[ext + 14], 0xFFFFFFFF); }),
                        std::function<void(std::vector<uint8_t>&)>([&](auto& b) { tavo::write64(&b[ext + 6], 1ull << 62); })}) {
        auto bytes = good;
        damage(bytes);
        size_t before = logSize();
        auto f = open(bytes);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->variableHeaders.size(), 2u);  // the extended one is skipped
        EXPECT_GT(logSize(), before);
    }
    {
        // The extended entry cut by the end of the header.
        auto bytes = good;
        uint32_t dataOffset = ext + 10;
        tavo::write16(&bytes[4], dataOffset);
        auto f = open(bytes);
        if (f) {
            EXPECT_LE(f->variableHeaders.size(), 2u);
        }
    }
}

TEST_F(TAVOBadInput, NotAFile) {
    size_t before = logSize();
    EXPECT_EQ(TAVOFile::openTAVOFile(dir.path), nullptr);
    EXPECT_EQ(TAVOFile::openTAVOFile(dir.file("missing.tavo")), nullptr);
    writeBytes(dir.file("six.tavo"), {'P', 'S', 'E', 'Q', 0, 0});
    EXPECT_EQ(TAVOFile::openTAVOFile(dir.file("six.tavo")), nullptr);
    EXPECT_GT(logSize(), before);
    EXPECT_EQ(TAVOFile::getMediaFilename(dir.path), "");
}

} // namespace
