#pragma once

#include <string>
#include <vector>

// What one run of the command-line client does, decided from its arguments alone.
enum class KivClientAction {
    None,          // no option: do nothing, exit 0
    Usage,         // print the usage text
    Version,       // print the version information
    Send,          // send `request` to the daemon's control socket and print the reply
    PostCommand,   // post `command` to the local web server's command endpoint
    ListDisplays,  // list framebuffer and DRM devices
    ListDisplaysDebug,
};

struct KivClientRequest {
    KivClientAction action = KivClientAction::None;
    std::string request;                 // for Send: the control-socket request text
    std::vector<std::string> command;    // for PostCommand: the command name and its arguments
};

// The control-socket request is formatted into a buffer of this size (the last byte ends it).
constexpr size_t KIV_CLIENT_REQUEST_SIZE = 8192;

// Turns the program's arguments (args[0] is the program name) into one action.
KivClientRequest ParseKivClientArgs(const std::vector<std::string>& args);

// The usage text with the program name filled in.
std::string KivClientUsage(const std::string& programName);
