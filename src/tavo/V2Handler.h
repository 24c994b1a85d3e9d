#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TAVOFile.h"

class V2TAVOFile;

// How a version 2 file stores its frames. A handler is either a writer (computeMaxBlocks,
// addFrame, finalize) or a reader (prepareRead, getFrame), never both.
class V2Handler {
public:
    explicit V2Handler(V2TAVOFile* f);
    virtual ~V2Handler() = default;

    virtual uint8_t getCompressionType() = 0;
    // Owned by the caller; null when the frame cannot be read.
    virtual TAVOFile::FrameData* getFrame(uint32_t frame) = 0;
    // Block index slots to reserve in the header (0 for uncompressed storage).
    virtual uint32_t computeMaxBlocks(int maxBlocks = 4095) { return 0; }
    virtual void addFrame(uint32_t frame, const uint8_t* data) = 0;
    virtual std::string GetType() const = 0;
    virtual void prepareRead(uint32_t startFrame) {}
    // Writes the data of extended variable headers after the frames and points their
    // header entries at it.
    virtual void finalize();

    V2TAVOFile* file;     // not owned
    uint64_t dataOffset;  // where the frames or blocks begin
    // Per variable header: file offset of its extended form's data-offset field, 0 when inline.
    std::vector<uint64_t> variableHeaderOffsets;

protected:
    void writeOrFail(const void* buf, uint64_t size);
    void markWriteFailed();
    // Descriptor of the file being read (-1 for the in-memory target), for pread.
    int fileDescriptor() const;
};
