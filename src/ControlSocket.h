#pragma once

#include <string>

// The daemon side of the local control socket: a Unix datagram socket on which local
// clients (`kiv`, scripts) send one request per datagram and get one reply datagram back.
// Everything runs on the daemon's main loop. Signals are the daemon's business: nothing
// here installs a handler.

constexpr const char* CONTROL_SOCKET_DIR = "/run/kivd";
constexpr const char* CONTROL_SOCKET_PATH = "/run/kivd/KIVD";
constexpr const char* CONTROL_SOCKET_LINK = "/tmp/KIVD";

// Opens "/run/kivd/KIVD" (making "/run/kivd" writable for all, with the sticky bit so no
// user can remove another's socket) and the "/tmp/KIVD" link. Returns the non-blocking
// descriptor for the main loop; when the socket cannot be made, prints why and ends the
// process with status 1.
int Command_Initialize();
// The same at other paths (linkPath "" makes no link); -1 on failure instead of exiting.
int Command_Initialize(const std::string& dir, const std::string& socketPath, const std::string& linkPath);
// Answers the waiting requests (at most a bounded number per call, so a flood cannot hold
// the main loop; the rest stay readable for its next pass). Never blocks.
void CommandProc();
// Closes the socket and removes its file; the link stays.
void CloseCommand();
