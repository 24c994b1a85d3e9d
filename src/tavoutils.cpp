// tavoutils: prints a sequence file's metadata as JSON, converts it to another version or
// compression, cuts it to channel ranges, and merges other sequences onto it.

#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "TAVOFile.h"
#include "TAVOUtils.h"
#include "kivversion.h"
#include "log.h"

static void usage(const char* program) {
    printf("Usage: %s [OPTIONS] FileName.tavo\n", program);
    static const char* lines[] = {
        "",
        "  Options:",
        "   -V                - Print version information",
        "   -v                - verbose",
        "   -o OUTPUTFILE     - Filename for Output TAVO",
        "   -m TAVOFILE       - TAVO to merge onto the input, ignoring 0",
        "   -M[ TAVOFILE      - TAVO to merge onto the input, copy 0",
        "   -f #              - TAVO Version",
        "   -c (none|zstd|zlib) - Compession type",
        "   -l #              - Compression level (-99 for default)",
        "   -r (#-# | #+#)    - Channel Range.  Use - to separate start/end channel",
        "                            Use + to separate start channel + num channels",
        "                       If used before first -m/-M argument, sets a sparse range of output",
        "                       If used after -m/-M argument, sets a range to read from last merged sequence.",
        "   -n                - No Sparse. -r will only read the range, but the resulting tavo is not sparse.",
        "   -j                - Output the tavo file metadata to json",
        "   -h                - This help output",
    };
    for (const char* l : lines) {
        printf("%s\n", l);
    }
}

int main(int argc, char* argv[]) {
    TAVOConvertOptions opts;
    bool json = false;
    bool verbose = false;
    static const struct option longOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"output", required_argument, nullptr, 'o'},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "c:l:o:f:r:m:M:hjVvn", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'c':
            if (!strcmp(optarg, "none")) {
                opts.compressionType = TAVOFile::none;
            } else if (!strcmp(optarg, "zstd")) {
                opts.compressionType = TAVOFile::zstd;
            } else if (!strcmp(optarg, "zlib")) {
                opts.compressionType = TAVOFile::zlib;
            } else {
                printf("Unknown compression type: %s\n", optarg);
                return 1;
            }
            break;
        case 'l':
            opts.compressionLevel = atoi(optarg);
            break;
        case 'o':
            opts.outputFile = optarg;
            break;
        case 'f': {
            opts.versionMajor = atoi(optarg);
            const char* dot = strchr(optarg, '.');
            if (dot) {
                opts.versionMinor = atoi(dot + 1);
            }
            break;
        }
        case 'r': {
            std::pair<uint32_t, uint32_t> range;
            std::string error;
            if (!parseTAVOChannelRange(optarg, range, error)) {
                printf("%s\n", error.c_str());
                return 1;
            }
            (opts.merges.empty() ? opts.ranges : opts.merges.back().ranges).push_back(range);
            break;
        }
        case 'm':
        case 'M':
            opts.merges.push_back(MergeTAVO{optarg, {}, c == 'M', nullptr});
            break;
        case 'n':
            opts.sparse = false;
            break;
        case 'j':
            json = true;
            break;
        case 'v':
            verbose = true;
            break;
        case 'V':
            printVersionInfo();
            return 0;
        case 'h':
            usage(argv[0]);
            return 0;
        default:
            usage(argv[0]);
            return 1;
        }
    }
    if (optind >= argc) {
        return 0;  // nothing asked
    }
    std::string inputName = argv[optind];

    if (verbose) {
        SetLogLevel("debug");
    } else {
        SetLogFile("stderr", false);
    }

    TAVOFile* input = TAVOFile::openTAVOFile(inputName);
    if (!input) {
        return 1;  // the reader has logged why
    }
    int status = 0;
    if (json) {
        fputs(getTAVOMetadataJSON(inputName, *input).c_str(), stdout);
    } else {
        for (auto& m : opts.merges) {
            m.file = TAVOFile::openTAVOFile(m.filename);
            if (m.file && m.ranges.empty()) {
                m.ranges.emplace_back(0, TAVOUTILS_BUFFER_CHANNELS);
            }
        }
        if (opts.outputFile.empty()) {
            if (!verbose) {
                printf("No output file defined!\n");
                printf("Use -v to enable verbose output printing for file information.\n");
            }
        } else {
            status = convertTAVOFile(*input, opts);
        }
    }
    for (auto& m : opts.merges) {
        delete m.file;
    }
    delete input;
    return status;
}
