#include "V2ZLIBCompressionHandler.h"

#include "V2TAVOFile.h"
#include "log.h"

namespace {
constexpr size_t OUT_BUFFER_SIZE = 1024 * 1024;
constexpr size_t OUT_MIN_ROOM = 126976;  // write out before less room than this is left
constexpr int DEFAULT_LEVEL = 3;
} // namespace

V2ZLIBCompressionHandler::~V2ZLIBCompressionHandler() {
    if (deflating) {
        deflateEnd(&stream);
    }
}

int V2ZLIBCompressionHandler::blockLevel(int level) { return (level >= 0 && level <= 9) ? level : DEFAULT_LEVEL; }

void V2ZLIBCompressionHandler::writeOutput() {
    writeOrFail(outBuffer.get(), OUT_BUFFER_SIZE - stream.avail_out);
    stream.next_out = outBuffer.get();
    stream.avail_out = OUT_BUFFER_SIZE;
}

void V2ZLIBCompressionHandler::beginCompressedBlock(bool firstOfFile) {
    if (!outBuffer) {
        outBuffer.reset(new uint8_t[OUT_BUFFER_SIZE]);
    }
    if (deflating) {
        deflateEnd(&stream);
    }
    stream = z_stream{};
    if (deflateInit(&stream, blockLevel(file->compressionLevel)) != Z_OK) {
        LogErr(kivlog::Sequence, "zlib compression could not start\n");
        markWriteFailed();
        deflating = false;
        return;
    }
    deflating = true;
    stream.next_out = outBuffer.get();
    stream.avail_out = OUT_BUFFER_SIZE;
}

void V2ZLIBCompressionHandler::compressData(const uint8_t* data, size_t size) {
    if (!deflating) {
        return;
    }
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = (uInt)size;
    while (stream.avail_in) {
        if (deflate(&stream, Z_NO_FLUSH) == Z_STREAM_ERROR) {
            LogErr(kivlog::Sequence, "zlib compression failed\n");
            markWriteFailed();
            return;
        }
        if (stream.avail_out < OUT_MIN_ROOM) {
            writeOutput();
        }
    }
}

void V2ZLIBCompressionHandler::endCompressedBlock() {
    if (!deflating) {
        return;
    }
    int r;
    do {
        r = deflate(&stream, Z_FINISH);
        if (r == Z_STREAM_ERROR) {
            LogErr(kivlog::Sequence, "zlib compression failed\n");
            markWriteFailed();
            break;
        }
        writeOutput();
    } while (r != Z_STREAM_END);
    deflateEnd(&stream);
    deflating = false;
}

bool V2ZLIBCompressionHandler::beginDecompress(const uint8_t* src, uint64_t size) {
    rawBlock = src;
    rawSize = size;
    inflated = false;
    return true;
}

// The whole block at once: zlib gains little from stopping early, and the raw block is then free.
bool V2ZLIBCompressionHandler::decompressTo(uint64_t) {
    if (inflated) {
        return true;
    }
    inflated = true;
    z_stream in{};
    if (inflateInit(&in) != Z_OK) {
        logCorrupt("zlib", "inflateInit failed");
        return false;
    }
    in.next_in = const_cast<Bytef*>(rawBlock);
    in.avail_in = (uInt)std::min<uint64_t>(rawSize, UINT32_MAX);
    bool ok = true;
    while (outputUsed < blockBytes) {
        uint64_t limit = growOutput(blockBytes);
        in.next_out = output.data.get() + outputUsed;
        in.avail_out = (uInt)std::min<uint64_t>(limit - outputUsed, UINT32_MAX);
        uInt before = in.avail_out;
        uInt inBefore = in.avail_in;
        int r = inflate(&in, Z_NO_FLUSH);
        outputUsed += before - in.avail_out;
        if (r == Z_STREAM_END) {
            break;
        }
        if (r == Z_OK) {
            continue;
        }
        if (r == Z_BUF_ERROR && (in.avail_in != inBefore || in.avail_out != before)) {
            continue;
        }
        logCorrupt("zlib", in.msg ? in.msg : (in.avail_in == 0 ? "data ends inside the block" : "inflate failed"));
        ok = false;
        break;
    }
    inflateEnd(&in);
    return ok;
}
