#include "TAVOFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "TAVOFormat.h"
#include "V1TAVOFile.h"
#include "V2TAVOFile.h"
#include "log.h"

using namespace tavo;

static const char* MEMORY_TARGET = "-memory-";

void logTAVOHexDump(const char* title, const uint8_t* data, size_t size) {
    LogInfo(kivlog::General, "%s: (%d bytes)\n", title, (int)size);
    for (size_t off = 0; off < size; off += 16) {
        char line[16 * 3 + 16];
        int n = snprintf(line, sizeof(line), "%06x: ", (unsigned)off);
        for (size_t i = off; i < size && i < off + 16; i++) {
            n += snprintf(line + n, sizeof(line) - n, "%02x ", data[i]);
        }
        LogInfo(kivlog::General, "%s\n", line);
    }
}

TAVOFile::TAVOFile(const std::string& name) : filename(name) {
    if (name == MEMORY_TARGET) {
        memoryTarget = true;
        memoryBuffer.reserve(WRITE_BUFFER_SIZE);
        return;
    }
    file = fopen(name.c_str(), "wb");
    if (!file) {
        LogErr(kivlog::Sequence, "Error creating TAVO file (%s): %s\n", name.c_str(), strerror(errno));
        return;
    }
    setvbuf(file, nullptr, _IOFBF, WRITE_BUFFER_SIZE);
}

TAVOFile::TAVOFile(const std::string& name, FILE* f, const std::vector<uint8_t>& header) : filename(name), file(f) {
    seek(0, SEEK_END);
    fileSize = tell();
    seek(0, SEEK_SET);
    chanDataOffset = header.size();
    if (!memcmp(header.data(), "ESEQ", 4)) {
        // openTAVOFile guarantees the 20 bytes of the effect header.
        versionMajor = 2;
        versionMinor = 0;
        channelCount = read32(&header[ESEQ_OFFSET_CHANNEL_COUNT]);
        stepTime = ESEQ_STEP_TIME;
        numFrames = channelCount ? uint32_t(std::min<uint64_t>((fileSize - ESEQ_HEADER_SIZE) / channelCount, UINT32_MAX)) : 0;
    } else {
        versionMinor = header[OFFSET_MINOR_VERSION];
        versionMajor = header[OFFSET_MAJOR_VERSION];
        channelCount = read32(&header[OFFSET_CHANNEL_COUNT]);
        numFrames = read32(&header[OFFSET_NUM_FRAMES]);
        stepTime = header[OFFSET_STEP_TIME];
    }
    if (channelCount > MAX_READ_CHANNEL_COUNT) {
        LogErr(kivlog::Sequence, "TAVO file (%s) claims %u channels per frame, more than the %u this reader handles\n",
               name.c_str(), channelCount, MAX_READ_CHANNEL_COUNT);
        headerValid = false;
    }
}

TAVOFile::~TAVOFile() {
    if (file) {
        fclose(file);
    }
}

TAVOFile* TAVOFile::openTAVOFile(const std::string& filename) {
    FILE* f = fopen(filename.c_str(), "rb");
    if (!f) {
        LogErr(kivlog::Sequence, "Error pre-reading TAVO file (%s), fopen returned NULL\n", filename.c_str());
        return nullptr;
    }
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        LogErr(kivlog::Sequence, "Error pre-reading TAVO file (%s), not a regular file\n", filename.c_str());
        fclose(f);
        return nullptr;
    }

    uint8_t peek[PEEK_SIZE];
    size_t got = fread(peek, 1, PEEK_SIZE, f);
    posix_fadvise(fileno(f), 0, 0, POSIX_FADV_SEQUENTIAL);
    posix_fadvise(fileno(f), 0, PRELOAD_SIZE, POSIX_FADV_WILLNEED);
    if (got < PEEK_SIZE) {
        LogErr(kivlog::Sequence, "Error pre-reading TAVO file (%s) header, required %d bytes but read %d\n",
               filename.c_str(), (int)PEEK_SIZE, (int)got);
        logTAVOHexDump("File hader peek:", peek, got);
        fclose(f);
        return nullptr;
    }
    bool effect = !memcmp(peek, "ESEQ", 4);
    if (!effect && memcmp(peek, "PSEQ", 4) && memcmp(peek, "TAVO", 4)) {
        LogErr(kivlog::Sequence, "Error pre-reading TAVO file (%s) header, invalid identifier\n", filename.c_str());
        logTAVOHexDump("File header peek:", peek, PEEK_SIZE);
        fclose(f);
        return nullptr;
    }

    uint32_t headerSize = effect ? ESEQ_HEADER_SIZE : read16(&peek[OFFSET_CHAN_DATA_OFFSET]);
    int major = effect ? 2 : peek[OFFSET_MAJOR_VERSION];
    int minor = effect ? 0 : peek[OFFSET_MINOR_VERSION];

    std::vector<uint8_t> header(headerSize);
    fseeko(f, 0, SEEK_SET);
    got = fread(header.data(), 1, headerSize, f);
    if (got != headerSize) {
        LogErr(kivlog::Sequence, "Error reading TAVO file (%s) header, length is %d bytes but read %d\n",
               filename.c_str(), (int)headerSize, (int)got);
        logTAVOHexDump("File header:", header.data(), got);
        fclose(f);
        return nullptr;
    }
    // The fixed fields must lie inside the header the file declares, or they are not the header's.
    uint32_t fixedSize = effect ? ESEQ_HEADER_SIZE : (major == 1 ? OFFSET_STEP_TIME + 2 : V2_FIXED_HEADER_SIZE);
    if ((major == 1 || major == 2) && headerSize < fixedSize) {
        LogErr(kivlog::Sequence, "Error reading TAVO file (%s) header, length %d is shorter than the %d fixed bytes of version %d\n",
               filename.c_str(), (int)headerSize, (int)fixedSize, major);
        logTAVOHexDump("File header:", header.data(), got);
        fclose(f);
        return nullptr;
    }

    TAVOFile* seq = nullptr;
    if (major == 1) {
        seq = new V1TAVOFile(filename, f, header);
    } else if (major == 2) {
        seq = new V2TAVOFile(filename, f, header);
    } else {
        LogErr(kivlog::Sequence, "Error opening TAVO file (%s), unknown version %d.%d\n", filename.c_str(), major, minor);
        logTAVOHexDump("File header:", header.data(), header.size());
        fclose(f);
        return nullptr;
    }
    if (!seq->headerValid) {
        LogErr(kivlog::Sequence, "Error opening TAVO file (%s), damaged header\n", filename.c_str());
        delete seq;
        return nullptr;
    }
    seq->dumpInfo(false);
    return seq;
}

TAVOFile* TAVOFile::createTAVOFile(const std::string& filename, int version, CompressionType type, int level) {
    TAVOFile* seq = nullptr;
    if (version == 1) {
        seq = new V1TAVOFile(filename);
    } else if (version == 2) {
        seq = new V2TAVOFile(filename, type, level);
    } else {
        LogErr(kivlog::Sequence, "Error creating TAVO file (%s), unknown version %d\n", filename.c_str(), version);
        return nullptr;
    }
    if (!seq->memoryTarget && !seq->file) {
        delete seq;
        return nullptr;
    }
    return seq;
}

std::string TAVOFile::getMediaFilename(const std::string& filename) {
    TAVOFile* seq = openTAVOFile(filename);
    if (!seq) {
        return "";
    }
    std::string media = seq->getMediaFilename();
    delete seq;
    return media;
}

std::string TAVOFile::getMediaFilename() const {
    for (const auto& vh : variableHeaders) {
        if (vh.code[0] == 'm' && vh.code[1] == 'f') {
            auto end = std::find(vh.data.begin(), vh.data.end(), 0);
            return std::string(vh.data.begin(), end);
        }
    }
    return "";
}

int TAVOFile::seek(uint64_t offset, int whence) {
    if (!memoryTarget) {
        return file ? fseeko(file, (off_t)offset, whence) : -1;
    }
    switch (whence) {
    case SEEK_SET:
        memoryBufferPos = offset;
        break;
    case SEEK_CUR:
        memoryBufferPos += (int64_t)offset;
        break;
    case SEEK_END:
        memoryBufferPos = memoryBuffer.size() + (int64_t)offset;
        break;
    default:
        return -1;
    }
    return 0;
}

uint64_t TAVOFile::tell() {
    if (memoryTarget) {
        return memoryBufferPos;
    }
    return file ? (uint64_t)ftello(file) : 0;
}

uint64_t TAVOFile::read(void* buffer, uint64_t size) {
    if (!memoryTarget) {
        return file ? fread(buffer, 1, size, file) : 0;
    }
    if (memoryBufferPos >= memoryBuffer.size()) {
        return 0;
    }
    uint64_t n = std::min<uint64_t>(size, memoryBuffer.size() - memoryBufferPos);
    memcpy(buffer, memoryBuffer.data() + memoryBufferPos, n);
    memoryBufferPos += n;
    return n;
}

uint64_t TAVOFile::write(const void* buffer, uint64_t size) {
    if (!memoryTarget) {
        return file ? fwrite(buffer, 1, size, file) : 0;
    }
    if (memoryBufferPos + size > memoryBuffer.size()) {
        memoryBuffer.resize(memoryBufferPos + size);
    }
    memcpy(memoryBuffer.data() + memoryBufferPos, buffer, size);
    memoryBufferPos += size;
    return size;
}

void TAVOFile::writeOrFail(const void* buf, uint64_t size) {
    if (size && write(buf, size) != size) {
        if (!writeFailed) {
            LogErr(kivlog::Sequence, "Error writing TAVO file (%s): %s\n", filename.c_str(), strerror(errno));
        }
        writeFailed = true;
    }
}

void TAVOFile::preload(uint64_t offset, uint64_t size) {
    if (file) {
        posix_fadvise(fileno(file), (off_t)offset, (off_t)size, POSIX_FADV_WILLNEED);
    }
}

bool TAVOFile::finalize() {
    if (file && fflush(file) != 0) {
        LogErr(kivlog::Sequence, "Error writing TAVO file (%s): %s\n", filename.c_str(), strerror(errno));
        writeFailed = true;
    }
    return !writeFailed;
}

void TAVOFile::initializeFromTAVO(const TAVOFile& other) {
    channelCount = other.channelCount;
    numFrames = other.numFrames;
    stepTime = other.stepTime;
    variableHeaders = other.variableHeaders;
    uniqueId = other.uniqueId;
    if (other.versionMajor >= 2) {
        channelCount = std::max(channelCount, other.getMaxChannel());
    }
}

void TAVOFile::dumpInfo(bool indent) {
    const char* i = indent ? "    " : "";
    LogDebug(kivlog::Sequence, "%sSequence File Information\n", i);
    LogDebug(kivlog::Sequence, "%sseqFilename           : %s\n", i, filename.c_str());
    LogDebug(kivlog::Sequence, "%sseqVersion            : %d.%d\n", i, versionMajor, versionMinor);
    LogDebug(kivlog::Sequence, "%sseqChanDataOffset     : %d\n", i, (int)chanDataOffset);
    LogDebug(kivlog::Sequence, "%sseqChannelCount       : %d\n", i, (int)channelCount);
    LogDebug(kivlog::Sequence, "%sseqNumPeriods         : %d\n", i, (int)numFrames);
    LogDebug(kivlog::Sequence, "%sseqStepTime           : %dms\n", i, stepTime);
}

static bool isCode(const char* code, const char* want) { return code[0] == want[0] && code[1] == want[1]; }

void TAVOFile::parseVariableHeaders(const std::vector<uint8_t>& header, int readIndex) {
    const uint64_t len = header.size();
    uint64_t ri = readIndex < 0 ? len : (uint64_t)readIndex;
    // "<=": a header of exactly 4 bytes may end at the end of the header.
    while (ri + VAR_HEADER_PREFIX_SIZE <= len) {
        uint32_t hlen = read16(&header[ri]);
        char code[2] = {(char)header[ri + 2], (char)header[ri + 3]};
        if (hlen == 0 && code[0] == 0 && code[1] == 0) {
            break;  // zero padding up to the channel data
        }
        if (hlen <= VAR_HEADER_PREFIX_SIZE) {
            LogInfo(kivlog::Sequence, "VariableHeader has 0 length data: %c%c\n", code[0], code[1]);
            variableHeaders.emplace_back(code, std::vector<uint8_t>());
            ri += VAR_HEADER_PREFIX_SIZE;
            continue;
        }
        if (isCode(code, "ED")) {
            if (ri + EXTENDED_VAR_HEADER_SIZE > len) {
                LogErr(kivlog::Sequence, "Extended VariableHeader at %d runs past the header end (%d bytes)\n", (int)ri, (int)len);
                break;
            }
            char realCode[2] = {(char)header[ri + EXTENDED_OFFSET_CODE], (char)header[ri + EXTENDED_OFFSET_CODE + 1]};
            uint64_t offset = read64(&header[ri + EXTENDED_OFFSET_DATA_OFFSET]);
            uint32_t dlen = read32(&header[ri + EXTENDED_OFFSET_DATA_LENGTH]);
            ri += EXTENDED_VAR_HEADER_SIZE;
            if (offset > fileSize || dlen > fileSize - offset) {
                LogErr(kivlog::Sequence, "Extended VariableHeader '%c%c' data (%u bytes at %llu) lies outside the file (%llu bytes), skipped\n",
                       realCode[0], realCode[1], dlen, (unsigned long long)offset, (unsigned long long)fileSize);
                continue;
            }
            std::vector<uint8_t> data(dlen);
            uint64_t pos = tell();
            bool ok = seek(offset, SEEK_SET) == 0 && read(data.data(), dlen) == dlen;
            seek(pos, SEEK_SET);
            if (!ok) {
                LogErr(kivlog::Sequence, "Could not read extended VariableHeader '%c%c' data, skipped\n", realCode[0], realCode[1]);
                continue;
            }
            LogDebug(kivlog::Sequence, "Read VariableHeader: %c%c, length: %d bytes\n", realCode[0], realCode[1], (int)dlen);
            variableHeaders.emplace_back(realCode, std::move(data), true);
            continue;
        }
        if (ri + hlen > len) {
            LogErr(kivlog::Sequence, "VariableHeader '%c%c' has out of bounds data length: %d bytes, max length: %d bytes\n",
                   code[0], code[1], (int)(ri + hlen + 4), (int)len);
            break;
        }
        std::vector<uint8_t> data(header.begin() + ri + VAR_HEADER_PREFIX_SIZE, header.begin() + ri + hlen);
        bool text = isCode(code, "mf") || isCode(code, "sp");
        if (text && data.back() != 0) {
            LogErr(kivlog::Sequence, "VariableHeader %c%c data is not NULL terminated!\n", code[0], code[1]);
        }
        if (!text && !isCode(code, "FC") && !isCode(code, "FE")) {
            LogDebug(kivlog::Sequence, "Unrecognized VariableHeader code: %c%c, length: %d bytes\n", code[0], code[1], (int)hlen);
        }
        LogDebug(kivlog::Sequence, "Read VariableHeader: %c%c, length: %d bytes\n", code[0], code[1], (int)hlen);
        variableHeaders.emplace_back(code, std::move(data));
        ri += hlen;
    }
}

uint32_t TAVOFile::writeInlineVariableHeader(std::vector<uint8_t>& buf, uint32_t pos, const VariableHeader& vh) {
    write16(&buf[pos], uint32_t(vh.data.size() + VAR_HEADER_PREFIX_SIZE));
    buf[pos + 2] = (uint8_t)vh.code[0];
    buf[pos + 3] = (uint8_t)vh.code[1];
    if (!vh.data.empty()) {
        memcpy(&buf[pos + VAR_HEADER_PREFIX_SIZE], vh.data.data(), vh.data.size());
    }
    return pos + VAR_HEADER_PREFIX_SIZE + (uint32_t)vh.data.size();
}

TAVOFile::ChannelRanges TAVOFile::clipRanges(const ChannelRanges& ranges, uint32_t limit, uint32_t* total) {
    ChannelRanges out;
    uint64_t sum = 0;
    for (const auto& [start, count] : ranges) {
        if (start >= limit || count == 0) {
            continue;
        }
        uint32_t n = (uint32_t)std::min<uint64_t>(count, uint64_t(limit) - start);
        out.emplace_back(start, n);
        sum += n;
    }
    if (total) {
        *total = (uint32_t)std::min<uint64_t>(sum, UINT32_MAX);
    }
    return out;
}
