#include "UncompressedFrameData.h"

#include <algorithm>
#include <cstring>

UncompressedFrameData::UncompressedFrameData(uint32_t f, uint32_t sz, const TAVOFile::ChannelRanges& r)
    : TAVOFile::FrameData(f), size(sz), data(new uint8_t[sz ? sz : 1]), ranges(r) {}

UncompressedFrameData::UncompressedFrameData(uint32_t f, std::shared_ptr<const uint8_t[]> b, const uint8_t* v,
                                             uint32_t sz, const TAVOFile::ChannelRanges& r)
    : TAVOFile::FrameData(f), size(sz), ranges(r), block(std::move(b)), view(v) {}

bool UncompressedFrameData::readFrame(uint8_t* buffer, uint32_t maxChannels) {
    const uint8_t* src = bytes();
    if (!src || !buffer) {
        return false;
    }
    uint64_t pos = 0;
    for (const auto& [start, count] : ranges) {
        if (pos + count > size) {
            return false;
        }
        if (start < maxChannels) {
            uint32_t n = std::min<uint64_t>(count, uint64_t(maxChannels) - start);
            memcpy(buffer + start, src + pos, n);
        }
        pos += count;
    }
    return true;
}
