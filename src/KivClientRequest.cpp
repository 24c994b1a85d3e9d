#include "KivClientRequest.h"

#include <cstdio>

namespace {

// A request never grows past the client's request buffer.
std::string bounded(std::string s) {
    if (s.size() > KIV_CLIENT_REQUEST_SIZE - 1) {
        s.resize(KIV_CLIENT_REQUEST_SIZE - 1);
    }
    return s;
}

KivClientRequest send(const std::string& request) {
    KivClientRequest r;
    r.action = KivClientAction::Send;
    r.request = bounded(request);
    return r;
}

KivClientRequest usage() {
    KivClientRequest r;
    r.action = KivClientAction::Usage;
    return r;
}

std::string playlistAction(const std::string& word) {
    static const struct {
        const char* word;
        const char* request;
    } actions[] = {
        {"next", "NextPlaylistItem"},      {"prev", "PrevPlaylistItem"}, {"pause", "ToggleSequencePause"},
        {"step", "SingleStepSequence"},    {"stepback", "SingleStepSequenceBack"},
        {"stop", "StopNow"},               {"graceful", "StopGracefully"},
    };
    for (auto& a : actions) {
        if (word == a.word) {
            return a.request;
        }
    }
    return ""; // the daemon does not answer an empty request, so the client prints "false"
}

} // namespace

KivClientRequest ParseKivClientArgs(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        return {};
    }
    const std::string& opt = args[1];
    std::vector<std::string> rest(args.begin() + 2, args.end());
    const size_t n = rest.size();

    if (opt == "--log-level") {
        return n ? send("LogLevel," + rest[0] + ",") : usage();
    }
    if (opt == "--log-mask") {
        if (!n) {
            return usage();
        }
        std::string mask = rest[0].substr(0, 127);
        for (auto& c : mask) {
            if (c == ',') {
                c = ';';
            }
        }
        return send("LogMask," + mask + ",");
    }
    if (opt.compare(0, 8, "-FBdebug") == 0) {
        KivClientRequest r;
        r.action = KivClientAction::ListDisplaysDebug;
        return r;
    }
    if (opt.compare(0, 3, "-FB") == 0) {
        KivClientRequest r;
        r.action = KivClientAction::ListDisplays;
        return r;
    }
    if (opt.size() < 2 || opt[0] != '-') {
        return usage();
    }
    switch (opt[1]) {
    case 's':
        return send("s");
    case 'v':
        // Without a volume there is nothing sound to send: an empty value would mute the show.
        return n ? send("v," + rest[0] + ",") : usage();
    case 'V': {
        KivClientRequest r;
        r.action = KivClientAction::Version;
        return r;
    }
    case 'p':
    case 'P':
        if (!n) {
            return usage();
        }
        return send(std::string(1, opt[1]) + "," + rest[0] + "," + (n > 1 ? rest[1] : "") + ",");
    case 'S':
        return send("StopGracefully");
    case 'L':
        return send("StopGracefullyAfterLoop");
    case 'd':
        return send("StopNow");
    case 'q':
        return send("q");
    case 'r':
        return send("restart");
    case 'R':
        return send("R");
    case 'c':
        return n ? send(playlistAction(rest[0])) : usage();
    case 'e':
        if (!n) {
            return usage();
        }
        if (rest[0].find(',') != std::string::npos) {
            return send("e," + rest[0] + ",");
        }
        return send("e," + rest[0] + ",1,0,");
    case 'E':
        if (!n) {
            return usage();
        }
        return rest[0] == "ALL" ? send("StopAllEffects,") : send("StopEffectByName," + rest[0] + ",");
    case 't':
        return n ? send("t," + rest[0] + ",") : usage();
    case 'G':
        if (n == 1) {
            return send("SetupExtGPIO," + rest[0] + ",");
        }
        if (n == 2) {
            return send("SetupExtGPIO," + rest[0] + "," + rest[1] + ",");
        }
        return usage();
    case 'g':
        if (n == 1) {
            return send("ExtGPIO," + rest[0]);
        }
        if (n >= 3) {
            return send("ExtGPIO," + rest[0] + "," + rest[1] + "," + rest[2]);
        }
        return usage();
    case 'C': {
        if (!n) {
            return usage();
        }
        KivClientRequest r;
        r.action = KivClientAction::PostCommand;
        r.command = rest;
        return r;
    }
    default:
        return usage();
    }
}

std::string KivClientUsage(const std::string& programName) {
    struct Line {
        const char* option;
        std::vector<const char*> text;
    };
    static const Line lines[] = {
        {"-s", {"Get kivd status"}},
        {"-v VOLUME", {"Set volume to 'VOLUME'"}},
        {"-V", {"Print version information"}},
        {"-p PLAYLISTNAME [STARTITEM]", {"Play Playlist PLAYLISTNAME in repeat mode"}},
        {"-P PLAYLISTNAME [STARTITEM]",
         {"Play Playlist PLAYLISTNAME once, optionally", "starting on item STARTITEM in the playlist"}},
        {"-S", {"Stop Playlist gracefully"}},
        {"-L", {"Stop Playlist gracefully after current loop"}},
        {"-d", {"Stop Playlist immediately"}},
        {"-q", {"Shutdown kivd daemon"}},
        {"-r", {"Restart kivd daemon"}},
        {"-R", {"Reload schedule config file"}},
        {"-c PLAYLIST_ACTION",
         {"Perform a playlist action.  Actions include:", "next     - skip to next item in the playlist",
          "prev     - jump back to previous item", "stop     - stop the playlist immediately",
          "graceful - stop the playlist gracefully", "pause    - pause a sequence (not media)",
          "step     - single-step a paused sequence", "stepback - step a paused sequence backwards"}},
        {"-e EFFECTNAME[,CH[,LOOP]]",
         {"Start Effect EFFECTNAME with optional", "start channel set to CH and optional",
          "looping if LOOP is set to 1"}},
        {"-E EFFECTNAME", {"Stop Effect EFFECTNAME"}},
        {"-t CommandPresetSlot", {"Trigger KIV Command Preset via Slot # or Preset Name"}},
        {"-G GPIO [MODE]",
         {"Configure the given GPIO to MODE. MODEs include:",
          "Input    - Set to Input. For PiFace inputs this only enables the pull-up",
          "Output   - Set to Output. (This is not needed for PiFace outputs)", "SoftPWM  - Set to Software PWM."}},
        {"-g GPIO MODE VALUE",
         {"Set the given GPIO to VALUE applicable to the given MODEs defined above",
          "VALUE is ignored for Input mode"}},
        {"-C KIVCOMMAND ARG1 ARG2 ...", {"Trigger the KIV Command"}},
        {"-FB", {"Query usable framebuffer devices"}},
    };
    std::string out = "Usage: " + programName + " [OPTION...]\n\n";
    out += "kiv is the Moltan Player CLI helper utility.  It can be used to query\n";
    out += "certain information and send commands to a running kivd daemon.\n\nOptions:\n";
    char buf[512];
    for (auto& l : lines) {
        bool first = true;
        for (auto* t : l.text) {
            snprintf(buf, sizeof(buf), "  %-29s%s%s\n", first ? l.option : "", first ? "- " : "  ", t);
            out += buf;
            first = false;
        }
    }
    return out;
}
