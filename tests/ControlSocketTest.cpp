#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "ControlCommand.h"
#include "ControlSocket.h"

namespace {

// The socket itself, at paths inside a temporary folder, with a client datagram socket of
// the test's own. CommandProc answers synchronously, so each reply is waiting right after it.
class ControlSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kiv-control-XXXXXX";
        dir = mkdtemp(tmpl);
        runDir = dir + "/run";
        socketPath = runDir + "/KIVD";
        linkPath = dir + "/KIVD";
        fd = Command_Initialize(runDir, socketPath, linkPath);
        ASSERT_GE(fd, 0);
        client = Client(dir + "/client");
    }
    void TearDown() override {
        CloseCommand();
        if (client >= 0) {
            close(client);
        }
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    int Client(const std::string& path) {
        int c = socket(AF_UNIX, SOCK_DGRAM, 0);
        if (!path.empty()) {
            sockaddr_un a = Address(path);
            EXPECT_EQ(bind(c, (sockaddr*)&a, sizeof(a)), 0);
        }
        return c;
    }
    static sockaddr_un Address(const std::string& path) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof(a.sun_path), "%s", path.c_str());
        return a;
    }
    void Send(int c, const std::string& request) {
        sockaddr_un a = Address(socketPath);
        ASSERT_EQ(sendto(c, request.data(), request.size(), 0, (sockaddr*)&a, sizeof(a)), (ssize_t)request.size());
    }
    // The waiting reply; "<none>" when there is none.
    std::string Reply() {
        char buf[2048];
        ssize_t n = recv(client, buf, sizeof(buf), MSG_DONTWAIT);
        return n < 0 ? "<none>" : std::string(buf, n);
    }

    std::string dir, runDir, socketPath, linkPath;
    int fd = -1;
    int client = -1;
};

TEST_F(ControlSocketTest, OpensAStickyWorldWritableFolderAndTheLink) {
    struct stat st;
    ASSERT_EQ(stat(runDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777);
    ASSERT_EQ(lstat(socketPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    char target[256] = {};
    ASSERT_GT(readlink(linkPath.c_str(), target, sizeof(target) - 1), 0);
    EXPECT_EQ(std::string(target), socketPath);

    CloseCommand();
    EXPECT_NE(lstat(socketPath.c_str(), &st), 0);
    EXPECT_EQ(lstat(linkPath.c_str(), &st), 0); // the link stays
}

TEST_F(ControlSocketTest, AnswersEachDatagramToItsSender) {
    int other = Client(dir + "/other");
    Send(client, "GetTestMode");
    Send(other, "bogus");
    Send(client, "");
    Send(client, std::string(6000, ','));
    CommandProc();
    EXPECT_EQ(Reply(), "{}\n");
    EXPECT_EQ(Reply(), "Invalid command: ''\n");
    EXPECT_EQ(Reply(), "Invalid command: ''\n");
    EXPECT_EQ(Reply(), "<none>");
    char buf[256];
    ssize_t n = recv(other, buf, sizeof(buf), MSG_DONTWAIT);
    EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "Invalid command: 'bogus'\n");
    close(other);

    // Nothing waiting: returns at once.
    CommandProc();
    EXPECT_EQ(Reply(), "<none>");
}

TEST_F(ControlSocketTest, AnUnnamedSenderIsServedWithoutAReply) {
    int unnamed = Client("");
    Send(unnamed, "GetTestMode");
    Send(client, "GetTestMode");
    CommandProc();
    EXPECT_EQ(Reply(), "{}\n");
    close(unnamed);
}

TEST(ControlSocketPaths, RefusesAPathThatDoesNotFitTheAddress) {
    EXPECT_EQ(Command_Initialize("/tmp", "/tmp/" + std::string(200, 'k'), ""), -1);
}

} // namespace
