#include <gtest/gtest.h>

#include "TAVOFormat.h"
#include "TAVOTestFiles.h"
#include "UncompressedFrameData.h"
#include "V1TAVOFile.h"
#include "V2CompressedHandler.h"
#include "V2TAVOFile.h"
#include "V2ZLIBCompressionHandler.h"
#include "V2ZSTDCompressionHandler.h"

using namespace tavotest;

namespace {

struct Format {
    int major;
    int minor;
    TAVOFile::CompressionType type;
};

class TAVORoundTrip : public ::testing::TestWithParam<Format> {};

TEST_P(TAVORoundTrip, FramesAndHeaderSurvive) {
    TempDir dir;
    const uint32_t channels = 1000;
    Frames frames = makeFrames(channels, 57);
    WriteSpec spec;
    spec.major = GetParam().major;
    spec.minor = GetParam().minor;
    spec.type = GetParam().type;
    spec.headers = {textHeader("mf", "show.mp3"), textHeader("sp", "tests"), TAVOFile::VariableHeader("zz", {1, 2, 3})};
    std::string path = dir.file("a.tavo");
    ASSERT_TRUE(writeSequence(path, frames, channels, spec));

    std::unique_ptr<TAVOFile> f(TAVOFile::openTAVOFile(path));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->versionMajor, spec.major);
    EXPECT_EQ(f->versionMinor, spec.major == 1 ? 0 : spec.minor);
    EXPECT_EQ(f->channelCount, channels);
    EXPECT_EQ(f->numFrames, 57u);
    EXPECT_EQ(f->stepTime, 25);
    EXPECT_EQ(f->getMediaFilename(), "show.mp3");
    ASSERT_EQ(f->variableHeaders.size(), 3u);
    EXPECT_EQ(f->variableHeaders[2].data, (std::vector<uint8_t>{1, 2, 3}));
    if (spec.major == 2) {
        EXPECT_EQ(f->uniqueId, 12345u);
        EXPECT_EQ(dynamic_cast<V2TAVOFile&>(*f).compressionType, spec.type);
    }
    EXPECT_EQ(readSequence(*f, channels), frames);
    // Frames come back in any order, also backwards inside one compressed block.
    for (int i = 9; i >= 0; i--) {
        std::unique_ptr<TAVOFile::FrameData> d(f->getFrame(i));
        ASSERT_TRUE(d);
        std::vector<uint8_t> buf(channels);
        ASSERT_TRUE(d->readFrame(buf.data(), channels));
        EXPECT_EQ(buf, frames[i]) << "frame " << i;
    }
    EXPECT_EQ(TAVOFile::getMediaFilename(path), "show.mp3");
}

std::string formatName(const ::testing::TestParamInfo<Format>& info) {
    static const char* names[] = {"none", "zstd", "zlib"};
    return "v" + std::to_string(info.param.major) + "_" + std::to_string(info.param.minor) + "_" + names[info.param.type];
}

INSTANTIATE_TEST_SUITE_P(Formats, TAVORoundTrip,
                         ::testing::Values(Format{1, 0, TAVOFile::none}, Format{2, 0, TAVOFile::none},
                                           Format{2, 0, TAVOFile::zstd}, Format{2, 0, TAVOFile::zlib},
                                           Format{2, 1, TAVOFile::zstd}, Format{2, 2, TAVOFile::zlib}),
                         formatName);

TEST(TAVOFile, CompressedBlockLargerThanRawDataReadsBack) {
    // Noise does not compress: the zstd/zlib block outgrows the 10 x 10 bytes it holds.
    TempDir dir;
    Frames frames(10, std::vector<uint8_t>(10));
    uint32_t x = 7;
    for (auto& fr : frames) {
        for (auto& v : fr) {
            v = uint8_t((x = x * 1103515245u + 12345u) >> 24);
        }
    }
    for (auto type : {TAVOFile::zstd, TAVOFile::zlib}) {
        WriteSpec spec;
        spec.type = type;
        std::string path = dir.file("noise.tavo");
        std::unique_ptr<TAVOFile> f = writeAndOpen(path, frames, 10, spec);
        ASSERT_TRUE(f);
        auto& v2 = dynamic_cast<V2TAVOFile&>(*f);
        ASSERT_GE(v2.frameOffsets.size(), 2u);
        EXPECT_GT(v2.frameOffsets[1].second - v2.frameOffsets[0].second, 100u);
        EXPECT_EQ(readSequence(*f, 10), frames);
    }
}

TEST(TAVOFile, SparseRangesDeliverOnlyTheirChannels) {
    TempDir dir;
    const uint32_t channels = 200;
    Frames frames = makeFrames(channels, 30);
    for (auto type : {TAVOFile::none, TAVOFile::zstd, TAVOFile::zlib}) {
        WriteSpec spec;
        spec.type = type;
        spec.sparse = {{10, 5}, {100, 3}};
        std::string path = dir.file("sparse.tavo");
        std::unique_ptr<TAVOFile> f = writeAndOpen(path, frames, channels, spec);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->channelCount, 8u);
        EXPECT_EQ(f->getMaxChannel(), 103u);
        for (uint32_t i = 0; i < f->numFrames; i++) {
            std::vector<uint8_t> buf(channels, 0xEE);
            std::unique_ptr<TAVOFile::FrameData> d(f->getFrame(i));
            ASSERT_TRUE(d);
            ASSERT_TRUE(d->readFrame(buf.data(), channels));
            for (uint32_t c = 0; c < channels; c++) {
                bool inRange = (c >= 10 && c < 15) || (c >= 100 && c < 103);
                ASSERT_EQ(buf[c], inRange ? frames[i][c] : 0xEE) << "frame " << i << " channel " << c;
            }
        }
    }
}

TEST(TAVOFile, ReadFrameStopsAtMaxChannels) {
    UncompressedFrameData d(0, 5, {{10, 5}});
    for (int i = 0; i < 5; i++) {
        d.data[i] = uint8_t(i + 1);
    }
    std::vector<uint8_t> buf(20, 0);
    EXPECT_TRUE(d.readFrame(buf.data(), 12));
    EXPECT_EQ(buf[10], 1);
    EXPECT_EQ(buf[11], 2);
    EXPECT_EQ(buf[12], 0);
    UncompressedFrameData tooLong(0, 4, {{0, 5}});
    EXPECT_FALSE(tooLong.readFrame(buf.data(), 20));
}

TEST(TAVOFile, RequestedRangesLimitWhatIsRead) {
    TempDir dir;
    Frames frames = makeFrames(300, 20);
    for (int major : {1, 2}) {
        WriteSpec spec;
        spec.major = major;
        std::string path = dir.file("r.tavo");
        std::unique_ptr<TAVOFile> f = writeAndOpen(path, frames, 300, spec);
        ASSERT_TRUE(f);
        f->prepareRead({{5, 10}, {290, 50}}, 3);  // the second range is cut at channel 300
        std::vector<uint8_t> buf(400, 0xEE);
        std::unique_ptr<TAVOFile::FrameData> d(f->getFrame(3));
        ASSERT_TRUE(d);
        ASSERT_TRUE(d->readFrame(buf.data(), 400));
        for (uint32_t c = 0; c < 400; c++) {
            bool inRange = (c >= 5 && c < 15) || (c >= 290 && c < 300);
            ASSERT_EQ(buf[c], inRange ? frames[3][c] : 0xEE) << "v" << major << " channel " << c;
        }
    }
}

TEST(TAVOFile, FramePastTheEndIsNull) {
    TempDir dir;
    std::string path = dir.file("a.tavo");
    std::unique_ptr<TAVOFile> f = writeAndOpen(path, makeFrames(50, 5), 50);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->getFrame(5), nullptr);
}

TEST(TAVOFile, EffectSequenceReadsAsSparseV2) {
    TempDir dir;
    std::vector<uint8_t> bytes(20 + 3 * 300);
    memcpy(bytes.data(), "ESEQ", 4);
    tavo::write32(&bytes[8], 300);
    tavo::write32(&bytes[12], 1);
    tavo::write32(&bytes[16], 300);
    for (size_t i = 20; i < bytes.size(); i++) {
        bytes[i] = uint8_t(i);
    }
    std::string path = dir.file("e.eseq");
    writeBytes(path, bytes);
    std::unique_ptr<TAVOFile> f(TAVOFile::openTAVOFile(path));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->versionMajor, 2);
    EXPECT_EQ(f->numFrames, 3u);
    EXPECT_EQ(f->stepTime, 50);
    EXPECT_EQ(f->uniqueId, 0u);
    auto& v2 = dynamic_cast<V2TAVOFile&>(*f);
    EXPECT_EQ(v2.sparseRanges, (TAVOFile::ChannelRanges{{0, 300}}));
    Frames got = readSequence(*f, 300);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2][0], uint8_t(20 + 600));
}

TEST(TAVOFile, WriterCutsSparseRangesToTheChannelCount) {
    std::unique_ptr<TAVOFile> f(TAVOFile::createTAVOFile("-memory-", 2, TAVOFile::none, -1));
    ASSERT_TRUE(f);
    auto& v2 = dynamic_cast<V2TAVOFile&>(*f);
    f->channelCount = 30;
    f->numFrames = 1;
    v2.sparseRanges = {{0, 50}, {40, 5}};
    ASSERT_TRUE(f->writeHeader());
    EXPECT_EQ(v2.sparseRanges, (TAVOFile::ChannelRanges{{0, 30}}));
    EXPECT_EQ(f->channelCount, 30u);
}

TEST(TAVOFile, MemoryTargetHoldsTheWholeFile) {
    TempDir dir;
    Frames frames = makeFrames(500, 40);
    for (auto type : {TAVOFile::none, TAVOFile::zstd, TAVOFile::zlib}) {
        WriteSpec spec;
        spec.type = type;
        spec.minor = 2;
        spec.headers = {textHeader("mf", "x.mp3"), textHeader("FC", "cmd", true)};
        std::vector<uint8_t> memory;
        ASSERT_TRUE(writeSequence("-memory-", frames, 500, spec, &memory));
        ASSERT_TRUE(writeSequence(dir.file("disk.tavo"), frames, 500, spec));
        EXPECT_EQ(memory, readBytes(dir.file("disk.tavo")));
    }
}

TEST(TAVOFile, LargeHeadersGoExtendedFrom22AndAreRefusedBefore) {
    TempDir dir;
    Frames frames = makeFrames(64, 12);
    WriteSpec spec;
    spec.type = TAVOFile::zstd;
    spec.headers = {textHeader("mf", "song.mp3"), textHeader("FC", std::string(40000, 'a')),
                    textHeader("FE", std::string(30000, 'b'))};
    spec.minor = 2;
    std::string path = dir.file("ext.tavo");
    std::unique_ptr<TAVOFile> f = writeAndOpen(path, frames, 64, spec);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->variableHeaders.size(), 3u);
    EXPECT_FALSE(f->variableHeaders[0].extendedData);  // small enough to stay inline
    EXPECT_TRUE(f->variableHeaders[1].extendedData);
    EXPECT_TRUE(f->variableHeaders[2].extendedData);
    EXPECT_EQ(f->variableHeaders[1].data, spec.headers[1].data);
    EXPECT_EQ(f->variableHeaders[2].data, spec.headers[2].data);
    EXPECT_EQ(f->getMediaFilename(), "song.mp3");
    EXPECT_EQ(readSequence(*f, 64), frames);

    // The same headers do not fit a 2.0, 2.1 or version 1 header: refused, not wrapped.
    for (int minor : {0, 1}) {
        spec.minor = minor;
        EXPECT_FALSE(writeSequence("-memory-", frames, 64, spec)) << "2." << minor;
    }
    spec.major = 1;
    EXPECT_FALSE(writeSequence("-memory-", frames, 64, spec));
    // Version 1 writes extended headers inline: one larger than an inline header can be is refused.
    spec.headers = {textHeader("FC", std::string(70000, 'c'), true)};
    EXPECT_FALSE(writeSequence("-memory-", frames, 64, spec));
}

TEST(TAVOFile, InlineSizeThatRoundsPast16BitsIsNotWritten) {
    // 32 + 4 + data = 65,533 bytes, which rounds up to 65,536: the offset field cannot hold it.
    Frames frames = makeFrames(16, 2);
    for (uint32_t total : {65533u, 65534u}) {
        WriteSpec spec;
        spec.headers = {TAVOFile::VariableHeader("FC", std::vector<uint8_t>(total - 36, 'x'))};
        EXPECT_FALSE(writeSequence("-memory-", frames, 16, spec)) << total;
        spec.minor = 2;
        std::vector<uint8_t> memory;
        ASSERT_TRUE(writeSequence("-memory-", frames, 16, spec, &memory)) << total;
        EXPECT_LE(tavo::read16(&memory[4]), 65532u);
        EXPECT_EQ(tavo::read16(&memory[4]) % 4, 0u);
    }
}

TEST(TAVOFile, MoreRangesThanTheHeaderHoldsAreRefused) {
    WriteSpec spec;
    for (uint32_t i = 0; i < 256; i++) {
        spec.sparse.emplace_back(i * 2, 1);
    }
    EXPECT_FALSE(writeSequence("-memory-", makeFrames(600, 2), 600, spec));
    spec.sparse.pop_back();
    EXPECT_TRUE(writeSequence("-memory-", makeFrames(600, 2), 600, spec));
}

TEST(TAVOFile, TrailingFourByteHeaderIsRead) {
    // 28 + 4 = 32: the empty header ends exactly at the channel data.
    TempDir dir;
    WriteSpec spec;
    spec.major = 1;
    spec.headers = {TAVOFile::VariableHeader("xy", {})};
    std::string path = dir.file("a.tavo");
    std::unique_ptr<TAVOFile> f = writeAndOpen(path, makeFrames(8, 2), 8, spec);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->chanDataOffset, 32u);
    ASSERT_EQ(f->variableHeaders.size(), 1u);
    EXPECT_EQ(f->variableHeaders[0].code[0], 'x');
}

TEST(TAVOFile, BlockSizingRule) {
    struct Case {
        uint32_t frames, channels;
        int limit;
        uint32_t framesPerBlock, maxBlocks;
    };
    for (const Case& c : {Case{1000, 100, 255, 1000, 4}, Case{36000, 170000, 255, 142, 255}, Case{0, 100, 255, 10, 3},
                          Case{100000, 1000000, 4095, 25, 4003}}) {
        std::unique_ptr<TAVOFile> f(TAVOFile::createTAVOFile("-memory-", 2, TAVOFile::zstd, -99));
        f->numFrames = c.frames;
        f->channelCount = c.channels;
        auto& h = dynamic_cast<V2CompressedHandler&>(*dynamic_cast<V2TAVOFile&>(*f).handler);
        EXPECT_EQ(h.computeMaxBlocks(c.limit), c.maxBlocks) << c.frames << "x" << c.channels;
        EXPECT_EQ(h.framesPerBlock, c.framesPerBlock) << c.frames << "x" << c.channels;
    }
    EXPECT_EQ(V2ZSTDCompressionHandler::blockLevel(30, false), 2);
    EXPECT_EQ(V2ZSTDCompressionHandler::blockLevel(-99, false), 2);
    EXPECT_EQ(V2ZSTDCompressionHandler::blockLevel(7, false), 7);
    EXPECT_EQ(V2ZSTDCompressionHandler::blockLevel(7, true), -10);
    EXPECT_EQ(V2ZLIBCompressionHandler::blockLevel(12), 3);
    EXPECT_EQ(V2ZLIBCompressionHandler::blockLevel(9), 9);
}

TEST(TAVOFile, FirstBlockHoldsTenFrames) {
    TempDir dir;
    std::string path = dir.file("a.tavo");
    WriteSpec spec;
    spec.type = TAVOFile::zstd;
    Frames frames = makeFrames(100, 1000);
    std::unique_ptr<TAVOFile> f = writeAndOpen(path, frames, 100, spec);
    ASSERT_TRUE(f);
    auto& v2 = dynamic_cast<V2TAVOFile&>(*f);
    ASSERT_EQ(v2.frameOffsets.size(), 3u);  // two blocks and the sentinel
    EXPECT_EQ(v2.frameOffsets[0].first, 0u);
    EXPECT_EQ(v2.frameOffsets[1].first, 10u);
    // Starting in the middle reads the right frames too.
    f->prepareRead({}, 500);
    std::vector<uint8_t> buf(100);
    std::unique_ptr<TAVOFile::FrameData> d(f->getFrame(500));
    ASSERT_TRUE(d && d->readFrame(buf.data(), 100));
    EXPECT_EQ(buf, frames[500]);
}

TEST(TAVOFile, FramesHeldAcrossBlocksKeepTheirData) {
    // Compressed frames point into their decoded block; holding them while later blocks
    // decode (as the player's frame cache does) must not change what they hold.
    TempDir dir;
    Frames frames = makeFrames(2000, 400);
    for (auto type : {TAVOFile::zstd, TAVOFile::zlib}) {
        WriteSpec spec;
        spec.type = type;
        std::string path = dir.file("held.tavo");
        std::unique_ptr<TAVOFile> f = writeAndOpen(path, frames, 2000, spec);
        ASSERT_TRUE(f);
        ASSERT_GT(dynamic_cast<V2TAVOFile&>(*f).frameOffsets.size(), 5u);
        std::vector<std::unique_ptr<TAVOFile::FrameData>> held;
        std::vector<uint8_t> buf(2000);
        auto check = [&](size_t n) {
            for (size_t k = 0; k < n; k++) {
                ASSERT_TRUE(held[k]->readFrame(buf.data(), 2000));
                ASSERT_EQ(buf, frames[held[k]->frame]) << "frame " << held[k]->frame;
            }
            held.erase(held.begin(), held.begin() + n);
        };
        for (uint32_t i = 0; i < f->numFrames; i++) {
            held.emplace_back(f->getFrame(i));
            ASSERT_TRUE(held.back());
            if (held.size() > 60) {
                check(20);  // released in batches, like a cache
            }
        }
        f.reset();  // frames outlive their file
        check(held.size());
    }
}

TEST(TAVOFile, NoFramesWritesOneIndexEntry) {
    WriteSpec spec;
    spec.type = TAVOFile::zstd;
    std::vector<uint8_t> memory;
    ASSERT_TRUE(writeSequence("-memory-", {}, 100, spec, &memory));
    uint32_t offset = tavo::read16(&memory[4]);
    EXPECT_EQ(tavo::read32(&memory[32]), 0u);
    EXPECT_EQ(tavo::read32(&memory[36]), memory.size() - offset);
}

TEST(TAVOFile, CreateRefusesUnknownVersionAndUnwritablePath) {
    EXPECT_EQ(TAVOFile::createTAVOFile("-memory-", 3, TAVOFile::none, 0), nullptr);
    EXPECT_EQ(TAVOFile::createTAVOFile("/nonexistent-dir/x.tavo", 2, TAVOFile::none, 0), nullptr);
}

} // namespace
