#pragma once

#include "httpserver/http_resource.h"

// "/player": the playlist player's status and control.
//   GET  /player             the player's status keys and "playlist" (its info)
//   POST /player  {"command": "start", "playlist": NAME, "repeat": bool, "item": N}
//                 {"command": "stopGracefully" | "stopAfterLoop" | "stopNow" |
//                             "next" | "previous" | "pause" | "resume"}
// Answers are result objects ("Status", "respCode", "Message").
class PlayerControlResource : public httpserver::http_resource {
public:
    std::shared_ptr<httpserver::http_response> render_GET(const httpserver::http_request& req) override;
    std::shared_ptr<httpserver::http_response> render_POST(const httpserver::http_request& req) override;
};
