#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "V2Handler.h"

// Frames stored as independently compressed blocks of consecutive frames (one zstd frame or
// zlib stream per block), listed in the header's block index. The codec classes supply the
// compression calls; this class sizes and indexes blocks when writing, and when reading runs
// a read-ahead thread that loads raw blocks four ahead of the frame getter, which then
// decompresses from memory.
//
// Threads when reading: the getFrame caller owns the decompression state (curBlock, output);
// the read-ahead thread alone reads the file (pread), and blockMap/readQueue are guarded by
// the mutex. Destruction stops and joins the thread.
class V2CompressedHandler : public V2Handler {
public:
    explicit V2CompressedHandler(V2TAVOFile* f);
    ~V2CompressedHandler() override;

    // Block index slots for the header (limit 255, or 4095 with extended blocks); see the
    // block-sizing rule in the .cpp.
    uint32_t computeMaxBlocks(int maxBlocks = 4095) override;
    void addFrame(uint32_t frame, const uint8_t* data) override;
    void finalize() override;
    // Queues the block holding startFrame and the three after it; the first call starts the thread.
    void prepareRead(uint32_t startFrame) override;
    // Null when the frame's block is missing, unreadable, or does not decompress to it (logged).
    TAVOFile::FrameData* getFrame(uint32_t frame) override;

    // Number of frames in the first block of a file, so playback can start after little decoding.
    static constexpr uint32_t FIRST_BLOCK_FRAMES = 10;

    uint32_t framesPerBlock = 0;
    uint32_t framesInBlock = 0;  // writing: frames in the open block; reading: frames decoded
    uint32_t curBlock = 0;       // writing: blocks completed; reading: block being decoded
    uint32_t maxBlocks = 0;
    std::atomic<bool> readThreadRunning{false};
    std::thread readThread;
    int firstBlock = 0;

protected:
    // Writing, implemented by the codecs: start a block's stream (the first block of the file
    // gets the fast level), feed bytes, finish the stream writing all output.
    virtual void beginCompressedBlock(bool firstOfFile) = 0;
    virtual void compressData(const uint8_t* data, size_t size) = 0;
    virtual void endCompressedBlock() = 0;
    // Reading: start decoding a block's raw bytes (valid until the next begin), then decode
    // until outputUsed >= bytes or the stream ends; false for a corrupt stream (logged).
    virtual bool beginDecompress(const uint8_t* src, uint64_t size) = 0;
    virtual bool decompressTo(uint64_t bytes) = 0;

    // Grows the output buffer towards want, at most doubling what is decoded so far, so a
    // damaged header cannot make it allocate more than the data really decodes to.
    // Returns the new limit (<= want); the decoded bytes are kept.
    uint64_t growOutput(uint64_t want);
    // Makes room for bytes at once (nothing decoded yet), for codecs that decode in place.
    void reserveOutput(uint64_t bytes);
    void logCorrupt(const char* codec, const char* what);

    // Decoded bytes of the current block. Frames of the whole channel set point into it
    // instead of copying (they keep it alive), so a block buffer is reused only once no frame
    // holds it; spareOutput is the one before, kept for that reuse.
    struct OutputBuffer {
        std::shared_ptr<uint8_t[]> data;
        uint64_t capacity = 0;
    };
    OutputBuffer output;
    OutputBuffer spareOutput;
    uint64_t outputUsed = 0;
    uint64_t blockBytes = 0;  // channelCount x frames of the current block

    // Block index helpers over file->frameOffsets (its last entry is the sentinel).
    int blockCount() const;
    int findBlock(uint32_t frame) const;
    uint64_t blockSize(int block) const;

private:
    struct RawBlock {
        std::unique_ptr<uint8_t[]> data;
        bool failed = false;
    };

    void readThreadLoop();
    // Reads block k from the file; null (logged) when it cannot be read.
    std::unique_ptr<uint8_t[]> loadBlock(int k);
    // The raw bytes of a block, waiting for the read-ahead thread; null when it cannot load.
    const uint8_t* getBlock(int block);
    bool enterBlock(int block);

    std::mutex blockLock;
    std::condition_variable blockSignal;
    std::map<int, RawBlock> blockMap;
    std::list<int> readQueue;
    bool blockValid = false;   // reading: curBlock has been entered
    bool blockBroken = false;  // reading: curBlock's stream failed; only what decoded before is served
    bool shortLogged = false;  // reading: "ends before frame" logged for curBlock
};
