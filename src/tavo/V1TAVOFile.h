#pragma once

#include "TAVOFile.h"

// Version 1: a fixed 28-byte header, inline variable headers, then uncompressed frames of
// channelCount bytes back to back.
class V1TAVOFile : public TAVOFile {
public:
    // For writing.
    explicit V1TAVOFile(const std::string& name);
    // For reading (see TAVOFile::openTAVOFile).
    V1TAVOFile(const std::string& name, FILE* f, const std::vector<uint8_t>& header);

    void prepareRead(const ChannelRanges& ranges, uint32_t startFrame = 0) override;
    // Null when the frame cannot be read in full (logged).
    FrameData* getFrame(uint32_t frame) override;
    bool writeHeader() override;
    void addFrame(uint32_t frame, const uint8_t* data) override;
    uint32_t getMaxChannel() const override { return channelCount; }

    ChannelRanges rangesToRead;
    uint32_t dataBlockSize = 0;  // sum of the counts of rangesToRead
};
