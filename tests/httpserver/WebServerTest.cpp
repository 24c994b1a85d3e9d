#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "httpserver/TestHttp.h"
#include "httpserver/httpserver.h"

using namespace httpserver;
using namespace std::chrono_literals;

namespace {

// Answers with what it saw, so tests can check what reached the resource.
class EchoResource : public http_resource {
public:
    explicit EchoResource(std::string name) : m_name(std::move(name)) {}

    std::shared_ptr<http_response> render_GET(const http_request& r) override { return echo(r); }
    std::shared_ptr<http_response> render_POST(const http_request& r) override { return echo(r); }
    std::shared_ptr<http_response> render_PUT(const http_request& r) override { return echo(r); }
    std::shared_ptr<http_response> render_DELETE(const http_request& r) override { return echo(r); }

private:
    std::shared_ptr<http_response> echo(const http_request& r) {
        std::string pieces;
        for (const auto& p : r.get_path_pieces()) {
            pieces += "[" + p + "]";
        }
        std::string args;
        for (const auto& [k, v] : r.get_args()) {
            args += k + "=" + v + ";";
        }
        std::string text = m_name + " " + r.get_method() + " " + r.get_path() + " " + pieces +
                           " " + args + " h=" + r.get_header("x-test") + " b=" + r.get_content();
        return std::make_shared<string_response>(text, 200, "text/x-echo");
    }
    std::string m_name;
};

class GetOnly : public http_resource {
public:
    std::shared_ptr<http_response> render_GET(const http_request& r) override {
        if (r.get_arg("fail") == "throw") {
            throw std::runtime_error("boom");
        }
        if (r.get_arg("fail") == "null") {
            return nullptr;
        }
        return std::make_shared<string_response>("{}", 201, "application/json");
    }
};

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<webserver>(create_webserver(0)
                                                 .bind_address("127.0.0.1")
                                                 .max_threads(4)
                                                 .connection_timeout(2)
                                                 .max_body_size(1024)
                                                 .max_header_size(8192));
        server->register_resource("/a", &a);
        server->register_resource("/a/b", &ab);
        server->register_resource("/ab/", &abDir);
        server->register_resource("/exact", &exact, false);
        server->register_resource("/get", &getOnly);
        ASSERT_TRUE(server->start(false));
        base = "http://127.0.0.1:" + std::to_string(server->get_bound_port());
    }

    EchoResource a{"A"}, ab{"AB"}, abDir{"ABDIR"}, exact{"EXACT"};
    GetOnly getOnly;
    std::unique_ptr<webserver> server;
    std::string base;
};

TEST_F(WebServerTest, RoutesToTheLongestRegisteredPrefixOnPieceBoundaries) {
    struct Case {
        const char* path;
        long status;
        const char* owner;
    } cases[] = {
        {"/a", 200, "A"},          {"/a/", 200, "A"},        {"/a/x/y", 200, "A"},
        {"/a/b", 200, "AB"},       {"/a/b/c", 200, "AB"},    {"/a/bc", 200, "A"},
        {"/ab", 200, "ABDIR"},     {"/ab/z", 200, "ABDIR"},  {"/abc", 404, nullptr},
        {"/exact", 200, "EXACT"},  {"/exact/x", 404, nullptr}, {"/", 404, nullptr},
        {"/nothing", 404, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto r = testhttp::get(base + c.path);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(c.status, r.status);
        if (c.owner) {
            EXPECT_EQ(std::string(c.owner) + " ", r.body.substr(0, strlen(c.owner) + 1));
        } else {
            EXPECT_EQ("Not Found", r.body);
        }
    }
}

TEST_F(WebServerTest, PassesMethodPathPiecesArgsHeadersAndBody) {
    std::string body = "{\"x\":1}";
    for (const char* method : {"GET", "POST", "PUT", "DELETE"}) {
        SCOPED_TRACE(method);
        auto r = testhttp::request(method, base + "/a/Stop%20Now//x?k=v&sp=a%20b&empty", &body, 10,
                                   {"X-Test: hello"});
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(200, r.status);
        EXPECT_EQ("text/x-echo", r.contentType);
        EXPECT_EQ(std::string("A ") + method +
                      " /a/Stop Now//x [a][Stop Now][x] empty=;k=v;sp=a b; h=hello b={\"x\":1}",
                  r.body);
    }
}

TEST_F(WebServerTest, MethodsTheResourceDoesNotServeAnswer405) {
    auto ok = testhttp::get(base + "/get");
    EXPECT_EQ(201, ok.status);
    EXPECT_EQ("application/json", ok.contentType);
    EXPECT_EQ("{}", ok.body);
    std::string body = "x";
    for (const char* method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
        SCOPED_TRACE(method);
        auto r = testhttp::request(method, base + "/get", &body);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(405, r.status);
    }
    auto head = testhttp::request("HEAD", base + "/get");
    EXPECT_EQ(201, head.status);
    EXPECT_EQ("", head.body);
}

TEST_F(WebServerTest, ResourceFailuresAnswer500AndTheServerGoesOn) {
    for (const char* how : {"throw", "null"}) {
        auto r = testhttp::get(base + "/get?fail=" + how);
        EXPECT_EQ(500, r.status) << how;
    }
    EXPECT_EQ(201, testhttp::get(base + "/get").status);
}

TEST_F(WebServerTest, BodiesUpToTheBoundAreKeptLargerOnesAnswer413) {
    std::string atBound(1024, 'x');
    auto r = testhttp::post(base + "/a", atBound);
    EXPECT_EQ(200, r.status);
    EXPECT_NE(std::string::npos, r.body.find("b=" + atBound));

    auto big = testhttp::post(base + "/a", std::string(1025, 'y'));
    ASSERT_TRUE(big.ok);
    EXPECT_EQ(413, big.status);

    // Chunked: no declared length, the bound is hit while reading.
    std::string chunked(600, 'z');
    auto c1 = testhttp::request("POST", base + "/a", &chunked, 10, {"Transfer-Encoding: chunked"});
    EXPECT_EQ(200, c1.status);
    std::string chunkedBig(5000, 'z');
    auto c2 = testhttp::request("POST", base + "/a", &chunkedBig, 10, {"Transfer-Encoding: chunked"});
    ASSERT_TRUE(c2.ok);
    EXPECT_EQ(413, c2.status);
    EXPECT_EQ(200, testhttp::get(base + "/a").status);
}

TEST_F(WebServerTest, DeclaredLengthOverTheBoundIsRefusedBeforeTheBodyIsSent) {
    testhttp::RawClient c(server->get_bound_port());
    ASSERT_TRUE(c.connected());
    // Declares 100 MB but sends none of it: the answer must come anyway.
    ASSERT_TRUE(c.send("POST /a HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n"));
    std::string got = c.receive(3s, "\r\n\r\n");
    EXPECT_EQ(0u, got.find("HTTP/1.1 413")) << got;
}

TEST_F(WebServerTest, EndlessChunkedBodyIsCutOff) {
    testhttp::RawClient c(server->get_bound_port());
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send("POST /a HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"));
    std::string chunk = "10000\r\n" + std::string(0x10000, 'q') + "\r\n";
    bool sendFailed = false;
    for (int i = 0; i < 200 && !sendFailed; i++) {  // up to 12.5 MiB, three times the cut-off
        sendFailed = !c.send(chunk);
    }
    std::string got = c.receive(3s);
    EXPECT_TRUE(sendFailed || c.closedByPeer());
    EXPECT_EQ(std::string::npos, got.find("200 OK"));
}

TEST_F(WebServerTest, OversizedHeadersAreRefused) {
    auto r = testhttp::request("GET", base + "/a", nullptr, 10,
                               {"X-Big: " + std::string(20000, 'h')});
    ASSERT_TRUE(r.ok);
    EXPECT_GE(r.status, 400);
    EXPECT_LT(r.status, 500);
    EXPECT_EQ(200, testhttp::get(base + "/a").status);
}

TEST_F(WebServerTest, StalledClientsHoldNoWorkerAndAreDroppedAfterTheTimeout) {
    // More stalled connections than workers, each stopped in the middle of its headers.
    std::vector<std::unique_ptr<testhttp::RawClient>> stalled;
    for (int i = 0; i < 8; i++) {
        stalled.push_back(std::make_unique<testhttp::RawClient>(server->get_bound_port()));
        ASSERT_TRUE(stalled.back()->connected());
        ASSERT_TRUE(stalled.back()->send("GET /a HTTP/1.1\r\nHost: x\r\nX-Te"));
    }
    auto start = std::chrono::steady_clock::now();
    auto r = testhttp::request("GET", base + "/a", nullptr, 2);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(200, r.status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);

    // The time-out is 2 s; allow generous slack but never wait unbounded.
    for (auto& s : stalled) {
        s->receive(6s);
        EXPECT_TRUE(s->closedByPeer());
    }
}

TEST_F(WebServerTest, FiftyConcurrentClientsAreAllAnswered) {
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 50; i++) {
        threads.emplace_back([&, i] {
            auto r = testhttp::get(base + "/a/b?i=" + std::to_string(i));
            if (r.ok && r.status == 200 && r.body.find("i=" + std::to_string(i) + ";") != std::string::npos) {
                good++;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(50, good.load());
}

TEST_F(WebServerTest, UnregisteredPathsFallBackToShorterPrefixes) {
    server->unregister_resource("/a/b/");
    auto r = testhttp::get(base + "/a/b");
    EXPECT_EQ("A ", r.body.substr(0, 2));
    server->unregister_resource("/a");
    EXPECT_EQ(404, testhttp::get(base + "/a/b").status);
}

TEST(WebServerLifecycle, BusyPortFailsAndBlockingStartReturnsAfterStop) {
    webserver first(create_webserver(0).bind_address("127.0.0.1"));
    ASSERT_TRUE(first.start(false));
    webserver second(create_webserver(first.get_bound_port()).bind_address("127.0.0.1"));
    EXPECT_FALSE(second.start(false));
    EXPECT_FALSE(second.is_running());

    webserver blocking(create_webserver(0).bind_address("127.0.0.1"));
    std::atomic<bool> returned{false};
    std::thread t([&] {
        blocking.start(true);
        returned = true;
    });
    for (int i = 0; i < 200 && !blocking.is_running(); i++) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(blocking.is_running());
    EXPECT_FALSE(returned.load());
    blocking.stop();
    t.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(0, blocking.get_bound_port());
}

TEST(WebServerLifecycle, BadBindAddressFails) {
    webserver ws(create_webserver(0).bind_address("not-an-address"));
    EXPECT_FALSE(ws.start(false));
}

} // namespace
