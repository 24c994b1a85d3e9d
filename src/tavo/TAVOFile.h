#pragma once

// Sequence files (".tavo"): a header with the channel count, number of frames and frame
// period, followed by every frame's channel values, one byte per channel. TAVOFile is the
// common base of the version 1 and version 2 readers/writers (V1TAVOFile, V2TAVOFile).
//
// Reading:
//   TAVOFile* f = TAVOFile::openTAVOFile(path);        // null when the file is unusable
//   f->prepareRead({{start, count}, ...}, startFrame);  // optional: channels wanted, where to start
//   for each frame n:
//       TAVOFile::FrameData* d = f->getFrame(n);       // null when frame n cannot be read
//       if (d) { d->readFrame(buffer, bufferChannels); delete d; }
//   delete f;
// A file and its frames are used by one thread at a time (getFrame calls must not overlap).
//
// Writing:
//   TAVOFile* f = TAVOFile::createTAVOFile(path or "-memory-", 1 or 2, compression, level);
//   set channelCount, numFrames, stepTime, variableHeaders, uniqueId (and sparseRanges of a
//   V2TAVOFile), or copy them with initializeFromTAVO(); optionally enableMinorVersionFeatures();
//   writeHeader(); addFrame(i, data) for i = 0, 1, 2... (each a full frame of getMaxChannel()
//   channels); finalize(); delete f.
// writeHeader() refuses (false, logged) what the format cannot hold; finalize() is false when
// any write failed.
//
// Channels are numbered from 0 in every range here. All messages go to the Sequence logger.

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

class TAVOFile {
public:
    enum CompressionType {
        none = 0,
        zstd = 1,
        zlib = 2,
    };

    // (start channel, channel count) pairs.
    using ChannelRanges = std::vector<std::pair<uint32_t, uint32_t>>;

    // A tagged blob of the header. Known codes: "mf" media file name and "sp" producer (both
    // NUL-terminated text), "FC" frame commands and "FE" frame effects; others are carried as is.
    class VariableHeader {
    public:
        VariableHeader() = default;
        VariableHeader(const char* c, std::vector<uint8_t> d, bool extended = false)
            : data(std::move(d)), extendedData(extended) {
            code[0] = c[0];
            code[1] = c[1];
        }

        char code[2] = {0, 0};
        std::vector<uint8_t> data;
        // Set when read from an extended header; forces the extended form when written (2.x).
        bool extendedData = false;
    };

    // One frame as read from the file; the receiver of getFrame() owns and deletes it.
    class FrameData {
    public:
        explicit FrameData(uint32_t f) : frame(f) {}
        virtual ~FrameData() = default;

        // Copies the frame's channels to buffer[channel]; channels at or past maxChannels are
        // dropped, channels outside the frame's ranges are left as they were. False when the
        // frame holds no data or its ranges do not fit its data.
        virtual bool readFrame(uint8_t* buffer, uint32_t maxChannels) = 0;

        uint32_t frame;
    };

    // Opens for reading: a V1TAVOFile or V2TAVOFile (also for "ESEQ"), or null after logging
    // why. The caller owns the result; deleting it closes the file.
    static TAVOFile* openTAVOFile(const std::string& filename);
    // Creates (truncates) for writing; the exact name "-memory-" writes to memoryBuffer instead.
    // Version 1 ignores type and level. Null for another version or when the file cannot be created.
    static TAVOFile* createTAVOFile(const std::string& filename, int version,
                                    CompressionType type = zstd, int level = -99);
    // The "mf" text of a file, "" when it does not open or has none.
    static std::string getMediaFilename(const std::string& filename);

    virtual ~TAVOFile();

    // Limits the channels later frames hold and warms the cache from startFrame on.
    virtual void prepareRead(const ChannelRanges& ranges, uint32_t startFrame = 0) {}
    virtual FrameData* getFrame(uint32_t frame) = 0;
    virtual void enableMinorVersionFeatures(uint8_t minor) {}
    // Copies channelCount, numFrames, stepTime, variableHeaders and uniqueId (not sparse ranges).
    virtual void initializeFromTAVO(const TAVOFile& other);
    virtual bool writeHeader() = 0;
    virtual void addFrame(uint32_t frame, const uint8_t* data) = 0;
    virtual bool finalize();
    // Logs the header at debug level, lines indented by four blanks when indent is true.
    virtual void dumpInfo(bool indent);
    // Number of channels a full frame spans (sparse files: the end of the last range).
    virtual uint32_t getMaxChannel() const = 0;

    // File access; with the "-memory-" target these act on memoryBuffer/memoryBufferPos.
    int seek(uint64_t offset, int whence);
    uint64_t tell();
    uint64_t read(void* buffer, uint64_t size);
    uint64_t write(const void* buffer, uint64_t size);
    // Advises the kernel that [offset, offset + size) will be read soon.
    void preload(uint64_t offset, uint64_t size);
    // Parses variable headers from header[readIndex] to the end of the header.
    void parseVariableHeaders(const std::vector<uint8_t>& header, int readIndex);
    // Data of the first "mf" header up to its first NUL, "" when there is none.
    std::string getMediaFilename() const;

    // True once a write has failed; finalize() then reports false.
    bool hasWriteError() const { return writeFailed; }
    bool isMemoryTarget() const { return memoryTarget; }

    std::string filename;
    uint64_t uniqueId = 0;
    uint32_t numFrames = 0;
    uint32_t channelCount = 0;
    int stepTime = 50;
    int versionMajor = 0;
    int versionMinor = 0;
    std::vector<VariableHeader> variableHeaders;
    uint64_t fileSize = 0;
    uint64_t chanDataOffset = 0;

    std::vector<uint8_t> memoryBuffer;
    uint64_t memoryBufferPos = 0;

protected:
    // For writing: opens (creates) filename, or targets memory for "-memory-".
    explicit TAVOFile(const std::string& name);
    // For reading: takes over the open stream; header holds the first chanDataOffset bytes.
    TAVOFile(const std::string& name, FILE* f, const std::vector<uint8_t>& header);

    // Writes buf at the current position and records a failure.
    void writeOrFail(const void* buf, uint64_t size);
    // Appends the inline form of a header to buf at pos; returns the new position.
    static uint32_t writeInlineVariableHeader(std::vector<uint8_t>& buf, uint32_t pos, const VariableHeader& vh);
    // Ranges cut to end at limit, those starting at or past it dropped; *total gets their sum.
    static ChannelRanges clipRanges(const ChannelRanges& ranges, uint32_t limit, uint32_t* total);

    FILE* file = nullptr;
    bool memoryTarget = false;
    bool writeFailed = false;
    // Cleared by a reading constructor that finds the header unusable; openTAVOFile then refuses it.
    bool headerValid = true;
    // Set by prepareRead; getFrame prepares a full-frame read on first use otherwise.
    bool readPrepared = false;

    friend class V2Handler;
};

// Logs a hex dump of data at info level on the General logger.
void logTAVOHexDump(const char* title, const uint8_t* data, size_t size);
