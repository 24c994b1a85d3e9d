#pragma once

#include <memory>

#include "TAVOFile.h"

// A frame's channel bytes with the ranges they belong to: data holds ranges[0]'s channels,
// then ranges[1]'s, and so on.
class UncompressedFrameData : public TAVOFile::FrameData {
public:
    UncompressedFrameData(uint32_t frame, uint32_t size, const TAVOFile::ChannelRanges& ranges);
    ~UncompressedFrameData() override = default;

    bool readFrame(uint8_t* buffer, uint32_t maxChannels) override;

    uint32_t size;
    std::unique_ptr<uint8_t[]> data;
    TAVOFile::ChannelRanges ranges;
};
