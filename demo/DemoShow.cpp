// Writes the demo show into a media directory: three sequences drawn by code, a playlist
// that loops them, a schedule that plays it all day, E1.31 unicast to 127.0.0.1, settings.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "TAVOFile.h"

namespace {

constexpr int PIXELS = 170;             // one E1.31 universe of RGB pixels holds 170
constexpr int UNIVERSES = 3;
constexpr int CHANNELS = PIXELS * 3 * UNIVERSES;
constexpr int STEP_MS = 25;             // 40 frames per second
constexpr int FRAMES = 40 * 10;         // ten seconds each

using Painter = void (*)(std::vector<uint8_t>& frame, int f);

void hsvToRgb(double h, uint8_t* rgb) {
    double r = std::fabs(std::fmod(h * 6.0, 6.0) - 3.0) - 1.0;
    double g = 2.0 - std::fabs(std::fmod(h * 6.0, 6.0) - 2.0);
    double b = 2.0 - std::fabs(std::fmod(h * 6.0, 6.0) - 4.0);
    auto clamp = [](double v) { return (uint8_t)(255.0 * std::fmin(1.0, std::fmax(0.0, v))); };
    rgb[0] = clamp(r);
    rgb[1] = clamp(g);
    rgb[2] = clamp(b);
}

void rainbow(std::vector<uint8_t>& frame, int f) {
    for (int p = 0; p < CHANNELS / 3; p++) {
        hsvToRgb(std::fmod(p / 120.0 + f / 200.0, 1.0), &frame[p * 3]);
    }
}

void chase(std::vector<uint8_t>& frame, int f) {
    std::fill(frame.begin(), frame.end(), 0);
    for (int p = 0; p < CHANNELS / 3; p++) {
        int d = (p + CHANNELS / 3 - (f * 2) % (CHANNELS / 3)) % 20;
        uint8_t v = d < 5 ? (uint8_t)(255 - d * 50) : 0;
        frame[p * 3] = v;
        frame[p * 3 + 1] = v / 2;
    }
}

void fade(std::vector<uint8_t>& frame, int f) {
    // White breathing on the first universe, steady blue on the rest.
    uint8_t level = (uint8_t)(127.5 + 127.5 * std::sin(f * 2 * M_PI / 80.0));
    for (int c = 0; c < CHANNELS; c++) {
        frame[c] = c < PIXELS * 3 ? level : ((c % 3) == 2 ? 180 : 0);
    }
}

bool writeSequence(const std::string& path, Painter paint) {
    std::unique_ptr<TAVOFile> f(TAVOFile::createTAVOFile(path, 2, TAVOFile::zstd));
    if (!f) {
        return false;
    }
    f->channelCount = CHANNELS;
    f->numFrames = FRAMES;
    f->stepTime = STEP_MS;
    if (!f->writeHeader()) {
        return false;
    }
    std::vector<uint8_t> frame(CHANNELS);
    for (int i = 0; i < FRAMES; i++) {
        paint(frame, i);
        f->addFrame(i, frame.data());
    }
    return f->finalize();
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return (bool)out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "Usage: %s MEDIA_DIR\n", argv[0]);
        return 1;
    }
    std::string media = argv[1];
    for (auto sub : {"sequences", "playlists", "config", "logs", "tmp", "scripts"}) {
        std::filesystem::create_directories(media + "/" + sub);
    }
    struct {
        const char* name;
        Painter paint;
    } shows[] = {{"Rainbow.tavo", rainbow}, {"Chase.tavo", chase}, {"Fade.tavo", fade}};
    for (auto& s : shows) {
        if (!writeSequence(media + "/sequences/" + s.name, s.paint)) {
            fprintf(stderr, "Could not write %s\n", s.name);
            return 1;
        }
    }
    bool ok = writeText(media + "/playlists/Demo.json",
                        R"({"name": "Demo", "repeat": 1, "leadIn": [], "mainPlaylist": [
  {"type": "sequence", "sequenceName": "Rainbow.tavo"},
  {"type": "sequence", "sequenceName": "Chase.tavo"},
  {"type": "pause", "duration": 1},
  {"type": "sequence", "sequenceName": "Fade.tavo"}
], "leadOut": []}
)");
    ok = ok && writeText(media + "/config/channeloutputs.json",
                         R"({"channelOutputs": [{"type": "UDP", "enabled": 1, "startChannel": 1, "channelCount": -1,
  "interface": "lo", "threaded": 0,
  "universes": [{"type": 1, "address": "127.0.0.1", "startChannel": 1, "channelCount": 510,
                 "id": 1, "universeCount": 3, "description": "demo receiver on loopback"}]}]}
)");
    ok = ok && writeText(media + "/config/schedule.json",
                         R"([{"enabled": 1, "sequence": 0, "playlist": "Demo", "dayIndex": 7,
  "startTime": "00:00:00", "endTime": "23:59:59", "repeat": 1, "stopType": 0,
  "startDate": "0000-01-01", "endDate": "0000-12-31"}]
)");
    // The receiver is this machine itself, so the loop guard must let it through.
    ok = ok && writeText(media + "/settings", "DisableFakeNetworkBridges = \"1\"\n");
    if (!ok) {
        fprintf(stderr, "Could not write the demo configuration in %s\n", media.c_str());
        return 1;
    }
    printf("Demo show written to %s\n", media.c_str());
    return 0;
}
