#include "TAVOUtils.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "V2TAVOFile.h"

bool parseTAVOChannelRange(const std::string& text, std::pair<uint32_t, uint32_t>& range, std::string& error) {
    const char* s = text.c_str();
    char* end = nullptr;
    auto bad = [&](const std::string& why) {
        error = "Channel range " + text + " " + why;
        return false;
    };
    if (!isdigit((unsigned char)*s)) {
        return bad("is not of the form start-end or start+count");
    }
    unsigned long long a = strtoull(s, &end, 10);
    if (!*end) {
        return bad("is not of the form start-end or start+count");
    }
    char sep = *end;
    const char* second = end + 1;
    if (!isdigit((unsigned char)*second)) {
        return bad("is not of the form start-end or start+count");
    }
    unsigned long long b = strtoull(second, &end, 10);
    if (*end) {
        return bad("is not of the form start-end or start+count");
    }
    if (a == 0) {
        return bad("starts at channel 0; channels are counted from 1");
    }
    unsigned long long count;
    if (sep == '-') {
        if (b < a) {
            return bad("ends before it starts");
        }
        count = b - a + 1;
    } else {
        count = b;
    }
    if (count == 0) {
        return bad("holds no channels");
    }
    if (a - 1 + count > TAVOUTILS_BUFFER_CHANNELS) {
        return bad("is outside the " + std::to_string(TAVOUTILS_BUFFER_CHANNELS) + " channels tavoutils handles");
    }
    range = {uint32_t(a - 1), uint32_t(count)};
    return true;
}

// Length of the valid UTF-8 sequence at s[0..n), 0 when it is not one.
static size_t utf8SequenceLength(const unsigned char* s, size_t n) {
    unsigned char c = s[0];
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (len > n) {
        return 0;
    }
    for (size_t i = 1; i < len; i++) {
        if ((s[i] & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

std::string escapeTAVOJSON(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
            i++;
        } else if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof(esc), "\\u%04x", c);
            out += esc;
            i++;
        } else if (c < 0x80) {
            out += (char)c;
            i++;
        } else if (size_t len = utf8SequenceLength(s + i, n - i)) {
            out.append(text, i, len);
            i += len;
        } else {
            out += "\\ufffd";
            i++;
        }
    }
    return out;
}

// Headers shown in the JSON: printable two-character code, data of printable ASCII up to a NUL.
static bool isShownHeader(const TAVOFile::VariableHeader& vh) {
    for (char c : vh.code) {
        if ((unsigned char)c < 0x21 || (unsigned char)c > 0x7E) {
            return false;
        }
    }
    for (uint8_t b : vh.data) {
        if ((b >= 0x01 && b <= 0x1F) || b >= 0x80) {
            return false;
        }
    }
    return true;
}

std::string getTAVOMetadataJSON(const std::string& path, TAVOFile& seq) {
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char buf[512];
    snprintf(buf, sizeof(buf),
             "\", \"Version\": \"%d.%d\", \"ID\": \"%" PRIu64 "\", \"StepTime\": %d, \"NumFrames\": %u, \"MaxChannel\": %u, \"ChannelCount\": %u",
             seq.versionMajor, seq.versionMinor, seq.uniqueId, seq.stepTime, seq.numFrames, seq.getMaxChannel(), seq.channelCount);
    std::string json = "{\"Name\": \"" + escapeTAVOJSON(name) + buf;
    if (!seq.variableHeaders.empty()) {
        json += ", \"variableHeaders\": {";
        bool first = true;
        for (const auto& vh : seq.variableHeaders) {
            if (!isShownHeader(vh)) {
                continue;
            }
            std::string text(vh.data.begin(), vh.data.end());
            text = text.substr(0, text.find('\0'));
            json += first ? "" : ", ";
            json += std::string("\"") + vh.code[0] + vh.code[1] + "\": \"" + escapeTAVOJSON(text) + "\"";
            first = false;
        }
        json += "}";
    }
    if (seq.versionMajor >= 2) {
        auto* v2 = dynamic_cast<V2TAVOFile*>(&seq);
        if (v2 && !v2->sparseRanges.empty()) {
            json += ", \"Ranges\": [";
            for (size_t i = 0; i < v2->sparseRanges.size(); i++) {
                snprintf(buf, sizeof(buf), "%s{\"Start\": %u, \"Length\": %u}", i ? "," : "", v2->sparseRanges[i].first,
                         v2->sparseRanges[i].second);
                json += buf;
            }
            json += "]";
        }
        snprintf(buf, sizeof(buf), ", \"CompressionType\": %d", v2 ? (int)v2->compressionType : 0);
        json += buf;
    }
    json += "}\n";
    return json;
}

// Overlays merge frame f onto frame; mergeBuffer keeps values between frames as the
// original behaviour does, but only until they are copied.
static void mergeFrame(MergeTAVO& m, uint32_t f, uint8_t* frame, uint8_t* mergeBuffer, uint32_t channels) {
    std::unique_ptr<TAVOFile::FrameData> data(m.file->getFrame(f));
    if (!data) {
        return;
    }
    data->readFrame(mergeBuffer, channels);
    for (const auto& [start, count] : m.ranges) {
        uint64_t end = std::min<uint64_t>(uint64_t(start) + count, channels);
        for (uint64_t c = start; c < end; c++) {
            if (mergeBuffer[c] || m.copyZero) {
                frame[c] = mergeBuffer[c];
                mergeBuffer[c] = 0;
            }
        }
    }
}

int convertTAVOFile(TAVOFile& input, TAVOConvertOptions& opts) {
    std::unique_ptr<TAVOFile> out(
        TAVOFile::createTAVOFile(opts.outputFile, opts.versionMajor, opts.compressionType, opts.compressionLevel));
    if (!out) {
        printf("Failed to create TAVO file (returned nullptr)!\n");
        return 1;
    }
    auto fail = [&](const char* what) {
        printf("%s\n", what);
        bool onDisk = !out->isMemoryTarget();
        out.reset();
        if (onDisk) {
            unlink(opts.outputFile.c_str());
        }
        return 1;
    };
    out->enableMinorVersionFeatures((uint8_t)opts.versionMinor);
    if (opts.ranges.empty()) {
        opts.ranges.emplace_back(0, 999999999);
    } else if (opts.versionMajor == 2 && opts.sparse) {
        if (auto* v2 = dynamic_cast<V2TAVOFile*>(out.get())) {
            v2->sparseRanges = opts.ranges;
        }
    }
    input.prepareRead(opts.ranges, 0);
    out->initializeFromTAVO(input);
    if (!out->writeHeader()) {
        return fail("Failed to write the TAVO file header; the output cannot hold this sequence (see the log).");
    }

    // Frames are handed to the writer whole, so the buffers span every channel it takes.
    uint32_t channels = std::max({TAVOUTILS_BUFFER_CHANNELS, out->getMaxChannel(), out->channelCount, input.getMaxChannel()});
    std::vector<uint8_t> frame(channels, 0);
    std::vector<uint8_t> mergeBuffer(channels, 0);
    for (uint32_t f = 0; f < input.numFrames; f++) {
        std::unique_ptr<TAVOFile::FrameData> data(input.getFrame(f));
        if (!data) {
            printf("Failed to read frame %u of %s\n", f, input.filename.c_str());
            return fail("Conversion stopped; no output written.");
        }
        data->readFrame(frame.data(), channels);
        data.reset();
        for (auto& m : opts.merges) {
            if (m.file) {
                mergeFrame(m, f, frame.data(), mergeBuffer.data(), channels);
            }
        }
        out->addFrame(f, frame.data());
    }
    if (!out->finalize()) {
        return fail("Failed to write the TAVO file (see the log).");
    }
    if (out->isMemoryTarget()) {
        printf("size: %d\n", (int)out->memoryBuffer.size());
    }
    return 0;
}
