#pragma once

#include <json/json.h>

#include <string>

#include "httpserver/http_resource.h"

// The daemon's own endpoints under "/kivd": status, version, log levels,
// warnings, volume, outputs, the bridge's statistics, schedule, shutdown.
// No state of its own; safe on every worker thread at once.
class PlayerResource : public httpserver::http_resource {
public:
    std::shared_ptr<httpserver::http_response> render_GET(const httpserver::http_request& req) override;
    std::shared_ptr<httpserver::http_response> render_POST(const httpserver::http_request& req) override;
    std::shared_ptr<httpserver::http_response> render_PUT(const httpserver::http_request& req) override;
    std::shared_ptr<httpserver::http_response> render_DELETE(const httpserver::http_request& req) override;
};

// The result-object keys "Status", "respCode" and "Message".
void SetOKResult(Json::Value& result, const std::string& message);
void SetErrorResult(Json::Value& result, int code, const std::string& message);
// The status object of GET /kivd/status.
void GetCurrentKIVDStatus(Json::Value& result);
// A result object as the answer: status from its "respCode", compact JSON.
std::shared_ptr<httpserver::http_response> JsonResultResponse(const httpserver::http_request& req,
                                                              const Json::Value& result, int code,
                                                              const std::string& contentType = "application/json");
// Parses a request body that must be a JSON object; false with an error result otherwise.
bool ParseObjectBody(const std::string& body, Json::Value& out, Json::Value& error);
