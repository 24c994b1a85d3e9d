// The registry's HTTP resource: GET /commands[/name], GET /commandPresets[/name],
// GET /command/name/args..., POST /command and POST /command/name.

#include <chrono>
#include <thread>

#include "CommandManager.h"
#include "common.h"
#include "httpserver/http_response.h"
#include "log.h"

using httpserver::http_request;
using httpserver::http_response;
using httpserver::string_response;

namespace {

// A command gets this long (1000 polls of 1 ms) before the request gives up on it.
constexpr int RESULT_POLLS = 1000;

std::shared_ptr<http_response> jsonAnswer(const Json::Value& v) {
    return std::make_shared<string_response>(SaveJsonToString(v, "  "), 200, "application/json");
}

std::shared_ptr<http_response> notFound() {
    return std::make_shared<string_response>("Not Found", 404, "text/plain");
}

std::shared_ptr<http_response> badRequest(const std::string& message) {
    return std::make_shared<string_response>(message, 400, "text/plain");
}

} // namespace

std::shared_ptr<http_response> CommandManager::answerResult(const Command::ResultPtr& result,
                                                            bool plainText) {
    for (int i = 0; i < RESULT_POLLS && !result->isDone(); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!result->isDone()) {
        // The command goes on; it holds its own reference to the result.
        return std::make_shared<string_response>("Timeout running command", 500, "text/plain");
    }
    return std::make_shared<string_response>(result->get(), result->isError() ? 500 : 200,
                                             plainText ? "text/plain" : result->contentType());
}

std::shared_ptr<http_response> CommandManager::renderCommandPresets(const http_request& req) {
    const auto& pieces = req.get_path_pieces();
    Json::Value file;
    std::string path = PresetsFile();
    if (FileExists(path)) {
        LoadJsonFromFile(path, file);
    }
    const Json::Value& commands = file.isObject() ? file["commands"] : Json::Value::nullSingleton();
    if (pieces.size() > 1) {
        if (commands.isArray()) {
            for (const auto& entry : commands) {
                if (entry.isObject() && entry["name"].isString() &&
                    entry["name"].asString() == pieces[1]) {
                    return jsonAnswer(entry);
                }
            }
        }
        return notFound();
    }
    if (req.get_arg("names") == "true") {
        Json::Value names;  // null when there are none
        if (commands.isArray()) {
            for (const auto& entry : commands) {
                if (entry.isObject() && entry["name"].isString()) {
                    names.append(entry["name"].asString());
                }
            }
        }
        return jsonAnswer(names);
    }
    return jsonAnswer(file);
}

std::shared_ptr<http_response> CommandManager::render_GET(const http_request& req) {
    const auto& pieces = req.get_path_pieces();
    if (pieces.empty()) {
        return notFound();
    }
    if (pieces[0] == "commands") {
        if (pieces.size() == 1) {
            return jsonAnswer(getDescriptions());
        }
        Json::Value d = getDescription(pieces[1]);
        return d.isNull() ? notFound() : jsonAnswer(d);
    }
    if (pieces[0] == "commandPresets") {
        return renderCommandPresets(req);
    }
    if (pieces[0] == "command" && pieces.size() > 1) {
        const std::string& name = pieces[1];
        if (!hasCommand(name)) {
            return notFound();
        }
        LogDebug(kivlog::Command, "Running command \"%s\"\n", name.c_str());
        std::vector<std::string> args(pieces.begin() + 2, pieces.end());
        return answerResult(run(name, args), true);
    }
    return notFound();
}

std::shared_ptr<http_response> CommandManager::render_POST(const http_request& req) {
    const auto& pieces = req.get_path_pieces();
    if (pieces.empty() || pieces[0] != "command") {
        return notFound();
    }
    Json::Value body;
    const std::string& content = req.get_content();
    bool blank = content.find_first_not_of(" \t\r\n") == std::string::npos;
    if (!blank && !LoadJsonFromString(content, body)) {
        return badRequest("The request body is not valid JSON");
    }
    if (pieces.size() == 1) {
        if (!body.isObject()) {
            return badRequest("The request body must be a JSON command object");
        }
        if (!body["command"].isString()) {
            return badRequest("The command object has no \"command\" name");
        }
        LogDebug(kivlog::Command, "Running command \"%s\"\n", body["command"].asCString());
        return answerResult(run(body), false);
    }
    const std::string& name = pieces[1];
    if (!hasCommand(name)) {
        return notFound();
    }
    // An empty body runs the command without arguments.
    if (!blank && !body.isArray()) {
        return badRequest("The request body must be a JSON array of arguments");
    }
    LogDebug(kivlog::Command, "Running command \"%s\"\n", name.c_str());
    return answerResult(run(name, body), false);
}
