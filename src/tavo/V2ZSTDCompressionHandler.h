#pragma once

#include <zstd.h>

#include "V2CompressedHandler.h"

// Blocks stored as zstd frames. Reading decompresses a block only as far as the frame asked for.
class V2ZSTDCompressionHandler : public V2CompressedHandler {
public:
    explicit V2ZSTDCompressionHandler(V2TAVOFile* f);
    ~V2ZSTDCompressionHandler() override;

    uint8_t getCompressionType() override { return TAVOFile::zstd; }
    std::string GetType() const override { return "Compressed ZSTD"; }

    // The level of a block: compressionLevel, with -99 and values outside -25..25 giving 2;
    // the block at frame 0 uses -10 so playback can start at once.
    static int blockLevel(int compressionLevel, bool firstOfFile);

protected:
    void beginCompressedBlock(bool firstOfFile) override;
    void compressData(const uint8_t* data, size_t size) override;
    void endCompressedBlock() override;
    bool beginDecompress(const uint8_t* src, uint64_t size) override;
    bool decompressTo(uint64_t bytes) override;

private:
    void flushOutput();

    ZSTD_CCtx* cctx = nullptr;
    ZSTD_DCtx* dctx = nullptr;
    std::unique_ptr<uint8_t[]> outBuffer;  // compressed output waiting to be written
    ZSTD_outBuffer zout{nullptr, 0, 0};
    ZSTD_inBuffer zin{nullptr, 0, 0};
    uint64_t rawSize = 0;
    bool streamEnded = false;
    // Decoding straight into the block's output (no copy through zstd's window); the input is
    // then fed in chunks so decoding still stops near the frame asked for.
    bool direct = false;
};
