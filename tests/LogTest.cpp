#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "log.h"

namespace {

// Sends every line to a fresh file and restores the start-up state afterwards.
class LogTest : public ::testing::Test {
protected:
    std::string path;
    void SetUp() override {
        char tmpl[] = "/tmp/kivlogtestXXXXXX";
        int fd = mkstemp(tmpl);
        close(fd);
        path = tmpl;
        SetLogFile(path.c_str(), false);
        KIVLogger::INSTANCE.SetAllLevel(LOG_LEVEL_INFO);
    }
    void TearDown() override {
        KIVLogger::INSTANCE.SetAllLevel(LOG_LEVEL_INFO);
        SetLogFile("", true);
        unlink(path.c_str());
    }
    std::string contents() {
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        std::istringstream in(contents());
        std::string l;
        while (std::getline(in, l)) {
            out.push_back(l);
        }
        return out;
    }
};

TEST_F(LogTest, LineHasHeaderAndMessage) {
    LogInfo(kivlog::Sequence, "hello %d %s\n", 42, "world");
    auto l = lines();
    ASSERT_EQ(l.size(), 1u);
    std::regex re(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \(\d+\) \[Sequence\] .*LogTest\.cpp:\d+: hello 42 world$)");
    EXPECT_TRUE(std::regex_match(l[0], re)) << l[0];
}

TEST_F(LogTest, ThresholdSuppressesMoreVerboseLevels) {
    struct Case {
        int level;
        bool printed;
    } cases[] = {{1, true}, {2, true}, {3, true}, {4, false}, {5, false}};
    for (auto& c : cases) {
        EXPECT_EQ(WillLog(c.level, kivlog::Playlist), c.printed) << c.level;
    }
    bool evaluated = false;
    auto touch = [&] {
        evaluated = true;
        return 1;
    };
    LogDebug(kivlog::Playlist, "not shown %d\n", touch());
    EXPECT_FALSE(evaluated);
    LogErr(kivlog::Playlist, "e\n");
    LogWarn(kivlog::Playlist, "w\n");
    LogInfo(kivlog::Playlist, "i\n");
    LogExcess(kivlog::Playlist, "x\n");
    EXPECT_EQ(lines().size(), 3u);
}

TEST_F(LogTest, StringFormIsTextNotFormat) {
    LogInfo(kivlog::General, std::string("100% done %s\n"));
    EXPECT_NE(contents().find("100% done %s"), std::string::npos);
}

TEST_F(LogTest, LongFormatIsCutWithoutDanglingConversion) {
    std::string fmt(600, 'a');
    fmt += "%s\n";
    LogInfo(kivlog::General, fmt.c_str(), "zz"); // the %s falls beyond the cut
    auto c = contents();
    EXPECT_EQ(c.size(), 511u);
    EXPECT_EQ(c.find('\n'), std::string::npos);
    EXPECT_EQ(c.find("zz"), std::string::npos);

    // A cut that leaves "%l" at the very end must not consume an argument.
    unlink(path.c_str());
    // Measure the header with an empty message first.
    LogInfo(kivlog::General, "%s", "");
    size_t headerLen = contents().size();
    unlink(path.c_str());
    std::string f2(511 - headerLen - 2, 'c');
    f2 += "%lld tail";
    LogInfo(kivlog::General, f2.c_str(), 5LL);
    auto c2 = contents();
    EXPECT_EQ(c2.find('%'), std::string::npos);
}

TEST_F(LogTest, SetLevelByName) {
    struct Case {
        const char* name;
        const char* level;
        bool ok;
    } cases[] = {
        {"Sequence", "debug", true},          {"LogLevel_Playlist", "excess", true}, {"sequence", "debug", false},
        {"", "debug", false},                 {"Sync", "verbose", false},
    };
    for (auto& c : cases) {
        EXPECT_EQ(KIVLogger::INSTANCE.SetLevel(c.name, c.level), c.ok) << c.name << " " << c.level;
    }
    EXPECT_EQ(kivlog::Sequence.level, 4);
    EXPECT_EQ(kivlog::Playlist.level, 5);
    EXPECT_EQ(kivlog::Sync.level, 3);
    EXPECT_NE(contents().find("Invalid name for LoggerInstance: sequence"), std::string::npos);
    EXPECT_NE(contents().find("Invalid name for LogLevel: verbose"), std::string::npos);
}

TEST_F(LogTest, ComplexSpecifications) {
    struct Case {
        const char* spec;
        bool ok;
        const char* after;
    } cases[] = {
        {"debug:Sequence", true,
         "info:General,ChannelOut,ChannelData,Command,E131Bridge,Effect,MediaOut,Playlist,Schedule;debug:Sequence;"
         "info:Settings,Control,Sync,Plugin,GPIO,HTTP"},
        {"debug:sequence", false,
         "info:General,ChannelOut,ChannelData,Command,E131Bridge,Effect,MediaOut,Playlist,Schedule,Sequence,"
         "Settings,Control,Sync,Plugin,GPIO,HTTP"},
        {"debug", true,
         "debug:General,ChannelOut,ChannelData,Command,E131Bridge,Effect,MediaOut,Playlist,Schedule,Sequence,"
         "Settings,Control,Sync,Plugin,GPIO,HTTP"},
        {"verbose", false,
         "info:General,ChannelOut,ChannelData,Command,E131Bridge,Effect,MediaOut,Playlist,Schedule,Sequence,"
         "Settings,Control,Sync,Plugin,GPIO,HTTP"},
        {"", false,
         "info:General,ChannelOut,ChannelData,Command,E131Bridge,Effect,MediaOut,Playlist,Schedule,Sequence,"
         "Settings,Control,Sync,Plugin,GPIO,HTTP"},
        {"excess:ChannelOut;;info:Sync", true,
         "info:General;excess:ChannelOut;info:ChannelData,Command,E131Bridge,Effect,MediaOut,Playlist,Schedule,"
         "Sequence,Settings,Control,Sync,Plugin,GPIO,HTTP"},
        {"error:General,HTTP;warn:Sync", true,
         "error:General;info:ChannelOut,ChannelData,Command,E131Bridge,Effect,MediaOut,Playlist,Schedule,Sequence,"
         "Settings,Control;warn:Sync;info:Plugin,GPIO;error:HTTP"},
    };
    for (auto& c : cases) {
        KIVLogger::INSTANCE.SetAllLevel(LOG_LEVEL_INFO);
        EXPECT_EQ(SetLogLevelComplex(c.spec), c.ok) << c.spec;
        EXPECT_EQ(KIVLogger::INSTANCE.GetLogLevelString(), c.after) << c.spec;
    }
    EXPECT_NE(contents().find("Invalid Log Level Token: \n"), std::string::npos);
}

TEST_F(LogTest, SpecificationRoundTrips) {
    SetLogLevelComplex("excess:ChannelOut,HTTP;debug:Sequence;warn:General");
    std::string spec = KIVLogger::INSTANCE.GetLogLevelString();
    KIVLogger::INSTANCE.SetAllLevel(LOG_LEVEL_ERROR);
    EXPECT_TRUE(SetLogLevelComplex(spec));
    EXPECT_EQ(KIVLogger::INSTANCE.GetLogLevelString(), spec);
    EXPECT_EQ(KIVLogger::INSTANCE.MinimumLogLevel(), 5);
}

TEST_F(LogTest, StringSpecGainsSemicolon) {
    std::string spec = "debug:Sync";
    EXPECT_TRUE(SetLogLevelComplex(spec));
    EXPECT_EQ(spec, "debug:Sync;");
}

TEST(LogDestination, Names) {
    struct Case {
        const char* name;
        bool file;
    } cases[] = {{"", false}, {"stdout", false}, {"stderr", false}, {"/var/log/kivd.log", true}};
    for (auto& c : cases) {
        SetLogFile(c.name, true);
        EXPECT_EQ(loggingToFile(), c.file) << c.name;
    }
    SetLogFile("", true);
    EXPECT_EQ(LogLevelToString(0), "unknown");
    EXPECT_EQ(LogLevelToString(6), "unknown");
    EXPECT_EQ(LogLevelToString(2), "warn");
}

TEST(LogDestination, StdoutIsPrintedOnce) {
    SetLogFile("stdout", true);
    testing::internal::CaptureStdout();
    LogInfo(kivlog::General, "once\n");
    std::string out = testing::internal::GetCapturedStdout();
    SetLogFile("", true);
    EXPECT_EQ(out.find("once"), out.rfind("once"));
    EXPECT_NE(out.find("once"), std::string::npos);
}

TEST(LogDestination, UnopenableFileFallsBackToStderr) {
    SetLogFile("/nonexistent-dir/x.log", true);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    LogInfo(kivlog::General, "fallback\n");
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    SetLogFile("", true);
    EXPECT_NE(err.find("Error: Unable to open log file for writing!\n"), std::string::npos);
    EXPECT_NE(err.find("fallback"), std::string::npos);
    EXPECT_EQ(out.find("fallback"), std::string::npos);
}

TEST_F(LogTest, ManyThreadsWriteWholeLines) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; i++) {
                LogInfo(kivlog::General, "thread %d line %d end\n", t, i);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    auto l = lines();
    ASSERT_EQ(l.size(), 1600u);
    std::regex re(R"(.*\[General\] .*: thread \d line \d+ end$)");
    for (auto& line : l) {
        ASSERT_TRUE(std::regex_match(line, re)) << line;
    }
}

} // namespace
