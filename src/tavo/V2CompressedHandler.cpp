#include "V2CompressedHandler.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "TAVOFormat.h"
#include "UncompressedFrameData.h"
#include "V2TAVOFile.h"
#include "WarningHolder.h"
#include "log.h"

using namespace tavo;

namespace {
constexpr uint64_t MIN_BLOCK_BYTES = 65536;     // a block normally holds at least 64 KiB raw
constexpr int READ_AHEAD_BLOCKS = 4;
constexpr auto QUEUE_POLL = std::chrono::milliseconds(25);
constexpr auto BLOCK_WAIT_STEP = std::chrono::seconds(10);
// A block that has not loaded after this long will not: the frame is given up (logged).
constexpr auto BLOCK_WAIT_LIMIT = std::chrono::seconds(30);
constexpr int SLOW_STORAGE_WARNING_SECONDS = 90;
constexpr uint32_t FINAL_SENTINEL_FRAME = 99999999;
} // namespace

V2CompressedHandler::V2CompressedHandler(V2TAVOFile* f) : V2Handler(f) {}

V2CompressedHandler::~V2CompressedHandler() {
    {
        // Under the lock, so the thread cannot miss the wake-up between its check and its wait.
        std::lock_guard<std::mutex> l(blockLock);
        readThreadRunning = false;
    }
    blockSignal.notify_all();
    if (readThread.joinable()) {
        readThread.join();
    }
}

// ---- Writing ----

uint32_t V2CompressedHandler::computeMaxBlocks(int limit) {
    if (maxBlocks) {
        return maxBlocks;
    }
    uint64_t total = uint64_t(file->numFrames) * file->channelCount;
    uint64_t target = total / MIN_BLOCK_BYTES > (uint64_t)limit ? limit : std::max<uint64_t>(total / MIN_BLOCK_BYTES, 1);
    framesPerBlock = std::max<uint32_t>(uint32_t(file->numFrames / target), FIRST_BLOCK_FRAMES);
    framesInBlock = 0;
    curBlock = 0;
    while (file->numFrames / framesPerBlock + 1 > (uint32_t)limit) {
        framesPerBlock++;
    }
    uint32_t needed = file->numFrames / framesPerBlock + 1;
    maxBlocks = std::min<uint32_t>(needed + 2, limit);
    return maxBlocks;
}

void V2CompressedHandler::addFrame(uint32_t frame, const uint8_t* data) {
    if (framesInBlock == 0) {
        file->frameOffsets.emplace_back(frame, file->tell());
        beginCompressedBlock(frame == 0);
    }
    if (file->sparseRanges.empty()) {
        compressData(data, file->channelCount);
    } else {
        for (const auto& [start, count] : file->sparseRanges) {
            compressData(data + start, count);
        }
    }
    framesInBlock++;
    bool end;
    if (curBlock == 0) {
        end = framesInBlock == FIRST_BLOCK_FRAMES;
    } else {
        end = framesInBlock >= framesPerBlock && file->frameOffsets.size() < maxBlocks;
    }
    if (end) {
        endCompressedBlock();
        framesInBlock = 0;
        curBlock++;
    }
}

void V2CompressedHandler::finalize() {
    if (framesInBlock) {
        endCompressedBlock();
        if (getCompressionType() == TAVOFile::zstd) {
            LogDebug(kivlog::Sequence, "  Finalized last block of data.  Frames in block: %d.\n", framesInBlock);
        }
        framesInBlock = 0;
        curBlock++;
    }
    uint64_t end = file->tell();
    if (file->frameOffsets.empty()) {
        LogErr(kivlog::Sequence, "Error writing tavo file.  No compressed blocks created.\n");
        file->frameOffsets.emplace_back(0, file->chanDataOffset);
    }
    if (file->frameOffsets.size() > maxBlocks) {
        LogErr(kivlog::Sequence, "Error writing tavo file.  %zu blocks do not fit the %u index slots.\n",
               file->frameOffsets.size(), maxBlocks);
        markWriteFailed();
        return;
    }
    file->seek(V2_OFFSET_BLOCK_INDEX, SEEK_SET);
    file->frameOffsets.emplace_back(FINAL_SENTINEL_FRAME, end);
    std::vector<uint8_t> index(BLOCK_INDEX_ENTRY_SIZE * (file->frameOffsets.size() - 1));
    for (size_t k = 0; k + 1 < file->frameOffsets.size(); k++) {
        uint64_t size = file->frameOffsets[k + 1].second - file->frameOffsets[k].second;
        if (size > UINT32_MAX) {
            LogErr(kivlog::Sequence, "Error writing tavo file.  Block %zu is %llu bytes, more than an index entry holds.\n",
                   k, (unsigned long long)size);
            markWriteFailed();
        }
        write32(&index[BLOCK_INDEX_ENTRY_SIZE * k], (uint32_t)file->frameOffsets[k].first);
        write32(&index[BLOCK_INDEX_ENTRY_SIZE * k + 4], (uint32_t)size);
    }
    writeOrFail(index.data(), index.size());
    file->frameOffsets.pop_back();
    file->seek(end, SEEK_SET);
    V2Handler::finalize();
}

// ---- Reading: the block index ----

int V2CompressedHandler::blockCount() const { return std::max<int>((int)file->frameOffsets.size() - 1, 0); }

int V2CompressedHandler::findBlock(uint32_t frame) const {
    const auto& fo = file->frameOffsets;
    int n = blockCount();
    if (n == 0 || frame >= fo[n].first) {
        return -1;
    }
    // Last block whose first frame is not above the frame.
    auto it = std::upper_bound(fo.begin(), fo.begin() + n, uint64_t(frame),
                               [](uint64_t f, const std::pair<uint64_t, uint64_t>& e) { return f < e.first; });
    return it == fo.begin() ? -1 : int(it - fo.begin()) - 1;
}

uint64_t V2CompressedHandler::blockSize(int block) const {
    const auto& fo = file->frameOffsets;
    return fo[block + 1].second - fo[block].second;
}

// ---- Reading: the read-ahead thread ----

void V2CompressedHandler::prepareRead(uint32_t startFrame) {
    int b = std::max(findBlock(startFrame), 0);
    LogDebug(kivlog::Sequence, "Preparing to read starting frame:  %d    block: %d\n", startFrame, b);
    {
        std::lock_guard<std::mutex> l(blockLock);
        for (int i = 0; i < READ_AHEAD_BLOCKS; i++) {
            readQueue.push_back(b + i);
        }
        firstBlock = b;
    }
    if (readThreadRunning) {
        blockSignal.notify_all();  // a later start (a seek): the running thread loads from there
        return;
    }
    readThreadRunning = true;
    readThread = std::thread(&V2CompressedHandler::readThreadLoop, this);
}

std::unique_ptr<uint8_t[]> V2CompressedHandler::loadBlock(int k) {
    uint64_t size = blockSize(k);
    uint64_t offset = file->frameOffsets[k].second;
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size ? size : 1]);
    if (!data) {
        LogWarn(kivlog::Sequence, "Serious problem reading sequence data\n");
        LogWarn(kivlog::Sequence, "    Block: %d / %d\n", k, (int)file->frameOffsets.size());
        LogWarn(kivlog::Sequence, "    Size: %llu\n", (unsigned long long)size);
        return nullptr;
    }
    int fd = fileDescriptor();
    uint64_t got = 0;
    while (got < size) {
        ssize_t r = pread(fd, data.get() + got, size - got, (off_t)(offset + got));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        got += r;
    }
    if (got != size) {
        LogErr(kivlog::Sequence, "Could not read block %d of %s: %llu of %llu bytes at %llu\n", k, file->filename.c_str(),
               (unsigned long long)got, (unsigned long long)size, (unsigned long long)offset);
        return nullptr;
    }
    return data;
}

void V2CompressedHandler::readThreadLoop() {
    std::unique_lock<std::mutex> l(blockLock);
    while (readThreadRunning) {
        if (readQueue.empty()) {
            blockSignal.wait_for(l, QUEUE_POLL);
            continue;
        }
        int k = readQueue.front();
        readQueue.pop_front();
        if (k < 0 || k >= blockCount()) {
            continue;
        }
        RawBlock& e = blockMap[k];
        if (e.data || e.failed) {
            continue;
        }
        l.unlock();
        auto data = loadBlock(k);
        l.lock();
        RawBlock& stored = blockMap[k];
        stored.failed = !data;
        stored.data = std::move(data);
        blockSignal.notify_all();
    }
}

const uint8_t* V2CompressedHandler::getBlock(int b) {
    std::unique_lock<std::mutex> l(blockLock);
    auto deadline = std::chrono::steady_clock::now() + BLOCK_WAIT_LIMIT;
    while (!blockMap[b].data && !blockMap[b].failed) {
        if (!readThreadRunning) {
            // No read-ahead thread (prepareRead not called): nobody else reads the file.
            l.unlock();
            auto data = loadBlock(b);
            l.lock();
            blockMap[b].failed = !data;
            blockMap[b].data = std::move(data);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            LogErr(kivlog::Sequence, "Data block %d of %s did not load in %d seconds, frame skipped\n", b,
                   file->filename.c_str(), (int)std::chrono::duration_cast<std::chrono::seconds>(BLOCK_WAIT_LIMIT).count());
            return nullptr;
        }
        if (firstBlock != 0 && b > firstBlock + 3) {
            WarningHolder::AddWarningTimeout("TAVO Data Block not available - Likely slow storage", SLOW_STORAGE_WARNING_SECONDS);
            LogWarn(kivlog::Sequence, "Data block not available when needed %d/%d.  First block requested: %d.   Likely slow storage.\n",
                    b, maxBlocks, firstBlock);
            LogWarn(kivlog::Sequence, "Blocks: %d     First: %d\n", (int)readQueue.size(), readQueue.empty() ? -1 : readQueue.front());
        }
        readQueue.push_front(b);
        blockSignal.notify_all();
        blockSignal.wait_for(l, BLOCK_WAIT_STEP);
    }
    if (blockMap[b].failed) {
        return nullptr;
    }
    if (b >= 3) {
        auto it = blockMap.find(b - 2);
        if (it != blockMap.end()) {
            it->second.data.reset();
        }
    }
    return blockMap[b].data.get();
}

// ---- Reading: frames ----

uint64_t V2CompressedHandler::growOutput(uint64_t want) {
    uint64_t limit = std::min<uint64_t>(want, std::max<uint64_t>({output.capacity, outputUsed * 2, 1024 * 1024}));
    if (limit > output.capacity) {
        // Frames handed out keep pointing into the old buffer, which they keep alive.
        std::shared_ptr<uint8_t[]> bigger(new uint8_t[limit]);
        if (outputUsed) {
            memcpy(bigger.get(), output.data.get(), outputUsed);
        }
        output = {std::move(bigger), limit};
    }
    return limit;
}

void V2CompressedHandler::reserveOutput(uint64_t bytes) {
    if (output.capacity < bytes) {
        output = {std::shared_ptr<uint8_t[]>(new uint8_t[bytes]), bytes};
    }
}

void V2CompressedHandler::logCorrupt(const char* codec, const char* what) {
    LogErr(kivlog::Sequence, "Corrupt %s block %u in %s: %s\n", codec, curBlock, file->filename.c_str(), what);
}

bool V2CompressedHandler::enterBlock(int b) {
    blockValid = false;
    blockBroken = false;
    shortLogged = false;
    curBlock = b;
    framesInBlock = 0;
    outputUsed = 0;
    if (output.data && output.data.use_count() > 1) {
        std::swap(output, spareOutput);
        if (output.data && output.data.use_count() > 1) {
            output = {};  // both still held by frames: they keep theirs, decoding takes a new one
        }
    }
    const auto& fo = file->frameOffsets;
    uint64_t frames = std::min<uint64_t>(file->numFrames, fo[b + 1].first) - fo[b].first;
    blockBytes = frames * file->channelCount;
    const uint8_t* raw = getBlock(b);
    int n = blockCount();
    for (int j = b + 1; j <= b + READ_AHEAD_BLOCKS && j < n; j++) {
        uint64_t size = blockSize(j) + (j + 1 < n ? blockSize(j + 1) : 0);
        file->preload(fo[j].second, size);
        std::lock_guard<std::mutex> l(blockLock);
        readQueue.push_back(j);
        blockSignal.notify_all();
    }
    if (!raw || !beginDecompress(raw, blockSize(b))) {
        return false;
    }
    blockValid = true;
    return true;
}

TAVOFile::FrameData* V2CompressedHandler::getFrame(uint32_t frame) {
    const uint32_t cc = file->channelCount;
    int b = findBlock(frame);
    if (b < 0) {
        LogErr(kivlog::Sequence, "Frame %u of %s is in no readable block\n", frame, file->filename.c_str());
        return nullptr;
    }
    if (!blockValid || (int)curBlock != b) {
        if (!enterBlock(b)) {
            return nullptr;
        }
    }
    uint64_t i = frame - file->frameOffsets[b].first;
    uint64_t need = (i + 1) * cc;
    if (need > blockBytes) {
        return nullptr;  // cannot happen with a sorted index; kept as a bound
    }
    if (outputUsed < need) {
        if (blockBroken) {
            return nullptr;  // logged when the stream failed
        }
        if (!decompressTo(need)) {
            blockBroken = true;  // the frames decoded before the damage stay readable
            return nullptr;
        }
        if (outputUsed < need) {
            if (!shortLogged) {
                LogErr(kivlog::Sequence, "Block %u of %s ends before frame %u\n", curBlock, file->filename.c_str(), frame);
                shortLogged = true;
            }
            return nullptr;
        }
    }
    framesInBlock = cc ? uint32_t(outputUsed / cc) : 0;

    const uint8_t* src = output.data.get() + i * cc;
    const auto& ranges = file->rangesToRead;
    bool wholeFrame = !file->sparseRanges.empty() || (ranges.size() == 1 && ranges[0].first == 0 && ranges[0].second == cc);
    if (wholeFrame && file->dataBlockSize == cc) {
        return new UncompressedFrameData(frame, output.data, src, cc, ranges);
    }
    auto* data = new UncompressedFrameData(frame, file->dataBlockSize, ranges);
    if (!file->sparseRanges.empty()) {
        memcpy(data->data.get(), src, std::min(cc, file->dataBlockSize));
        return data;
    }
    uint32_t pos = 0;
    for (const auto& [start, count] : file->rangesToRead) {
        if (start >= cc) {
            continue;
        }
        uint32_t n = std::min(count, cc - start);
        memcpy(data->data.get() + pos, src + start, n);
        if (n < count) {
            memset(data->data.get() + pos + n, 0, count - n);
        }
        pos += count;
    }
    return data;
}
