#pragma once

// kivd's command line: options applied to the settings, the usage text, and the arguments
// a restart passes to the next process.

#include <string>
#include <vector>

// What main does after the options were read.
struct KivdCommandLineResult {
    bool exit = false; // true: end the process with `status` now
    int status = 0;
};

// Reads argv with the short options "Vfdrv:m:l:p:P:HCh" and their long forms, applying each
// to the settings as it goes. -V, -h, -H, -C, a bad mode and unknown options end the run.
KivdCommandLineResult ParseKivdCommandLine(int argc, char* argv[]);

void PrintKivdUsage(const char* program);

// The arguments (after the program name) of the process that replaces this one on restart:
// the same daemon mode, the log levels in force, "-r", and the scheduled playlist to resume
// (position is the player's current 1-based item; the new process starts at the one before,
// so that the item that was playing plays again).
std::vector<std::string> BuildRestartArguments(bool daemonize, const std::string& logLevels,
                                               bool resumeScheduled, const std::string& playlist,
                                               int position);
