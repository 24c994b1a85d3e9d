// libFuzzer target: any bytes as a sequence file must give a null file, null frames or
// frames, never a crash, hang, out-of-bounds access or unbounded allocation.

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "TAVOFile.h"
#include "log.h"

static std::string fuzzPath() {
    char name[] = "/tmp/tavofuzz-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) {
        close(fd);
    }
    return name;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzzPath();
    static bool quiet = [] {
        KIVLogger::INSTANCE.SetAllLevel((LogLevel)0);  // the reader logs every fault; keep runs fast
        return true;
    }();
    (void)quiet;

    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        return 0;
    }
    fwrite(data, 1, size, f);
    fclose(f);

    std::unique_ptr<TAVOFile> seq(TAVOFile::openTAVOFile(path));
    if (!seq) {
        return 0;
    }
    std::vector<uint8_t> buffer(4096);
    seq->prepareRead({{0, 2048}, {3000, 5000}}, size % 3);
    uint32_t frames = std::min<uint32_t>(seq->numFrames, 40);
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < frames; i++) {
        order.push_back(i);
    }
    order.push_back(seq->numFrames ? seq->numFrames - 1 : 0);
    order.push_back(seq->numFrames);
    order.push_back(0);
    for (uint32_t i : order) {
        std::unique_ptr<TAVOFile::FrameData> frame(seq->getFrame(i));
        if (frame) {
            frame->readFrame(buffer.data(), (uint32_t)buffer.size());
        }
    }
    seq->getMediaFilename();
    return 0;
}
