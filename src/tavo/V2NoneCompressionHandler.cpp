#include "V2NoneCompressionHandler.h"

#include "UncompressedFrameData.h"
#include "V2TAVOFile.h"
#include "log.h"

TAVOFile::FrameData* V2NoneCompressionHandler::getFrame(uint32_t frame) {
    uint64_t frameStart = dataOffset + uint64_t(frame) * file->channelCount;
    auto* data = new UncompressedFrameData(frame, file->dataBlockSize, file->rangesToRead);
    if (file->seek(frameStart, SEEK_SET) != 0) {
        LogErr(kivlog::Sequence, "Failed to seek to proper offset for channel data! %llu\n", (unsigned long long)frameStart);
        delete data;
        return nullptr;
    }
    auto fail = [&](uint64_t want, uint64_t got) {
        LogErr(kivlog::Sequence, "Failed to read channel data!   Needed to read %d but read %d\n", (int)want, (int)got);
        delete data;
        return nullptr;
    };
    if (!file->sparseRanges.empty()) {
        uint64_t got = file->read(data->data.get(), file->dataBlockSize);
        if (got != file->dataBlockSize) {
            return fail(file->dataBlockSize, got);
        }
        return data;
    }
    uint32_t pos = 0;
    uint64_t filePos = frameStart;
    for (const auto& [start, count] : file->rangesToRead) {
        if (start >= file->channelCount) {
            continue;
        }
        if (filePos != frameStart + start) {
            filePos = frameStart + start;
            file->seek(filePos, SEEK_SET);
        }
        uint64_t got = file->read(data->data.get() + pos, count);
        if (got != count) {
            return fail(count, got);
        }
        pos += count;
        filePos += count;
    }
    return data;
}

void V2NoneCompressionHandler::addFrame(uint32_t frame, const uint8_t* data) {
    if (file->sparseRanges.empty()) {
        writeOrFail(data, file->channelCount);
        return;
    }
    for (const auto& [start, count] : file->sparseRanges) {
        writeOrFail(data + start, count);
    }
}

void V2NoneCompressionHandler::prepareRead(uint32_t startFrame) {
    if (startFrame < file->numFrames) {
        delete getFrame(startFrame);  // warms the cache for the first real read
    }
}
