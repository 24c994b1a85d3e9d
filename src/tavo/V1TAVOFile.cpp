#include "V1TAVOFile.h"

#include <sys/stat.h>

#include "TAVOFormat.h"
#include "UncompressedFrameData.h"
#include "log.h"

using namespace tavo;

V1TAVOFile::V1TAVOFile(const std::string& name) : TAVOFile(name) {
    versionMajor = 1;
    versionMinor = 0;
}

V1TAVOFile::V1TAVOFile(const std::string& name, FILE* f, const std::vector<uint8_t>& header)
    : TAVOFile(name, f, header) {
    if (!headerValid) {
        return;
    }
    parseVariableHeaders(header, V1_HEADER_SIZE);
    struct stat st;
    if (fstat(fileno(f), &st) == 0) {
        uniqueId = (uint64_t)st.st_mtime;
    }
    uint64_t frames = channelCount ? (fileSize - std::min(fileSize, chanDataOffset)) / channelCount : numFrames;
    if (frames < numFrames) {
        LogWarn(kivlog::Sequence, "TAVO file (%s) holds %llu of its %u frames; the rest cannot be read\n",
                name.c_str(), (unsigned long long)frames, numFrames);
    }
}

void V1TAVOFile::prepareRead(const ChannelRanges& ranges, uint32_t startFrame) {
    rangesToRead = clipRanges(ranges, channelCount, &dataBlockSize);
    readPrepared = true;
    if (!rangesToRead.empty() && startFrame < numFrames) {
        delete getFrame(startFrame);  // warms the cache for the first real read
    }
}

TAVOFile::FrameData* V1TAVOFile::getFrame(uint32_t frame) {
    if (!readPrepared) {
        prepareRead({{0, channelCount}}, frame);
    }
    uint64_t frameStart = chanDataOffset + uint64_t(frame) * channelCount;
    auto* data = new UncompressedFrameData(frame, dataBlockSize, rangesToRead);
    if (seek(frameStart, SEEK_SET) != 0) {
        LogErr(kivlog::Sequence, "Failed to seek to proper offset for channel data for frame %d! %llu\n", frame,
               (unsigned long long)frameStart);
        delete data;
        return nullptr;
    }
    uint32_t pos = 0;
    uint64_t filePos = frameStart;
    for (const auto& [start, count] : rangesToRead) {
        if (filePos != frameStart + start) {
            filePos = frameStart + start;
            seek(filePos, SEEK_SET);
        }
        uint64_t got = read(data->data.get() + pos, count);
        if (got != count) {
            LogErr(kivlog::Sequence, "Failed to read channel data for frame %d!   Needed to read %d but read %d\n", frame,
                   (int)count, (int)got);
            delete data;
            return nullptr;
        }
        pos += count;
        filePos += count;
    }
    return data;
}

bool V1TAVOFile::writeHeader() {
    uint64_t size = V1_HEADER_SIZE;
    for (const auto& vh : variableHeaders) {
        if (vh.data.size() > MAX_INLINE_VAR_DATA) {
            LogErr(kivlog::Sequence, "Variable header '%c%c' holds %zu bytes; a version 1 file stores at most %u per header\n",
                   vh.code[0], vh.code[1], vh.data.size(), MAX_INLINE_VAR_DATA);
            return false;
        }
        size += vh.data.size() + VAR_HEADER_PREFIX_SIZE;
    }
    size = roundTo4(size);
    if (size > MAX_CHAN_DATA_OFFSET) {
        LogErr(kivlog::Sequence, "Variable headers need a %llu byte header; a version 1 header holds at most %u bytes\n",
               (unsigned long long)size, MAX_CHAN_DATA_OFFSET);
        return false;
    }
    chanDataOffset = size;

    std::vector<uint8_t> buf(size, 0);
    memcpy(&buf[OFFSET_IDENTIFIER], "PSEQ", 4);
    write16(&buf[OFFSET_CHAN_DATA_OFFSET], (uint32_t)size);
    buf[OFFSET_MINOR_VERSION] = (uint8_t)versionMinor;
    buf[OFFSET_MAJOR_VERSION] = (uint8_t)versionMajor;
    write16(&buf[OFFSET_VAR_HEADER_START], V1_HEADER_SIZE);
    write32(&buf[OFFSET_CHANNEL_COUNT], channelCount);
    write32(&buf[OFFSET_NUM_FRAMES], numFrames);
    buf[OFFSET_STEP_TIME] = (uint8_t)stepTime;
    buf[V1_OFFSET_RESERVED + 4] = 1;
    buf[V1_OFFSET_RESERVED + 5] = 2;
    uint32_t pos = V1_HEADER_SIZE;
    for (const auto& vh : variableHeaders) {
        pos = writeInlineVariableHeader(buf, pos, vh);
    }
    if (roundTo4(pos) != size) {
        LogErr(kivlog::Sequence,
               "Final write position (%d, roundTo4 = %d) does not match channel data offset (%d)! This means the header size failed to compute an accurate buffer size.\n",
               (int)pos, (int)roundTo4(pos), (int)size);
    }
    writeOrFail(buf.data(), buf.size());
    LogDebug(kivlog::Sequence, "Setup for writing v1 TAVO\n");
    dumpInfo(true);
    return !writeFailed;
}

void V1TAVOFile::addFrame(uint32_t frame, const uint8_t* data) { writeOrFail(data, channelCount); }
