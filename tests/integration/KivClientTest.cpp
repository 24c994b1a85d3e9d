// Runs the real kiv against a datagram socket of the test's own at the daemon's address.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

const char* DAEMON = "/run/kivd/KIVD";

std::string runKiv(const std::string& args) {
    static const char* media = [] {
        static char dir[] = "/tmp/kivclientmediaXXXXXX";
        return mkdtemp(dir);
    }();
    std::string cmd = "KIV_MEDIA_DIR=" + std::string(media) + " " + KIV_BUILD_DIR + "/src/kiv " + args + " 2>/dev/null";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        return out;
    }
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) {
        out.append(buf.data(), n);
    }
    pclose(p);
    return out;
}

// Plays the daemon: records each request and answers it (or not).
class FakeDaemon {
public:
    bool ok = false;
    std::string lastRequest;
    std::string lastSender;

    FakeDaemon() {
        mkdir("/run/kivd", 01777);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        strcpy(addr.sun_path, DAEMON);
        // Leave a live daemon alone.
        int probe = socket(AF_UNIX, SOCK_DGRAM, 0);
        if (connect(probe, (sockaddr*)&addr, sizeof(addr)) == 0) {
            close(probe);
            return;
        }
        close(probe);
        unlink(DAEMON);
        m_fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        ok = bind(m_fd, (sockaddr*)&addr, sizeof(addr)) == 0;
    }
    ~FakeDaemon() {
        if (m_fd >= 0) {
            close(m_fd);
            unlink(DAEMON);
        }
    }
    // Answers the next request with `reply` (none when empty), waiting at most 3 s for it.
    std::thread serveOnce(std::string reply) {
        return std::thread([this, reply] {
            timeval tv{3, 0};
            setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
            char buf[8192];
            sockaddr_un from{};
            socklen_t len = sizeof(from);
            ssize_t n = recvfrom(m_fd, buf, sizeof(buf), 0, (sockaddr*)&from, &len);
            if (n < 0) {
                return;
            }
            lastRequest.assign(buf, n);
            lastSender = from.sun_path;
            if (!reply.empty()) {
                sendto(m_fd, reply.data(), reply.size(), 0, (sockaddr*)&from, len);
            }
        });
    }

private:
    int m_fd = -1;
};

TEST(KivClient, SendsRequestAndPrintsReply) {
    FakeDaemon d;
    if (!d.ok) {
        GTEST_SKIP() << "a daemon owns the control socket";
    }
    struct Case {
        const char* args;
        const char* reply;
        const char* request;
        const char* printed;
    } cases[] = {
        {"-s", "0,1,Idle,,,,,,,,,,\n", "s", "0,1,Idle,,,,,,,,,,\n"},
        {"-p 'My Show' 2", "0,1,Playlist Started,,,,,,,,,,\n", "p,My Show,2,", "0,1,Playlist Started,,,,,,,,,,\n"},
        {"-e Snow,100,1", "", "e,Snow,100,1,", "false"},
    };
    for (auto& c : cases) {
        auto t = d.serveOnce(c.reply);
        std::string out = runKiv(c.args);
        t.join();
        EXPECT_EQ(d.lastRequest, c.request) << c.args;
        EXPECT_EQ(out, c.printed) << c.args;
        // Each run has an address of its own and removes it afterwards.
        EXPECT_EQ(d.lastSender.rfind("/run/kivd/KIV.", 0), 0u) << d.lastSender;
        EXPECT_NE(access(d.lastSender.c_str(), F_OK), 0);
    }
}

TEST(KivClient, LongReplyIsCut) {
    FakeDaemon d;
    if (!d.ok) {
        GTEST_SKIP() << "a daemon owns the control socket";
    }
    auto t = d.serveOnce(std::string(1000, 'r'));
    std::string out = runKiv("-s");
    t.join();
    EXPECT_EQ(out, std::string(255, 'r'));
}

TEST(KivClient, NoReplyPrintsFalse) {
    FakeDaemon d; // bound but never answering
    if (!d.ok) {
        GTEST_SKIP() << "a daemon owns the control socket";
    }
    EXPECT_EQ(runKiv("-d"), "false");
    EXPECT_EQ(runKiv("-c dance"), "false");
}

TEST(KivClient, LocalActions) {
    EXPECT_EQ(runKiv("").size(), 0u);
    EXPECT_EQ(runKiv("-h").rfind("Usage: ", 0), 0u);
    EXPECT_NE(runKiv("-V").find("KIV "), std::string::npos);
    std::string fb = runKiv("-FB");
    ASSERT_FALSE(fb.empty());
    EXPECT_EQ(fb.front(), '[');
}

} // namespace
