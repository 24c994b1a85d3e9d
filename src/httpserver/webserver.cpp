#include "webserver.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "log.h"

namespace httpserver {

namespace {

// Per-request state kept by libmicrohttpd between calls of the access handler.
struct RequestState {
    std::string body;
    bool tooLarge = false;
    size_t dropped = 0;
};

// How much of an over-long chunked body is read (and dropped) so that the
// client still gets its 413; beyond it the connection is closed.
constexpr size_t MAX_DROPPED_BODY = 4 * 1024 * 1024;

std::string normalisePath(const std::string& path) {
    std::string p = path.empty() || path[0] != '/' ? "/" + path : path;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    return p;
}

MHD_Result collectValue(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* map = static_cast<std::map<std::string, std::string, header_less>*>(cls);
    if (key) {
        map->emplace(key, value ? value : "");
    }
    return MHD_YES;
}

MHD_Result collectArg(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* map = static_cast<http_request::arg_map*>(cls);
    if (key) {
        map->emplace(key, value ? value : "");
    }
    return MHD_YES;
}

std::string clientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = {0};
    const sockaddr* sa = info->client_addr;
    if (sa->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof(text));
    } else if (sa->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text, sizeof(text));
    }
    return text;
}

void mhdLogger(void*, const char* fmt, va_list ap) {
    char buf[512];
    vsnprintf(buf, sizeof(buf), fmt, ap);
    size_t len = strlen(buf);
    while (len > 0 && (buf[len - 1] == '\n' || buf[len - 1] == '\r')) {
        buf[--len] = 0;
    }
    LogWarn(kivlog::HTTP, "HTTP server: %s\n", buf);
}

MHD_Result queueResponse(MHD_Connection* connection, const http_response& resp) {
    const std::string& body = resp.get_content();
    MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    if (!r) {
        return MHD_NO;
    }
    if (!resp.get_content_type().empty()) {
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, resp.get_content_type().c_str());
    }
    for (const auto& [name, value] : resp.get_headers()) {
        MHD_add_response_header(r, name.c_str(), value.c_str());
    }
    MHD_Result ret = MHD_queue_response(connection, resp.get_response_code(), r);
    MHD_destroy_response(r);
    return ret;
}

MHD_Result queueTooLarge(MHD_Connection* connection) {
    return queueResponse(connection, string_response("Request Entity Too Large", 413));
}

} // namespace

struct webserver_glue {
    static MHD_Result access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char* uploadData,
                             size_t* uploadDataSize, void** conCls) {
        webserver* ws = static_cast<webserver*>(cls);
        const size_t maxBody = ws->m_params.m_maxBody;
        auto* state = static_cast<RequestState*>(*conCls);
        if (!state) {
            // First call: headers are in, nothing of the body is read yet. A
            // declared length over the bound is refused before any of it arrives.
            state = new RequestState();
            *conCls = state;
            const char* cl = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (cl) {
                errno = 0;
                char* end = nullptr;
                unsigned long long len = strtoull(cl, &end, 10);
                if (errno != 0 || end == cl || len > maxBody) {
                    LogWarn(kivlog::HTTP, "Refusing %s %s: body of %s bytes exceeds %zu\n", method,
                            url, cl, maxBody);
                    state->tooLarge = true;
                    return queueTooLarge(connection);
                }
                state->body.reserve(len);
            }
            return MHD_YES;
        }
        if (*uploadDataSize != 0) {
            if (!state->tooLarge && *uploadDataSize <= maxBody - state->body.size()) {
                state->body.append(uploadData, *uploadDataSize);
                *uploadDataSize = 0;
                return MHD_YES;
            }
            // A chunked body grew past the bound. The answer can only be queued
            // once the upload ends, so the rest is read and dropped; a client
            // that keeps sending far beyond the bound is cut off unanswered.
            if (!state->tooLarge) {
                LogWarn(kivlog::HTTP, "Refusing %s %s: body exceeds %zu bytes\n", method, url,
                        maxBody);
                state->tooLarge = true;
                std::string().swap(state->body);
            }
            state->dropped += *uploadDataSize;
            *uploadDataSize = 0;
            return state->dropped > MAX_DROPPED_BODY ? MHD_NO : MHD_YES;
        }
        if (state->tooLarge) {
            return queueTooLarge(connection);
        }

        http_request::arg_map args;
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collectArg, &args);
        http_request::header_map headers;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, collectValue, &headers);
        http_request req(method, url ? url : "/", std::move(args), std::move(headers),
                         std::move(state->body), clientAddress(connection));
        std::shared_ptr<http_response> resp = ws->dispatch(req);
        return queueResponse(connection, *resp);
    }

    static void completed(void*, MHD_Connection*, void** conCls, MHD_RequestTerminationCode) {
        delete static_cast<RequestState*>(*conCls);
        *conCls = nullptr;
    }
};

webserver::webserver(const create_webserver& params) : m_params(params) {}

webserver::~webserver() {
    stop();
}

bool webserver::start(bool blocking) {
    std::unique_lock<std::mutex> lock(m_stateLock);
    if (m_daemon) {
        return true;
    }
    sockaddr_in addr{};
    bool haveAddr = false;
    if (!m_params.m_bindAddress.empty()) {
        addr.sin_family = AF_INET;
        addr.sin_port = htons(m_params.m_port);
        if (inet_pton(AF_INET, m_params.m_bindAddress.c_str(), &addr.sin_addr) != 1) {
            LogErr(kivlog::HTTP, "Invalid HTTP bind address '%s'\n", m_params.m_bindAddress.c_str());
            return false;
        }
        haveAddr = true;
    }

    std::vector<MHD_OptionItem> options;
    options.push_back({MHD_OPTION_EXTERNAL_LOGGER, (intptr_t)mhdLogger, nullptr});
    options.push_back({MHD_OPTION_NOTIFY_COMPLETED, (intptr_t)&webserver_glue::completed, nullptr});
    options.push_back({MHD_OPTION_CONNECTION_TIMEOUT, (intptr_t)m_params.m_timeout, nullptr});
    options.push_back({MHD_OPTION_CONNECTION_MEMORY_LIMIT, (intptr_t)m_params.m_maxHeader, nullptr});
    options.push_back({MHD_OPTION_CONNECTION_LIMIT, (intptr_t)m_params.m_maxConnections, nullptr});
    if (m_params.m_threads > 1) {
        options.push_back({MHD_OPTION_THREAD_POOL_SIZE, (intptr_t)m_params.m_threads, nullptr});
    }
    if (haveAddr) {
        options.push_back({MHD_OPTION_SOCK_ADDR, 0, &addr});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});

    // Internal polling threads (not a thread per connection): a client that is
    // slow or silent occupies a socket, never a worker, until the time-out.
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG | MHD_USE_ITC;
    m_daemon = MHD_start_daemon(flags, m_params.m_port, nullptr, nullptr,
                                (MHD_AccessHandlerCallback)&webserver_glue::access, this,
                                MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (!m_daemon) {
        LogErr(kivlog::HTTP, "Unable to start the HTTP server on port %u: %s\n",
               (unsigned)m_params.m_port, strerror(errno));
        return false;
    }
    LogDebug(kivlog::HTTP, "HTTP server listening on port %u\n", (unsigned)get_bound_port_locked());
    if (blocking) {
        m_stopped.wait(lock, [this] { return m_daemon == nullptr; });
    }
    return true;
}

void webserver::stop() {
    MHD_Daemon* d;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        d = m_daemon;
        m_daemon = nullptr;
    }
    if (d) {
        MHD_stop_daemon(d);
        m_stopped.notify_all();
    }
}

bool webserver::is_running() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_daemon != nullptr;
}

uint16_t webserver::get_bound_port_locked() const {
    if (!m_daemon) {
        return 0;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : m_params.m_port;
}

uint16_t webserver::get_bound_port() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return get_bound_port_locked();
}

bool webserver::register_resource(const std::string& path, http_resource* res, bool family) {
    if (!res) {
        return false;
    }
    std::unique_lock<std::shared_mutex> lock(m_routesLock);
    m_routes[normalisePath(path)] = Route{res, family};
    return true;
}

void webserver::unregister_resource(const std::string& path) {
    std::unique_lock<std::shared_mutex> lock(m_routesLock);
    m_routes.erase(normalisePath(path));
}

std::shared_ptr<http_response> webserver::dispatch(const http_request& req) {
    // Held while rendering so that unregister_resource cannot pull a resource
    // out from under a running request.
    std::shared_lock<std::shared_mutex> lock(m_routesLock);
    const std::string& path = req.get_path();
    http_resource* best = nullptr;
    size_t bestLen = 0;
    for (const auto& [prefix, route] : m_routes) {
        bool match = path == prefix || (path.size() == prefix.size() + 1 && path.back() == '/' &&
                                        path.compare(0, prefix.size(), prefix) == 0);
        if (!match && route.family) {
            match = prefix == "/" ||
                    (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
                     path[prefix.size()] == '/');
        }
        if (match && (!best || prefix.size() > bestLen)) {
            best = route.resource;
            bestLen = prefix.size();
        }
    }
    if (!best) {
        return http_resource::not_found();
    }
    try {
        std::shared_ptr<http_response> resp = best->render(req);
        if (resp) {
            return resp;
        }
        LogErr(kivlog::HTTP, "%s %s: resource gave no answer\n", req.get_method().c_str(),
               path.c_str());
    } catch (const std::exception& e) {
        LogErr(kivlog::HTTP, "%s %s failed: %s\n", req.get_method().c_str(), path.c_str(), e.what());
    } catch (...) {
        LogErr(kivlog::HTTP, "%s %s failed with an unknown exception\n", req.get_method().c_str(),
               path.c_str());
    }
    return std::make_shared<string_response>("Internal Server Error", 500);
}

} // namespace httpserver
