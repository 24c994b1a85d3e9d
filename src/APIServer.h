#pragma once

#include <memory>

#include "httpserver/webserver.h"

class PlayerResource;
class PlayerControlResource;
class UnavailableResource;

// The daemon's HTTP API on port 32322: "/kivd" (PlayerResource), "/player",
// the command registry's "/command", "/commands" and "/commandPresets", and
// the mounts of subsystems this player does not have yet ("/kivd/ports",
// "/kivd/testing", "/models", "/overlays", "/gpio"), which answer 404 with a
// JSON error naming what is missing.
//
// The daemon creates one, calls Init() once after the other subsystems
// exist, and destroys it at shutdown (the destructor stops the server).
class APIServer {
public:
    static constexpr uint16_t PORT = 32322;

    APIServer();
    ~APIServer();

    // False (with a log line) when the server cannot listen; port 0 is for
    // tests that want an ephemeral port.
    bool Init(uint16_t port = PORT);
    // The port actually bound; 0 when not running.
    uint16_t Port() const;

private:
    std::unique_ptr<httpserver::webserver> m_server;
    std::unique_ptr<PlayerResource> m_playerResource;
    std::unique_ptr<PlayerControlResource> m_playerControl;
    std::unique_ptr<UnavailableResource> m_unavailable;
};
