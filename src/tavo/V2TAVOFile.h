#pragma once

#include <memory>

#include "TAVOFile.h"

class V2Handler;

// Version 2 (and effect sequences "ESEQ", read as 2.0): a header with a block index, sparse
// ranges and variable headers (inline or extended), then the frames, stored by a V2Handler
// either uncompressed or as zstd/zlib blocks.
class V2TAVOFile : public TAVOFile {
public:
    // For writing; the handler for the compression type is created at once.
    V2TAVOFile(const std::string& name, CompressionType type, int level);
    // For reading (see TAVOFile::openTAVOFile).
    V2TAVOFile(const std::string& name, FILE* f, const std::vector<uint8_t>& header);
    ~V2TAVOFile() override;

    // A sparse file always delivers its sparse ranges; otherwise the requested ranges (cut at
    // channelCount), or the whole frame when none are left. Starts the compressed read-ahead.
    void prepareRead(const ChannelRanges& ranges, uint32_t startFrame = 0) override;
    // Null for a frame at or past numFrames, or one that cannot be read (logged).
    FrameData* getFrame(uint32_t frame) override;
    // Minor version 1 and up allows 4095 compressed blocks, 2 and up extended variable headers.
    void enableMinorVersionFeatures(uint8_t minor) override;
    bool writeHeader() override;
    void addFrame(uint32_t frame, const uint8_t* data) override;
    bool finalize() override;
    void dumpInfo(bool indent) override;
    uint32_t getMaxChannel() const override;

    CompressionType compressionType = none;
    int compressionLevel = -99;  // passed to the compressed handler; -99 is the codec's default
    // Channels a frame holds, in order; the writer's user may fill it before writeHeader().
    ChannelRanges sparseRanges;
    ChannelRanges rangesToRead;
    // (first frame, file offset) per stored block; when read, ends with a sentinel
    // (frame after the last readable one, end of the blocks).
    std::vector<std::pair<uint64_t, uint64_t>> frameOffsets;
    uint32_t dataBlockSize = 0;  // bytes per frame the handler delivers
    bool allowExtendedBlocks = false;
    std::unique_ptr<V2Handler> handler;

private:
    void createHandler();
    void readBlockIndex(const std::vector<uint8_t>& header, uint32_t blockCount);

    friend class V2Handler;
};
