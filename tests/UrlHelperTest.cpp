#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "common.h"
#include "kivversion.h"

namespace {

// What one request looked like on the wire.
struct Request {
    std::string method, target, body;
    std::vector<std::string> headers; // "name: value" lines as received
    bool hasHeader(const std::string& line) const {
        for (const auto& h : headers) {
            if (strcasecmp(h.c_str(), line.c_str()) == 0) {
                return true;
            }
        }
        return false;
    }
    bool hasHeaderNamed(const std::string& name) const {
        for (const auto& h : headers) {
            if (strncasecmp(h.c_str(), (name + ":").c_str(), name.size() + 1) == 0) {
                return true;
            }
        }
        return false;
    }
};

// A one-request-at-a-time HTTP server on 127.0.0.1 with an ephemeral port. Every wait
// is bounded, so a client that never comes cannot hang the test.
class LoopbackServer {
public:
    explicit LoopbackServer(std::string reply) : reply(std::move(reply)) {
        listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(listenFd, (sockaddr*)&addr, sizeof(addr));
        listen(listenFd, 4);
        socklen_t len = sizeof(addr);
        getsockname(listenFd, (sockaddr*)&addr, &len);
        port = ntohs(addr.sin_port);
        worker = std::thread([this] { serveOne(); });
    }
    ~LoopbackServer() {
        if (worker.joinable()) {
            worker.join();
        }
        close(listenFd);
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    // Waits (bounded) for the request to have been served.
    Request take() {
        if (worker.joinable()) {
            worker.join();
        }
        return request;
    }

private:
    static bool waitReadable(int fd, int ms) {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, ms) == 1;
    }
    void serveOne() {
        if (!waitReadable(listenFd, 5000)) {
            return;
        }
        int fd = accept(listenFd, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        std::string data;
        size_t headerEnd = std::string::npos;
        size_t contentLength = 0;
        char buf[4096];
        while (waitReadable(fd, 5000)) {
            ssize_t n = recv(fd, buf, sizeof(buf), 0);
            if (n <= 0) {
                break;
            }
            data.append(buf, n);
            if (headerEnd == std::string::npos && (headerEnd = data.find("\r\n\r\n")) != std::string::npos) {
                parseHead(data.substr(0, headerEnd));
                for (const auto& h : request.headers) {
                    if (strncasecmp(h.c_str(), "Content-Length:", 15) == 0) {
                        contentLength = strtoul(h.c_str() + 15, nullptr, 10);
                    }
                }
            }
            if (headerEnd != std::string::npos && data.size() >= headerEnd + 4 + contentLength) {
                request.body = data.substr(headerEnd + 4, contentLength);
                break;
            }
        }
        std::string response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(reply.size()) +
                               "\r\nConnection: close\r\n\r\n" + reply;
        send(fd, response.data(), response.size(), MSG_NOSIGNAL);
        close(fd);
    }
    void parseHead(const std::string& head) {
        size_t lineEnd = head.find("\r\n");
        std::string first = head.substr(0, lineEnd);
        size_t sp1 = first.find(' ');
        size_t sp2 = first.find(' ', sp1 + 1);
        request.method = first.substr(0, sp1);
        request.target = first.substr(sp1 + 1, sp2 - sp1 - 1);
        while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
            size_t next = head.find("\r\n", lineEnd + 2);
            request.headers.push_back(head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos
                                                                                           : next - lineEnd - 2));
            lineEnd = next;
        }
    }

    std::string reply;
    int listenFd = -1;
    int port = 0;
    std::thread worker;
    Request request;
};

TEST(UrlHelperTest, MethodsHeadersAndBodies) {
    const std::string agent = std::string("User-Agent: KIV/") + getKIVVersionTriplet();
    struct Case {
        const char* method;
        std::function<bool(const std::string&, std::string&)> call;
        std::string sentBody;
        bool jsonHeaders;
    } cases[] = {
        {"GET", [](const std::string& u, std::string& r) { return urlGet(u, r); }, "", false},
        {"POST", [](const std::string& u, std::string& r) { return urlPost(u, "{}", r); }, "{}", true},
        {"POST", [](const std::string& u, std::string& r) { return urlPost(u, "x=1", r); }, "x=1", false},
        {"POST", [](const std::string& u, std::string& r) { return urlPost(u, "", r); }, "", false},
        {"PUT", [](const std::string& u, std::string& r) { return urlPut(u, "{\"a\":1}", r); }, "{\"a\":1}", true},
        {"PUT", [](const std::string& u, std::string& r) { return urlPut(u, "40", r); }, "40", false},
        // DELETE sends no body; a JSON-looking argument still selects the JSON headers.
        {"DELETE", [](const std::string& u, std::string& r) { return urlDelete(u, "{}", r); }, "", true},
        {"DELETE", [](const std::string& u, std::string& r) { return urlDelete(u, r); }, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.sentBody);
        LoopbackServer server("reply body");
        std::string response = "stale";
        EXPECT_TRUE(c.call(server.url("/api/test?x=1"), response));
        EXPECT_EQ(response, "reply body");
        Request req = server.take();
        EXPECT_EQ(req.method, c.method);
        EXPECT_EQ(req.target, "/api/test?x=1");
        EXPECT_EQ(req.body, c.sentBody);
        EXPECT_TRUE(req.hasHeader(agent));
        EXPECT_EQ(req.hasHeader("Accept: application/json"), c.jsonHeaders);
        EXPECT_EQ(req.hasHeader("Content-Type: application/json"), c.jsonHeaders);
        EXPECT_FALSE(req.hasHeaderNamed("Expect"));
    }
}

TEST(UrlHelperTest, ExtraHeadersAndBinaryBody) {
    LoopbackServer server("ok");
    std::string body("a\0b", 3);
    std::string response;
    EXPECT_TRUE(urlHelper("POST", server.url("/x"), body, response, {"X-Test: 1"}, 5));
    Request req = server.take();
    EXPECT_TRUE(req.hasHeader("X-Test: 1"));
    EXPECT_EQ(req.body, body);
}

TEST(UrlHelperTest, FailedTransferIsReported) {
    // A port that was just free: nothing listens there any more.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&addr, sizeof(addr));
    socklen_t len = sizeof(addr);
    getsockname(fd, (sockaddr*)&addr, &len);
    int port = ntohs(addr.sin_port);
    close(fd);

    std::string response = "stale";
    EXPECT_FALSE(urlGet("http://127.0.0.1:" + std::to_string(port) + "/", response));
    EXPECT_EQ(response, "");
    EXPECT_FALSE(urlGet("http://[::1", response)); // malformed: fails before any lookup
}

} // namespace
