#pragma once

#include <memory>

#include "TAVOFile.h"

// A frame's channel bytes with the ranges they belong to: the bytes hold ranges[0]'s channels,
// then ranges[1]'s, and so on.
class UncompressedFrameData : public TAVOFile::FrameData {
public:
    // The frame owns size bytes in data, to be filled by the reader.
    UncompressedFrameData(uint32_t frame, uint32_t size, const TAVOFile::ChannelRanges& ranges);
    // The frame's bytes are size bytes at view inside a decoded block that the frame keeps
    // alive (no copy); data stays null.
    UncompressedFrameData(uint32_t frame, std::shared_ptr<const uint8_t[]> block, const uint8_t* view, uint32_t size,
                          const TAVOFile::ChannelRanges& ranges);
    ~UncompressedFrameData() override = default;

    bool readFrame(uint8_t* buffer, uint32_t maxChannels) override;
    const uint8_t* bytes() const { return data ? data.get() : view; }

    uint32_t size;
    std::unique_ptr<uint8_t[]> data;
    TAVOFile::ChannelRanges ranges;

private:
    std::shared_ptr<const uint8_t[]> block;
    const uint8_t* view = nullptr;
};
