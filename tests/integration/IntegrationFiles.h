#pragma once

// Whole-file reads and writes for the integration tests' media directories.

#include <fstream>
#include <sstream>
#include <string>

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
