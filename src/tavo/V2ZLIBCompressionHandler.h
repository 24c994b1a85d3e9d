#pragma once

#include <zlib.h>

#include "V2CompressedHandler.h"

// Blocks stored as zlib streams. Reading inflates a whole block when it is entered.
class V2ZLIBCompressionHandler : public V2CompressedHandler {
public:
    explicit V2ZLIBCompressionHandler(V2TAVOFile* f) : V2CompressedHandler(f) {}
    ~V2ZLIBCompressionHandler() override;

    uint8_t getCompressionType() override { return TAVOFile::zlib; }
    std::string GetType() const override { return "Compressed ZLIB"; }

    // compressionLevel when it is 0 to 9, otherwise 3.
    static int blockLevel(int compressionLevel);

protected:
    void beginCompressedBlock(bool firstOfFile) override;
    void compressData(const uint8_t* data, size_t size) override;
    void endCompressedBlock() override;
    bool beginDecompress(const uint8_t* src, uint64_t size) override;
    bool decompressTo(uint64_t bytes) override;

private:
    void writeOutput();

    z_stream stream{};
    bool deflating = false;
    std::unique_ptr<uint8_t[]> outBuffer;  // compressed output waiting to be written
    const uint8_t* rawBlock = nullptr;
    uint64_t rawSize = 0;
    bool inflated = false;
};
