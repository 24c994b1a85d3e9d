#pragma once

// The work of the tavoutils program (src/tavoutils.cpp parses the command line and calls
// these): the metadata JSON line, channel-range arguments, and conversion with merging.

#include <string>
#include <vector>

#include "TAVOFile.h"

// Channel space of tavoutils' frame buffers; -r ranges must lie inside it.
constexpr uint32_t TAVOUTILS_BUFFER_CHANNELS = 8216576;

// One -m/-M argument: a sequence overlaid on the input frame by frame.
struct MergeTAVO {
    std::string filename;
    TAVOFile::ChannelRanges ranges;
    bool copyZero = false;     // -M: copy zero values too
    TAVOFile* file = nullptr;  // owned once opened
};

struct TAVOConvertOptions {
    TAVOFile::CompressionType compressionType = TAVOFile::zstd;
    int compressionLevel = -99;
    int versionMajor = 2;
    int versionMinor = 0;
    bool sparse = true;
    std::string outputFile;
    TAVOFile::ChannelRanges ranges;  // output ranges, channels from 0
    std::vector<MergeTAVO> merges;
};

// Parses "A-B" (channels A to B) or "A+C" (C channels from A), channels counted from 1, into
// (A - 1, count). False, with a message in error, for malformed text, an empty or reversed
// range, or one reaching past TAVOUTILS_BUFFER_CHANNELS.
bool parseTAVOChannelRange(const std::string& text, std::pair<uint32_t, uint32_t>& range, std::string& error);

// text as the inside of a JSON string: quote and backslash escaped, control characters as
// \u00XX, bytes that are not UTF-8 as U+FFFD, so the result is always valid JSON.
std::string escapeTAVOJSON(const std::string& text);

// The one-line JSON description of a sequence (with its newline); path's base name is the "Name".
std::string getTAVOMetadataJSON(const std::string& path, TAVOFile& seq);

// Writes opts.outputFile from input with the merges applied; messages go to standard output.
// Returns the exit status: 0 on success, 1 when the output cannot be created or written, or
// the input cannot be read. A failed output file is removed.
int convertTAVOFile(TAVOFile& input, TAVOConvertOptions& opts);
