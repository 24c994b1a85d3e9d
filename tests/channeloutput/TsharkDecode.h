#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

// Runs tshark over a pcap file and returns one line of comma-separated fields per packet
// ("-e" options in `fields`; add "-e _ws.malformed" to see malformed-packet marks).
// E1.31 needs the ACN heuristics and DMX decoding switched on.
inline bool tsharkAvailable() { return std::system("command -v tshark >/dev/null 2>&1") == 0; }

inline std::vector<std::string> tsharkFields(const std::string& pcap, const std::string& fields) {
    const std::string cmd = "timeout 60 tshark -r '" + pcap +
                            "' --enable-heuristic acn -o acn.dmx_enable:TRUE -T fields "
                            "-E separator=, " + fields + " 2>/dev/null";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
        pclose(p);
    }
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string l;
    while (std::getline(in, l))
        if (!l.empty()) lines.push_back(l);
    return lines;
}
