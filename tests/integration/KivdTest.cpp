// Runs the real build/src/kivd against a temporary media directory. Every wait is bounded and
// every process a test starts is killed before the test ends.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string KIVD = std::string(KIV_BUILD_DIR) + "/src/kivd";
const char* LOGGERS[] = {"General", "ChannelOut", "ChannelData", "Command", "E131Bridge", "Effect",
                         "MediaOut", "Playlist", "Schedule", "Sequence", "Settings", "Control",
                         "Sync", "Plugin", "GPIO", "HTTP"};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Gone, or a zombie nobody reaps (the container's first process may not).
bool alive(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

std::vector<std::string> cmdline(pid_t pid) {
    std::string raw = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> args;
    std::string current;
    for (char c : raw) {
        if (c == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return args;
}

bool hasNonLoopbackIPv4() {
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return false;
    }
    bool found = false;
    for (auto* a = list; a; a = a->ifa_next) {
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET &&
            ntohl(((sockaddr_in*)a->ifa_addr)->sin_addr.s_addr) >> 24 != 127) {
            found = true;
        }
    }
    freeifaddrs(list);
    return found;
}

// The network input bridge binds the protocols' fixed ports; a player already running on
// this machine holds them, and then a second daemon cannot start.
bool bridgePortsFree() {
    for (int port : {5568, 6454, 4048}) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        bool ok = fd >= 0 && bind(fd, (sockaddr*)&addr, sizeof(addr)) == 0;
        if (fd >= 0) {
            close(fd);
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

// One temporary media directory, with presets that leave a mark when the daemon starts and
// stops, and one kivd process at a time.
class Kivd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bridgePortsFree()) {
            GTEST_SKIP() << "another player holds the E1.31, Art-Net or DDP port";
        }
        char dir[] = "/tmp/kivdtestXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        media = dir;
        mkdir((media + "/config").c_str(), 0775);
        mkdir((media + "/scripts").c_str(), 0775);
        for (const char* which : {"started", "stopped"}) {
            writeFile(media + "/scripts/" + which + ".sh",
                      "#!/bin/sh\necho " + std::string(which) + " >> " + media + "/" + which + ".marks\n", 0755);
        }
        writeFile(media + "/config/commandPresets.json", R"({"commands": [
            {"name": "KIVD_STARTED", "command": "Run Script", "args": ["started.sh"]},
            {"name": "KIVD_STOPPED", "command": "Run Script", "args": ["stopped.sh"]}]})");
    }

    void TearDown() override {
        if (media.empty()) {
            return;
        }
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        std::string rm = "rm -rf '" + media + "'";
        [[maybe_unused]] int r = system(rm.c_str());
    }

    // Starts kivd with args; its standard output and error go to files in the media dir.
    void start(const std::vector<std::string>& args) {
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("KIV_MEDIA_DIR", media.c_str(), 1);
            int out = open((media + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            int err = open((media + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv = {const_cast<char*>(KIVD.c_str())};
            for (auto& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(KIVD.c_str(), argv.data());
            _exit(127);
        }
    }

    // The exit status, or -1 (after killing it) when it did not end within ms.
    int waitExit(int ms) {
        int status = 0;
        bool ended = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, ms);
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            pid = -1;
            return -1;
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    int run(const std::vector<std::string>& args) {
        start(args);
        return waitExit(10000);
    }

    std::string log() { return readFile(media + "/logs/kivd.log"); }
    std::string out() { return readFile(media + "/stdout.txt"); }
    std::string err() { return readFile(media + "/stderr.txt"); }
    size_t count(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            n++;
        }
        return n;
    }
    bool loopRunning(size_t times = 1) {
        return waitFor([&] { return count(log(), "Starting main processing loop") >= times; }, 15000);
    }

    std::string media;
    pid_t pid = -1;
};

TEST_F(Kivd, CommandLineExitsWithItsStatus) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string inStdout, inStderr;
    } cases[] = {
        {{"-h"}, 0, "kivd is the Moltan Player daemon.", ""},
        {{"--help"}, 0, "The default logging is read from settings", ""},
        {{"--no-such-option"}, 1, "Usage: ", ""},
        {{"-f", "-m", "bogus"}, 1, "", "Error parsing mode"},
        {{"-V"}, 0, "Branch: ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 1]);
        unlink((media + "/stdout.txt").c_str());
        unlink((media + "/stderr.txt").c_str());
        EXPECT_EQ(run(c.args), c.status);
        EXPECT_NE(out().find(c.inStdout), std::string::npos) << out();
        EXPECT_NE(err().find(c.inStderr), std::string::npos) << err();
    }
}

TEST_F(Kivd, LogLevelPrintsTheWholeSpecification) {
    ASSERT_EQ(run({"--log-level", "debug:Sequence,Sync", "-h"}), 0);
    // Log lines echoed before it start with a date; the specification starts with a level.
    std::string first;
    std::istringstream lines(out());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("info:", 0) == 0 || line.rfind("debug:", 0) == 0) {
            first = line;
            break;
        }
    }
    for (const char* logger : LOGGERS) {
        EXPECT_NE(first.find(logger), std::string::npos) << logger << " missing in " << first;
    }
    EXPECT_NE(first.find("debug:Sequence"), std::string::npos) << first;
}

TEST_F(Kivd, StartsRunsPresetsAndStopsOnSigterm) {
    start({"-f", "--log-level", "debug:Command"});
    ASSERT_TRUE(loopRunning()) << log();
    EXPECT_TRUE(waitFor([&] { return exists(media + "/started.marks"); }, 5000));
    if (hasNonLoopbackIPv4()) {
        std::string info = readFile(media + "/kiv-info.json");
        EXPECT_NE(info.find("\"addresses\""), std::string::npos) << info;
    }
    // A foreground daemon echoes its log to standard output.
    EXPECT_NE(out().find("Starting main processing loop"), std::string::npos);

    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(15000), 0) << log();
    EXPECT_NE(log().find("Main Loop complete, shutting down."), std::string::npos) << log();
    EXPECT_TRUE(waitFor([&] { return exists(media + "/stopped.marks"); }, 5000)) << log();
    EXPECT_NE(log().find("Running command \"Run Script(stopped.sh)\""), std::string::npos) << log();
}

TEST_F(Kivd, RestartExecutesItselfWithTheRestartArguments) {
    start({"-f", "--log-level", "debug:Sequence"});
    ASSERT_TRUE(loopRunning()) << log();
    kill(pid, SIGUSR2);
    ASSERT_TRUE(loopRunning(2)) << log();
    std::vector<std::string> args = cmdline(pid);
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[0], KIVD);
    EXPECT_EQ(args[1], "-f");
    EXPECT_EQ(args[2], "--log-level");
    EXPECT_NE(args[3].find("debug:Sequence"), std::string::npos) << args[3];
    EXPECT_EQ(args[4], "-r");
    EXPECT_NE(log().find("Performing Restart."), std::string::npos);
    // Same process, a fresh start: the presets ran for each life.
    EXPECT_TRUE(waitFor([&] { return count(readFile(media + "/started.marks"), "started") == 2; }, 5000));

    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(15000), 0) << log();
}

int archiveCount(const std::string& dir) {
    int archives = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (auto* e = readdir(d)) {
            archives += std::string(e->d_name).find(".zip") != std::string::npos;
        }
        closedir(d);
    }
    return archives;
}

TEST_F(Kivd, CrashReportsOnSigusr1ThenAFatalSignalWithinAMinuteAddsNoSecond) {
    start({"-f"});
    ASSERT_TRUE(loopRunning()) << log();
    kill(pid, SIGUSR1);
    // The debugger is given at most 25 s and the archive 60 s.
    EXPECT_EQ(waitExit(100000), 0) << log();
    EXPECT_NE(log().find("Crash handler called:  10"), std::string::npos) << log();
    EXPECT_EQ(archiveCount(media + "/crashes"), 1) << log();
    // A report, then a clean stop.
    EXPECT_TRUE(waitFor([&] { return exists(media + "/stopped.marks"); }, 5000)) << log();

    start({"-f"});
    ASSERT_TRUE(loopRunning(2)) << log();
    kill(pid, SIGSEGV);
    EXPECT_EQ(waitExit(100000), 255) << log();
    EXPECT_NE(log().find("Crash handler called:  11"), std::string::npos) << log();
    EXPECT_NE(log().find("Very recent crash report found, not uploading"), std::string::npos) << log();
    EXPECT_EQ(archiveCount(media + "/crashes"), 1);
    // Valid JSON, as every reader of the warnings file expects.
    EXPECT_NE(readFile(media + "/tmp/warnings.json").find("[\"KIVD has crashed.  Check crash reports.\"]"),
              std::string::npos);
}

TEST_F(Kivd, DaemonizedRunHasItsStandardStreamsOnDevNull) {
    ASSERT_EQ(run({"-d"}), 0);
    // The daemon is a grandchild: find it by the media directory in its environment.
    pid_t daemonPid = -1;
    ASSERT_TRUE(waitFor(
        [&] {
            DIR* d = opendir("/proc");
            while (auto* e = d ? readdir(d) : nullptr) {
                int p = atoi(e->d_name);
                if (p > 0 && cmdline(p).size() == 2 && cmdline(p)[0] == KIVD &&
                    readFile("/proc/" + std::string(e->d_name) + "/environ").find("KIV_MEDIA_DIR=" + media) !=
                        std::string::npos) {
                    daemonPid = p;
                }
            }
            if (d) {
                closedir(d);
            }
            return daemonPid > 0;
        },
        10000));
    ASSERT_TRUE(loopRunning()) << log();
    for (int fd = 0; fd <= 2; fd++) {
        char target[256] = {};
        std::string link = "/proc/" + std::to_string(daemonPid) + "/fd/" + std::to_string(fd);
        ASSERT_GT(readlink(link.c_str(), target, sizeof(target) - 1), 0) << link;
        EXPECT_STREQ(target, "/dev/null") << "descriptor " << fd;
    }
    kill(daemonPid, SIGTERM);
    bool gone = waitFor([&] { return !alive(daemonPid); }, 15000);
    if (!gone) {
        kill(daemonPid, SIGKILL);
    }
    EXPECT_TRUE(gone);
}

// The demo show in the media directory, driven by the real client over the control socket.
class KivdWithShow : public Kivd {
protected:
    void SetUp() override {
        Kivd::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        std::string gen = std::string(KIV_BUILD_DIR) + "/demo/kivdemo '" + media + "' > /dev/null";
        ASSERT_EQ(system(gen.c_str()), 0);
        // These tests decide themselves when the show plays.
        unlink((media + "/config/schedule.json").c_str());
        unlink((media + "/config/channeloutputs.json").c_str());
    }
    std::string kiv(const std::string& args) {
        std::string cmd = "KIV_MEDIA_DIR='" + media + "' " + KIV_BUILD_DIR + "/src/kiv " + args + " 2>/dev/null";
        std::string out;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[512];
            size_t n;
            while ((n = fread(buf, 1, sizeof(buf), p)) > 0) {
                out.append(buf, n);
            }
            pclose(p);
        }
        return out;
    }
    bool statusStartsWith(const std::string& prefix, int ms) {
        return waitFor([&] { return kiv("-s").rfind(prefix, 0) == 0; }, ms);
    }
    bool tooCloseToMidnight() {
        time_t now = time(nullptr);
        struct tm t;
        localtime_r(&now, &t);
        return t.tm_hour == 23 && t.tm_min == 59;
    }
    // One everyday entry from now + from to now + to seconds.
    void writeSchedule(int sequence, const std::string& name, int from, int to) {
        auto hhmmss = [](time_t at) {
            struct tm x;
            localtime_r(&at, &x);
            char buf[16];
            strftime(buf, sizeof(buf), "%H:%M:%S", &x);
            return std::string(buf);
        };
        time_t now = time(nullptr);
        writeFile(media + "/config/schedule.json",
                  R"([{"enabled": 1, "sequence": )" + std::to_string(sequence) + R"(, "playlist": ")" + name +
                      R"(", "dayIndex": 7, "startTime": ")" + hhmmss(now + from) + R"(", "endTime": ")" +
                      hhmmss(now + to) +
                      R"(", "repeat": 1, "stopType": 1, "startDate": "0000-01-01", "endDate": "0000-12-31"}])");
    }
};

TEST_F(KivdWithShow, ClientStartsAndStopsPlaylists) {
    start({"-f"});
    ASSERT_TRUE(loopRunning()) << log();
    EXPECT_TRUE(statusStartsWith("2,0,", 5000)) << kiv("-s");
    EXPECT_EQ(kiv("-p Demo"), "2,1,Playlist Started,,,,,,,,,,\n");
    EXPECT_TRUE(statusStartsWith("2,1,70,Demo,sequence,Rainbow.tavo,", 5000)) << kiv("-s");
    EXPECT_EQ(kiv("-d"), "2,1,Playlist Stopping Now,,,,,,,,,,\n");
    EXPECT_TRUE(statusStartsWith("2,0,", 5000)) << kiv("-s");
    // An unknown action sends an empty request, which the daemon answers as invalid.
    EXPECT_EQ(kiv("-c dance"), "Invalid command: ''\n");
    EXPECT_EQ(kiv("-q"), "2,1,Shutting Down,,,,,,,,,,\n");
    EXPECT_EQ(waitExit(15000), 0) << log();
}

TEST_F(KivdWithShow, ScheduleStartsAndStopsThePlaylist) {
    if (tooCloseToMidnight()) {
        GTEST_SKIP() << "too close to midnight for a same-day entry";
    }
    writeSchedule(0, "Demo", 4, 9);
    start({"-f"});
    ASSERT_TRUE(loopRunning()) << log();
    EXPECT_TRUE(statusStartsWith("2,1,70,Demo,", 10000)) << kiv("-s") << log();
    EXPECT_TRUE(statusStartsWith("2,0,", 12000)) << kiv("-s") << log();
    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(15000), 0) << log();
}

// A sequence entry, picked up by "R" in the running daemon, plays the sequence under its own
// name; "p" of it while it is due starts it again.
TEST_F(KivdWithShow, ReloadedScheduleStartsASequenceAndPStartsItAgain) {
    if (tooCloseToMidnight()) {
        GTEST_SKIP() << "too close to midnight for a same-day entry";
    }
    start({"-f"});
    ASSERT_TRUE(loopRunning()) << log();
    EXPECT_TRUE(statusStartsWith("2,0,", 5000)) << kiv("-s");
    writeSchedule(1, "Chase.tavo", 3, 16);
    EXPECT_EQ(kiv("-R"), "2,1,Reloading Schedule,,,,,,,,,,\n");
    EXPECT_TRUE(statusStartsWith("2,1,70,Chase.tavo,", 10000)) << kiv("-s") << log();
    EXPECT_EQ(kiv("-d"), "2,1,Playlist Stopping Now,,,,,,,,,,\n");
    EXPECT_TRUE(statusStartsWith("2,0,", 5000)) << kiv("-s");
    EXPECT_EQ(kiv("-p Chase.tavo"), "2,1,Playlist Started,,,,,,,,,,\n");
    EXPECT_TRUE(statusStartsWith("2,1,70,Chase.tavo,", 5000)) << kiv("-s") << log();
    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(15000), 0) << log();
}

} // namespace
