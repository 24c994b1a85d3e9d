#pragma once

// Small HTTP helpers for tests that talk to a server on loopback.

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace testhttp {

struct Reply {
    bool ok = false;  // the transfer completed
    long status = 0;
    std::string body;
    std::string contentType;
};

inline size_t appendBody(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

// One request with libcurl; every transfer is bounded by timeoutSeconds.
inline Reply request(const std::string& method, const std::string& url,
                     const std::string* body = nullptr, long timeoutSeconds = 10,
                     const std::vector<std::string>& headers = {}) {
    Reply r;
    CURL* c = curl_easy_init();
    if (!c) {
        return r;
    }
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &r.body);
    if (method == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else if (method != "GET" || body) {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    if (body) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, (curl_off_t)body->size());
    }
    curl_slist* list = nullptr;
    for (const auto& h : headers) {
        list = curl_slist_append(list, h.c_str());
    }
    if (list) {
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, list);
    }
    if (curl_easy_perform(c) == CURLE_OK) {
        r.ok = true;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
        char* ct = nullptr;
        curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &ct);
        r.contentType = ct ? ct : "";
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(c);
    return r;
}

inline Reply get(const std::string& url) { return request("GET", url); }
inline Reply post(const std::string& url, const std::string& body) {
    return request("POST", url, &body);
}

// A raw TCP connection to 127.0.0.1:port, for clients that misbehave.
class RawClient {
public:
    explicit RawClient(uint16_t port) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~RawClient() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    bool connected() const { return m_fd >= 0; }
    bool send(const std::string& data) {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += n;
        }
        return true;
    }
    // Reads until the peer closes, `until` appears in what was read, or the
    // time runs out. Returns what arrived.
    std::string receive(std::chrono::milliseconds limit, const std::string& until = {}) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + limit;
        m_closed = false;
        while (true) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, (int)left.count()) <= 0) {
                break;
            }
            char buf[4096];
            ssize_t n = recv(m_fd, buf, sizeof(buf), 0);
            if (n <= 0) {
                m_closed = true;
                break;
            }
            got.append(buf, n);
            if (!until.empty() && got.find(until) != std::string::npos) {
                break;
            }
        }
        return got;
    }
    bool closedByPeer() const { return m_closed; }

private:
    int m_fd = -1;
    bool m_closed = false;
};

} // namespace testhttp
