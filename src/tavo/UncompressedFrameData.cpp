#include "UncompressedFrameData.h"

#include <cstring>

UncompressedFrameData::UncompressedFrameData(uint32_t f, uint32_t sz, const TAVOFile::ChannelRanges& r)
    : TAVOFile::FrameData(f), size(sz), data(new uint8_t[sz ? sz : 1]), ranges(r) {}

bool UncompressedFrameData::readFrame(uint8_t* buffer, uint32_t maxChannels) {
    if (!data || !buffer) {
        return false;
    }
    uint64_t pos = 0;
    for (const auto& [start, count] : ranges) {
        if (pos + count > size) {
            return false;
        }
        if (start < maxChannels) {
            uint32_t n = std::min<uint64_t>(count, uint64_t(maxChannels) - start);
            memcpy(buffer + start, data.get() + pos, n);
        }
        pos += count;
    }
    return true;
}
