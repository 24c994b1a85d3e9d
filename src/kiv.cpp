// kiv: sends one request to the running kivd and prints its reply.
#include <cstdio>
#include <string>
#include <vector>

#include <json/json.h>

#include "ControlSocketClient.h"
#include "FrameBufferDevices.h"
#include "KivClientRequest.h"
#include "common.h"
#include "kivversion.h"
#include "log.h"
#include "settings.h"

static std::string compactJson(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    return Json::writeString(b, v);
}

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv, argv + argc);
    KivClientRequest req = ParseKivClientArgs(args);
    switch (req.action) {
    case KivClientAction::None:
        return 0;
    case KivClientAction::Usage:
        fputs(KivClientUsage(args[0]).c_str(), stdout);
        return 0;
    case KivClientAction::Version:
        printVersionInfo();
        return 0;
    default:
        break;
    }

    // Standard output carries only the reply, which scripts parse; diagnostics go to stderr.
    SetLogFile("stderr", false);
    LoadSettings(argv[0]);

    if (req.action == KivClientAction::PostCommand) {
        Json::Value cmd;
        cmd["command"] = req.command[0];
        cmd["args"] = Json::Value(Json::arrayValue);
        for (size_t i = 1; i < req.command.size(); i++) {
            cmd["args"].append(req.command[i]);
        }
        std::string response;
        urlPost("http://localhost/api/command", compactJson(cmd), response);
        printf("Result: %s\n", response.c_str());
        return 0;
    }
    if (req.action == KivClientAction::ListDisplays || req.action == KivClientAction::ListDisplaysDebug) {
        Json::Value result;
        std::string dir = getSetting("framebufferControlSocketPath", "/dev") + "/";
        GetFrameBufferDevices(result, req.action == KivClientAction::ListDisplaysDebug, dir);
        printf("%s\n", result.empty() ? "[]" : compactJson(result).c_str());
        return 0;
    }

    ControlSocketClient client;
    std::string reply;
    if (client.Exchange(req.request, reply)) {
        fputs(reply.c_str(), stdout);
    } else {
        fputs("false", stdout);
    }
    return 0;
}
