#pragma once

#include "V2Handler.h"

// Frames stored uncompressed, back to back from the channel data offset; only the requested
// ranges are read.
class V2NoneCompressionHandler : public V2Handler {
public:
    explicit V2NoneCompressionHandler(V2TAVOFile* f) : V2Handler(f) {}

    uint8_t getCompressionType() override { return TAVOFile::none; }
    TAVOFile::FrameData* getFrame(uint32_t frame) override;
    void addFrame(uint32_t frame, const uint8_t* data) override;
    std::string GetType() const override { return "No Compression"; }
    void prepareRead(uint32_t startFrame) override;
};
