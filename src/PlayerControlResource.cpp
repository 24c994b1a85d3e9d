#include "PlayerControlResource.h"

#include "Player.h"
#include "PlayerResource.h"
#include "log.h"

using httpserver::http_request;
using httpserver::http_response;
using httpserver::string_response;

namespace {

int Code(const Json::Value& r) { return r["respCode"].asInt(); }

} // namespace

std::shared_ptr<http_response> PlayerControlResource::render_GET(const http_request& req) {
    LogDebug(kivlog::HTTP, "API Req: %s%s\n", req.get_path().c_str(), req.get_querystring().c_str());
    Json::Value result;
    if (req.get_path_pieces().size() > 1) {
        SetErrorResult(result, 404, "endpoint " + req.get_path().substr(1) + " does not exist");
        return JsonResultResponse(req, result, 404);
    }
    Player::INSTANCE.GetCurrentStatus(result);
    result["playlist"] = Player::INSTANCE.GetInfo();
    SetOKResult(result, "");
    return JsonResultResponse(req, result, 200);
}

std::shared_ptr<http_response> PlayerControlResource::render_POST(const http_request& req) {
    LogDebug(kivlog::HTTP, "API Req: %s%s\n", req.get_path().c_str(), req.get_querystring().c_str());
    Json::Value body, result;
    if (!ParseObjectBody(req.get_content(), body, result)) {
        if (!result.isMember("Status")) {
            SetErrorResult(result, 400, "The request body is not valid JSON");
        }
        return JsonResultResponse(req, result, 400);
    }
    if (!body["command"].isString()) {
        SetErrorResult(result, 400, "'command' field not specified");
        return JsonResultResponse(req, result, 400);
    }
    std::string cmd = body["command"].asString();
    Player& p = Player::INSTANCE;
    if (cmd == "start") {
        const Json::Value& name = body["playlist"];
        const Json::Value& repeat = body["repeat"];
        const Json::Value& item = body["item"];
        if (!name.isString() || name.asString().empty()) {
            SetErrorResult(result, 400, "'playlist' must be the name of a playlist");
        } else if (!repeat.isNull() && !repeat.isBool()) {
            SetErrorResult(result, 400, "'repeat' must be true or false");
        } else if (!item.isNull() && !item.isInt()) {
            SetErrorResult(result, 400, "'item' must be a whole number");
        } else if (!p.StartPlaylist(name.asString(), repeat.isNull() ? -1 : (repeat.asBool() ? 1 : 0),
                                    item.isNull() ? -1 : item.asInt())) {
            SetErrorResult(result, 404, "Playlist '" + name.asString() + "' does not exist or cannot be played");
        } else {
            SetOKResult(result, "Playlist '" + name.asString() + "' started");
        }
    } else if (cmd == "stopGracefully" || cmd == "stopAfterLoop" || cmd == "stopNow" || cmd == "next" ||
               cmd == "previous" || cmd == "pause" || cmd == "resume") {
        if (!p.IsPlaying()) {
            SetErrorResult(result, 400, "No playlist is playing");
        } else {
            if (cmd == "stopGracefully") {
                p.StopGracefully(1, 0);
            } else if (cmd == "stopAfterLoop") {
                p.StopGracefully(1, 1);
            } else if (cmd == "stopNow") {
                p.StopNow(1);
            } else if (cmd == "next") {
                p.NextItem();
            } else if (cmd == "previous") {
                p.PrevItem();
            } else if (cmd == "pause") {
                p.Pause();
            } else {
                p.Resume();
            }
            SetOKResult(result, cmd);
        }
    } else {
        SetErrorResult(result, 400, "Unknown player command '" + cmd + "'");
    }
    return JsonResultResponse(req, result, Code(result));
}
