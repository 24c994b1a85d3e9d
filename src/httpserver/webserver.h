#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "http_resource.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace httpserver {

// Parameters of a webserver, set by chained calls:
//   webserver ws(create_webserver(32322).max_threads(10).connection_timeout(180));
class create_webserver {
public:
    // Port 0 binds an ephemeral port; get_bound_port() tells which.
    explicit create_webserver(uint16_t port = 0) : m_port(port) {}

    // Worker threads polling the connections; a connection is served by one of
    // them but never owns it while it waits for bytes, so idle clients cost no thread.
    create_webserver& max_threads(unsigned n) { m_threads = n; return *this; }
    // Seconds of silence after which a connection is closed (0: never).
    create_webserver& connection_timeout(unsigned seconds) { m_timeout = seconds; return *this; }
    // Numeric IPv4 address to listen on; empty listens on every address.
    create_webserver& bind_address(std::string ip) { m_bindAddress = std::move(ip); return *this; }
    // Largest request body kept; a larger one is answered 413 and not kept.
    create_webserver& max_body_size(size_t bytes) { m_maxBody = bytes; return *this; }
    // Memory for the request line and headers of one connection; a request
    // whose headers do not fit is refused by the server with a 4xx answer.
    create_webserver& max_header_size(size_t bytes) { m_maxHeader = bytes; return *this; }
    create_webserver& max_connections(unsigned n) { m_maxConnections = n; return *this; }

    uint16_t m_port;
    unsigned m_threads = 1;
    unsigned m_timeout = 180;
    std::string m_bindAddress;
    size_t m_maxBody = 1024 * 1024;
    size_t m_maxHeader = 32 * 1024;
    unsigned m_maxConnections = 256;
};

// An HTTP server over libmicrohttpd with resources mounted on paths.
// Resources are not owned; each must outlive its registration. Registration
// may change while the server runs: unregister_resource waits for requests
// that are being rendered by that path's resource to finish.
class webserver {
public:
    explicit webserver(const create_webserver& params);
    ~webserver();
    webserver(const webserver&) = delete;
    webserver& operator=(const webserver&) = delete;

    // Starts listening; with blocking true, returns only after stop() from
    // another thread. False (and a log line) when the port cannot be bound.
    bool start(bool blocking = false);
    // Closes every connection and joins the workers; waits for running render_*.
    void stop();
    bool is_running() const;
    // The port actually bound (useful with port 0); 0 when not running.
    uint16_t get_bound_port() const;

    // Mounts res on path; with family true also on everything below it
    // ("/command" serves "/command/x", not "/commandPresets"). The longest
    // matching path wins. A second registration of a path replaces the first.
    bool register_resource(const std::string& path, http_resource* res, bool family = true);
    void unregister_resource(const std::string& path);

    const create_webserver& params() const { return m_params; }

private:
    struct Route {
        http_resource* resource;
        bool family;
    };
    friend struct webserver_glue;

    std::shared_ptr<http_response> dispatch(const http_request& req);
    uint16_t get_bound_port_locked() const;

    create_webserver m_params;
    MHD_Daemon* m_daemon = nullptr;
    mutable std::mutex m_stateLock;
    std::condition_variable m_stopped;

    // Read by every request, written by (un)registration.
    mutable std::shared_mutex m_routesLock;
    std::map<std::string, Route> m_routes;
};

} // namespace httpserver
