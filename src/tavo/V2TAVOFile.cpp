#include "V2TAVOFile.h"

#include <sys/time.h>

#include <algorithm>
#include <exception>

#include "TAVOFormat.h"
#include "V2Handler.h"
#include "V2NoneCompressionHandler.h"
#include "V2ZLIBCompressionHandler.h"
#include "V2ZSTDCompressionHandler.h"
#include "log.h"

using namespace tavo;

V2TAVOFile::V2TAVOFile(const std::string& name, CompressionType type, int level)
    : TAVOFile(name), compressionType(type), compressionLevel(level) {
    versionMajor = 2;
    versionMinor = 0;
    createHandler();
}

V2TAVOFile::V2TAVOFile(const std::string& name, FILE* f, const std::vector<uint8_t>& header)
    : TAVOFile(name, f, header) {
    if (!headerValid) {
        return;
    }
    if (versionMajor == 2 && versionMinor > 2) {
        LogErr(kivlog::Sequence, "Unknown minor version: %d.  TAVO may not load properly.\n", versionMinor);
    }
    allowExtendedBlocks = versionMinor != 0;
    if (!memcmp(header.data(), "ESEQ", 4)) {
        compressionType = none;
        uint32_t startChannel = read32(&header[ESEQ_OFFSET_START_CHANNEL]);
        sparseRanges.emplace_back(startChannel ? startChannel - 1 : 0, read32(&header[ESEQ_OFFSET_MODEL_CHANNELS]));
        frameOffsets.emplace_back(0, chanDataOffset);
        frameOffsets.emplace_back(uint64_t(numFrames) + 2, fileSize);
        createHandler();
        return;
    }

    int type = header[V2_OFFSET_COMPRESSION] & 0x0F;
    uint32_t blockCount = (header[V2_OFFSET_COMPRESSION] >> 4) * 256 + header[V2_OFFSET_BLOCK_COUNT];
    if (type == zstd || type == zlib) {
        compressionType = (CompressionType)type;
    } else {
        if (type != none) {
            LogErr(kivlog::Sequence, "Unknown compression type: %d\n", type);
        }
        compressionType = none;
    }
    uint64_t readIndex = V2_OFFSET_BLOCK_INDEX + uint64_t(BLOCK_INDEX_ENTRY_SIZE) * blockCount;
    uint32_t rangeCount = header[V2_OFFSET_RANGE_COUNT];
    uint64_t rangesEnd = readIndex + uint64_t(SPARSE_RANGE_SIZE) * rangeCount;
    if (rangesEnd > header.size()) {
        LogErr(kivlog::Sequence, "TAVO file (%s): %u block index entries and %u sparse ranges do not fit its %d byte header\n",
               name.c_str(), blockCount, rangeCount, (int)header.size());
        headerValid = false;
        return;
    }
    readBlockIndex(header, blockCount);

    uint64_t sparseSum = 0;
    for (uint32_t i = 0; i < rangeCount; i++) {
        const uint8_t* p = &header[readIndex + uint64_t(SPARSE_RANGE_SIZE) * i];
        sparseRanges.emplace_back(read24(p), read24(p + 3));
        sparseSum += read24(p + 3);
    }
    readIndex = rangesEnd;
    if (sparseSum > channelCount) {
        LogErr(kivlog::Sequence, "TAVO file (%s): sparse ranges hold %llu channels but a frame only %u\n", name.c_str(),
               (unsigned long long)sparseSum, channelCount);
        headerValid = false;
        return;
    }
    if (readIndex != read16(&header[OFFSET_VAR_HEADER_START])) {
        LogErr(kivlog::Sequence, "Read position (%d) does not match expected header size %d!\n", (int)readIndex,
               (int)read16(&header[OFFSET_VAR_HEADER_START]));
    }
    uniqueId = read64(&header[V2_OFFSET_UNIQUE_ID]);
    parseVariableHeaders(header, (int)readIndex);
    createHandler();

    if (compressionType == none && channelCount) {
        uint64_t frames = (fileSize - std::min(fileSize, chanDataOffset)) / channelCount;
        if (frames < numFrames) {
            LogWarn(kivlog::Sequence, "TAVO file (%s) holds %llu of its %u frames; the rest cannot be read\n",
                    name.c_str(), (unsigned long long)frames, numFrames);
        }
    }
}

// Blocks lie back to back from the channel data offset. The index comes from other programs
// and damaged storage, so a block that runs past the end of the file, or whose first frame is
// not after the previous block's, ends the usable index: the frames from there on read as null.
void V2TAVOFile::readBlockIndex(const std::vector<uint8_t>& header, uint32_t blockCount) {
    uint64_t offset = chanDataOffset;
    uint64_t endFrame = uint64_t(numFrames) + 2;  // 64 bits: numFrames + 2 must not wrap
    // Where the last usable block ends when the entry with this first frame is unusable.
    auto endOfIndex = [&](uint32_t firstFrame) -> uint64_t {
        if (frameOffsets.empty()) {
            return 0;
        }
        return firstFrame > frameOffsets.back().first ? std::min<uint64_t>(firstFrame, endFrame) : endFrame;
    };
    if (compressionType != none) {
        for (uint32_t i = 0; i < blockCount; i++) {
            const uint8_t* p = &header[V2_OFFSET_BLOCK_INDEX + BLOCK_INDEX_ENTRY_SIZE * i];
            uint32_t firstFrame = read32(p);
            uint32_t size = read32(p + 4);
            if (size == 0) {
                continue;
            }
            if (offset + size > fileSize) {
                LogErr(kivlog::Sequence, "TAVO file (%s): block %u (%u bytes at %llu) runs past the end of the file (%llu bytes); frames from %u on cannot be read\n",
                       filename.c_str(), i, size, (unsigned long long)offset, (unsigned long long)fileSize, firstFrame);
                endFrame = endOfIndex(firstFrame);
                break;
            }
            if ((frameOffsets.empty() && firstFrame != 0) ||
                (!frameOffsets.empty() && firstFrame <= frameOffsets.back().first) || firstFrame >= numFrames) {
                LogErr(kivlog::Sequence, "TAVO file (%s): block %u starts at frame %u, out of order; frames from there on cannot be read\n",
                       filename.c_str(), i, firstFrame);
                endFrame = endOfIndex(firstFrame);
                break;
            }
            frameOffsets.emplace_back(firstFrame, offset);
            offset += size;
            if (frameOffsets.size() == 1) {
                preload(chanDataOffset, size);
            }
        }
    }
    if (compressionType == none) {
        frameOffsets.emplace_back(0, chanDataOffset);
        offset = fileSize;
    } else if (frameOffsets.empty()) {
        LogErr(kivlog::Sequence, "TAVO file corrupt: did not load any block references from header.\n");
        frameOffsets.emplace_back(0, chanDataOffset);
        if (blockCount == 0) {
            offset = fileSize;
        }
    }
    frameOffsets.emplace_back(endFrame, offset);
}

V2TAVOFile::~V2TAVOFile() = default;

void V2TAVOFile::createHandler() {
    switch (compressionType) {
    case zstd:
        handler = std::make_unique<V2ZSTDCompressionHandler>(this);
        break;
    case zlib:
        handler = std::make_unique<V2ZLIBCompressionHandler>(this);
        break;
    case none:
        handler = std::make_unique<V2NoneCompressionHandler>(this);
        break;
    default:
        if (!handler) {
            LogDebug(kivlog::Sequence, "Creating a default none compression handler. %d\n", (int)compressionType);
            handler = std::make_unique<V2NoneCompressionHandler>(this);
        }
        break;
    }
}

uint32_t V2TAVOFile::getMaxChannel() const {
    uint64_t m = channelCount;
    for (const auto& [start, count] : sparseRanges) {
        m = std::max<uint64_t>(m, uint64_t(start) + count);
    }
    return (uint32_t)std::min<uint64_t>(m, UINT32_MAX);
}

void V2TAVOFile::prepareRead(const ChannelRanges& ranges, uint32_t startFrame) {
    if (!sparseRanges.empty()) {
        rangesToRead = sparseRanges;
        dataBlockSize = channelCount;
    } else {
        rangesToRead = clipRanges(ranges, channelCount, &dataBlockSize);
        if (rangesToRead.empty()) {
            rangesToRead = {{0, getMaxChannel()}};
            dataBlockSize = getMaxChannel();
        }
    }
    readPrepared = true;
    if (handler) {
        handler->prepareRead(startFrame);
    }
}

TAVOFile::FrameData* V2TAVOFile::getFrame(uint32_t frame) {
    if (!readPrepared) {
        prepareRead({{0, getMaxChannel()}}, frame);
    }
    if (frame >= numFrames || !handler) {
        return nullptr;
    }
    try {
        return handler->getFrame(frame);
    } catch (const std::exception&) {
        LogErr(kivlog::Sequence, "Error getting frame from handler %s.\n", handler->GetType().c_str());
    } catch (...) {
        LogErr(kivlog::Sequence, "Error getting frame from handler %s.\n", handler->GetType().c_str());
    }
    return nullptr;
}

void V2TAVOFile::enableMinorVersionFeatures(uint8_t minor) {
    versionMinor = minor;
    allowExtendedBlocks = minor != 0;
}

bool V2TAVOFile::writeHeader() {
    if (!sparseRanges.empty()) {
        uint32_t sum = 0;
        ChannelRanges kept = clipRanges(sparseRanges, channelCount, &sum);
        sparseRanges = kept;
        if (!kept.empty()) {
            channelCount = sum;
        }
    }
    if (sparseRanges.size() > MAX_SPARSE_RANGES) {
        LogErr(kivlog::Sequence, "Cannot write %s: %zu sparse ranges, the header holds at most %u\n", filename.c_str(),
               sparseRanges.size(), MAX_SPARSE_RANGES);
        return false;
    }
    for (const auto& [start, count] : sparseRanges) {
        if (start > MAX_RANGE_FIELD || count > MAX_RANGE_FIELD) {
            LogErr(kivlog::Sequence, "Cannot write %s: sparse range (%u, %u) does not fit the header's 24-bit fields\n",
                   filename.c_str(), start, count);
            return false;
        }
    }

    uint32_t blocks = handler->computeMaxBlocks(allowExtendedBlocks ? MAX_BLOCKS : MAX_BLOCKS_MINOR_0);
    uint64_t varStart = V2_OFFSET_BLOCK_INDEX + uint64_t(BLOCK_INDEX_ENTRY_SIZE) * blocks + SPARSE_RANGE_SIZE * sparseRanges.size();

    // Inline unless that would not fit the 16-bit channel data offset; 2.2 and later can then
    // move the larger headers after the frames.
    uint64_t inlineSize = varStart;
    for (const auto& vh : variableHeaders) {
        inlineSize += vh.extendedData ? EXTENDED_VAR_HEADER_SIZE : vh.data.size() + VAR_HEADER_PREFIX_SIZE;
    }
    bool allInline = versionMinor < 2 || roundTo4(inlineSize) <= MAX_CHAN_DATA_OFFSET;
    std::vector<bool> extended(variableHeaders.size());
    uint64_t size = varStart;
    for (size_t i = 0; i < variableHeaders.size(); i++) {
        const auto& vh = variableHeaders[i];
        uint64_t inlineLen = vh.data.size() + VAR_HEADER_PREFIX_SIZE;
        extended[i] = vh.extendedData || (!allInline && inlineLen > EXTENDED_VAR_HEADER_SIZE);
        if (extended[i] && vh.data.size() > UINT32_MAX) {
            LogErr(kivlog::Sequence, "Cannot write %s: variable header '%c%c' is larger than 4 GB\n", filename.c_str(),
                   vh.code[0], vh.code[1]);
            return false;
        }
        if (!extended[i] && vh.data.size() > MAX_INLINE_VAR_DATA) {
            LogErr(kivlog::Sequence, "Cannot write %s: variable header '%c%c' holds %zu bytes, an inline header at most %u (use version 2.2)\n",
                   filename.c_str(), vh.code[0], vh.code[1], vh.data.size(), MAX_INLINE_VAR_DATA);
            return false;
        }
        size += extended[i] ? EXTENDED_VAR_HEADER_SIZE : inlineLen;
    }
    if (roundTo4(size) > MAX_CHAN_DATA_OFFSET) {
        LogErr(kivlog::Sequence, "Cannot write %s: the header would take %llu bytes, more than the %u a channel data offset can point past\n",
               filename.c_str(), (unsigned long long)roundTo4(size), MAX_CHAN_DATA_OFFSET);
        return false;
    }
    chanDataOffset = roundTo4(size);

    if (uniqueId == 0) {
        struct timeval tv;
        gettimeofday(&tv, nullptr);
        uniqueId = uint64_t(tv.tv_sec) * 1000000 + tv.tv_usec;
    }
    std::vector<uint8_t> buf(chanDataOffset, 0);
    memcpy(&buf[OFFSET_IDENTIFIER], "PSEQ", 4);
    write16(&buf[OFFSET_CHAN_DATA_OFFSET], (uint32_t)chanDataOffset);
    buf[OFFSET_MINOR_VERSION] = (uint8_t)versionMinor;
    buf[OFFSET_MAJOR_VERSION] = (uint8_t)versionMajor;
    write16(&buf[OFFSET_VAR_HEADER_START], (uint32_t)varStart);
    write32(&buf[OFFSET_CHANNEL_COUNT], channelCount);
    write32(&buf[OFFSET_NUM_FRAMES], numFrames);
    buf[OFFSET_STEP_TIME] = (uint8_t)stepTime;
    buf[V2_OFFSET_COMPRESSION] = uint8_t(handler->getCompressionType() | ((blocks >> 4) & 0xF0));
    buf[V2_OFFSET_BLOCK_COUNT] = uint8_t(blocks & 0xFF);
    buf[V2_OFFSET_RANGE_COUNT] = (uint8_t)sparseRanges.size();
    write64(&buf[V2_OFFSET_UNIQUE_ID], uniqueId);

    uint32_t pos = V2_OFFSET_BLOCK_INDEX + BLOCK_INDEX_ENTRY_SIZE * blocks;
    for (const auto& [start, count] : sparseRanges) {
        write24(&buf[pos], start);
        write24(&buf[pos + 3], count);
        pos += SPARSE_RANGE_SIZE;
    }
    handler->variableHeaderOffsets.assign(variableHeaders.size(), 0);
    for (size_t i = 0; i < variableHeaders.size(); i++) {
        const auto& vh = variableHeaders[i];
        if (!extended[i]) {
            pos = writeInlineVariableHeader(buf, pos, vh);
            continue;
        }
        write16(&buf[pos], EXTENDED_VAR_HEADER_SIZE);
        buf[pos + 2] = 'E';
        buf[pos + 3] = 'D';
        buf[pos + EXTENDED_OFFSET_CODE] = (uint8_t)vh.code[0];
        buf[pos + EXTENDED_OFFSET_CODE + 1] = (uint8_t)vh.code[1];
        write32(&buf[pos + EXTENDED_OFFSET_DATA_LENGTH], (uint32_t)vh.data.size());
        handler->variableHeaderOffsets[i] = pos + EXTENDED_OFFSET_DATA_OFFSET;
        pos += EXTENDED_VAR_HEADER_SIZE;
    }
    if (roundTo4(pos) != chanDataOffset) {
        LogErr(kivlog::Sequence,
               "Final write position (%d, roundTo4 = %d) does not match channel data offset (%d)! This means the header size failed to compute an accurate buffer size.\n",
               (int)pos, (int)roundTo4(pos), (int)chanDataOffset);
    }
    writeOrFail(buf.data(), buf.size());
    LogDebug(kivlog::Sequence, "Setup for writing v2 TAVO\n");
    dumpInfo(true);
    return !writeFailed;
}

void V2TAVOFile::addFrame(uint32_t frame, const uint8_t* data) { handler->addFrame(frame, data); }

bool V2TAVOFile::finalize() {
    handler->finalize();
    return TAVOFile::finalize();
}

void V2TAVOFile::dumpInfo(bool indent) {
    TAVOFile::dumpInfo(indent);
    const char* i = indent ? "    " : "";
    LogDebug(kivlog::Sequence, "%sSequence File Information\n", i);
    LogDebug(kivlog::Sequence, "%scompressionType       : %d\n", i, (int)compressionType);
    LogDebug(kivlog::Sequence, "%snumBlocks             : %d\n", i, handler ? (int)handler->computeMaxBlocks(MAX_BLOCKS_MINOR_0) : 0);
    LogDebug(kivlog::Sequence, "%snumRanges             : %d\n", i, (int)sparseRanges.size());
}
