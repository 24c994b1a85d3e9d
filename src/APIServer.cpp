#include "APIServer.h"

#include "PlayerControlResource.h"
#include "PlayerResource.h"
#include "commands/CommandManager.h"
#include "log.h"

using httpserver::http_request;
using httpserver::http_response;

// Mounts whose subsystem this player does not have yet: 404 with a JSON
// error naming what is missing, for every method.
class UnavailableResource : public httpserver::http_resource {
public:
    std::shared_ptr<http_response> render_GET(const http_request& req) override { return answer(req); }
    std::shared_ptr<http_response> render_POST(const http_request& req) override { return answer(req); }
    std::shared_ptr<http_response> render_PUT(const http_request& req) override { return answer(req); }
    std::shared_ptr<http_response> render_DELETE(const http_request& req) override { return answer(req); }

private:
    static std::shared_ptr<http_response> answer(const http_request& req) {
        const std::string& p = req.get_path();
        std::string what = "this subsystem";
        if (p.rfind("/kivd/ports", 0) == 0) {
            what = "the output monitor";
        } else if (p.rfind("/kivd/testing", 0) == 0) {
            what = "the channel tester";
        } else if (p.rfind("/models", 0) == 0 || p.rfind("/overlays", 0) == 0) {
            what = "pixel overlay models";
        } else if (p.rfind("/gpio", 0) == 0) {
            what = "GPIO";
        }
        Json::Value result;
        SetErrorResult(result, 404, p.substr(1) + " is not available: this player has no " + what + " yet");
        return JsonResultResponse(req, result, 404);
    }
};

namespace {
const char* const kUnavailable[] = {"/kivd/ports", "/kivd/testing", "/models", "/overlays", "/gpio"};
const char* const kCommandPaths[] = {"/command", "/commands", "/commandPresets"};
} // namespace

APIServer::APIServer() = default;

bool APIServer::Init(uint16_t port) {
    if (m_server) {
        return m_server->is_running();
    }
    // GET /kivd/log walks the logger list: fill it before any worker reads it.
    KIVLogger::INSTANCE.Init();
    auto params = httpserver::create_webserver(port).max_threads(10).connection_timeout(180);
    m_server = std::make_unique<httpserver::webserver>(params);
    m_playerResource = std::make_unique<PlayerResource>();
    m_playerControl = std::make_unique<PlayerControlResource>();
    m_unavailable = std::make_unique<UnavailableResource>();

    for (const char* p : kUnavailable) {
        m_server->register_resource(p, m_unavailable.get());
    }
    m_server->register_resource("/kivd", m_playerResource.get());
    for (const char* p : kCommandPaths) {
        m_server->register_resource(p, &CommandManager::INSTANCE);
    }
    m_server->register_resource("/player", m_playerControl.get());
    // Plugins have no HTTP resources of their own yet.

    if (!m_server->start(false)) {
        LogErr(kivlog::HTTP, "Could not start the HTTP API on port %d\n", (int)port);
        return false;
    }
    LogInfo(kivlog::HTTP, "HTTP API listening on port %d\n", (int)m_server->get_bound_port());
    return true;
}

uint16_t APIServer::Port() const { return m_server ? m_server->get_bound_port() : 0; }

APIServer::~APIServer() {
    if (!m_server) {
        return;
    }
    m_server->stop();
    for (const char* p : kUnavailable) {
        m_server->unregister_resource(p);
    }
    m_server->unregister_resource("/kivd");
    for (const char* p : kCommandPaths) {
        m_server->unregister_resource(p);
    }
    m_server->unregister_resource("/player");
    m_server.reset();
}
