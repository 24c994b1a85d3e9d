// libFuzzer target: any bytes as a control-socket request must give one reply line of at
// most 1499 characters, never a crash, hang or out-of-bounds access. The requests run
// against the real player and engine over an empty media folder with two playlists, so
// starting, stepping and stopping playlists is reached too.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ControlCommand.h"
#include "Player.h"
#include "Sequence.h"
#include "log.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    char tmpl[] = "/tmp/kiv-ctlfuzz-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir) {
        abort();
    }
    std::string media = dir;
    for (auto sub : {"config", "sequences", "playlists"}) {
        std::filesystem::create_directories(media + "/" + sub);
    }
    std::ofstream(media + "/playlists/show.json")
        << R"({"name": "show", "mainPlaylist": [{"type": "pause", "duration": 30}, {"type": "pause", "duration": 1}]})";
    std::ofstream(media + "/playlists/once.json") << R"({"name": "once", "mainPlaylist": [{"type": "pause", "duration": 5}]})";
    setenv("KIV_MEDIA_DIR", media.c_str(), 1);
    sequence = new Sequence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Requests may raise log levels; keep every run quiet and fast.
    KIVLogger::INSTANCE.SetAllLevel((LogLevel)0);
    std::string reply = ProcessCommand(std::string_view((const char*)data, size));
    if (reply.empty() || reply.size() > CONTROL_REPLY_MAX) {
        abort();
    }
    Player::INSTANCE.Process();
    return 0;
}
