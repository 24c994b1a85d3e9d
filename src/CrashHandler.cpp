#include "CrashHandler.h"

#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <list>
#include <string>
#include <vector>

#include "MainLoop.h"
#include "WarningHolder.h"
#include "common.h"
#include "kivversion.h"
#include "log.h"
#include "settings.h"

namespace {

const int FATAL_SIGNALS[] = {SIGFPE, SIGILL, SIGBUS, SIGSEGV};
constexpr int FATAL_COUNT = 4;
struct sigaction savedHandlers[FATAL_COUNT];
bool installed = false;

// Copies of what the handler needs, refreshed from the main loop (see the header).
char mediaDir[1024];
char reportURL[1024];
char programPath[1024];
char platformName[32] = "Linux";
std::atomic<int> shareCrashData{3};

std::atomic<int> handlerThread{0}; // kernel thread id of the running handler, 0 when none

constexpr int MAX_ARCHIVES = 10;
constexpr int DEBUGGER_CHILDREN_KILL_MS = 10000;
constexpr int DEBUGGER_KILL_MS = 20000;
constexpr int DEBUGGER_WAIT_MS = 25000;
constexpr int ARCHIVE_WAIT_MS = 60000;
constexpr int LAST_RESORT_SECONDS = 100;

int currentThreadId() { return (int)syscall(SYS_gettid); }

void sleepMS(int ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void copyText(char* to, size_t size, const std::string& from) {
    if (strncmp(to, from.c_str(), size) != 0) {
        snprintf(to, size, "%s", from.c_str());
    }
}

// In signal context the logger is not safe (stdio locks, allocation): write the text to
// standard error and append it to the log file with plain system calls.
void rawLog(const char* text) {
    size_t length = strlen(text);
    WriteFully(2, text, length);
    if (loggingToFile()) {
        int fd = open(logFileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            WriteFully(fd, text, length);
            close(fd);
        }
    }
}

void crashLog(bool signalContext, const char* format, ...) __attribute__((format(printf, 2, 3)));
void crashLog(bool signalContext, const char* format, ...) {
    static char buffer[70000];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (signalContext) {
        rawLog(buffer);
    } else {
        LogErr(kivlog::General, "%s", buffer);
    }
}

bool beingTraced() {
    char status[4096];
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ssize_t n = read(fd, status, sizeof(status) - 1);
    close(fd);
    if (n <= 0) {
        return false;
    }
    status[n] = '\0';
    const char* tracer = strstr(status, "TracerPid:");
    return tracer && atoi(tracer + strlen("TracerPid:")) != 0;
}

// Waits for a child up to `ms`, then kills it (with its process group when killGroup).
// `tick`, when given, runs every 100 ms with the time waited so far. With children reaped
// automatically the child's end shows as ECHILD rather than a status.
void waitBounded(pid_t child, int ms, void (*tick)(pid_t, int) = nullptr, bool killGroup = false) {
    for (int waited = 0;; waited += 100) {
        int status = 0;
        pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child || (r < 0 && errno != EINTR)) {
            return;
        }
        if (waited >= ms) {
            if (killGroup) {
                kill(-child, SIGKILL);
            }
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return;
        }
        if (tick) {
            tick(child, waited);
        }
        sleepMS(100);
    }
}

// A forked helper must see its own children end, and must not run the daemon's handlers.
void resetChildSignals() {
    signal(SIGCHLD, SIG_DFL);
    signal(SIGALRM, SIG_DFL);
    for (int s : FATAL_SIGNALS) {
        signal(s, SIG_DFL);
    }
}

void runDebugger(pid_t target) {
    pid_t gdb = fork();
    if (gdb < 0) {
        return;
    }
    if (gdb == 0) {
        // Its own group: the hard stop below ends gdb and anything it started.
        setpgid(0, 0);
        // /tmp is shared: a link planted under the trace file's name is never followed.
        int fd = open(CRASH_LOG_FILE, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) {
            dup2(null, 0);
        }
        char pidText[32];
        snprintf(pidText, sizeof(pidText), "%d", (int)target);
        execlp("gdb", "gdb", "--batch", "-n", "-ex", "thread apply all bt", "-ex", "info threads", "-ex", "bt",
               "-ex", "detach", programPath, pidText, (char*)nullptr);
        _exit(127);
    }
    // A debugger stuck on a helper of its own loses the helper first, then its life.
    waitBounded(
        gdb, DEBUGGER_KILL_MS,
        [](pid_t debugger, int waited) {
            if (waited != DEBUGGER_CHILDREN_KILL_MS) {
                return;
            }
            char parent[32];
            snprintf(parent, sizeof(parent), "%d", (int)debugger);
            if (fork() == 0) {
                execlp("pkill", "pkill", "-KILL", "-P", parent, (char*)nullptr);
                _exit(127);
            }
        },
        true);
}

// The debugger's output counts only when it holds a backtrace; a refused attach leaves
// just an error text, and then the process's own backtrace is needed.
bool readCrashLog(char* buffer, size_t size) {
    buffer[0] = '\0';
    int fd = open(CRASH_LOG_FILE, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    size_t total = 0;
    while (total + 1 < size) {
        ssize_t n = read(fd, buffer + total, size - 1 - total);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        total += n;
    }
    close(fd);
    buffer[total] = '\0';
    return strstr(buffer, "\n#0 ") != nullptr || strncmp(buffer, "#0 ", 3) == 0;
}

void writeOwnBacktrace(bool signalContext) {
    void* frames[128];
    int count = backtrace(frames, 128);
    int fd = open(CRASH_LOG_FILE, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        backtrace_symbols_fd(frames, count, fd);
        close(fd);
    }
    static char trace[65536];
    readCrashLog(trace, sizeof(trace));
    crashLog(signalContext, "Own backtrace:\n%s\n", trace);
}

// Runs in a forked child (bounded by the parent): lists, prunes, packs and uploads.
void makeArchive(int share) {
    resetChildSignals();
    std::string dir = std::string(mediaDir) + "/crashes";
    mkdir(dir.c_str(), 0775);
    SetFilePerms(dir, true);

    std::vector<std::string> archives;
    bool recent = false;
    time_t now = time(nullptr);
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* entry = readdir(d)) {
            std::string name = entry->d_name;
            if (!endsWith(name, ".zip")) {
                continue;
            }
            struct stat st;
            if (stat((dir + "/" + name).c_str(), &st) == 0 && now - st.st_mtime < 60) {
                recent = true;
            }
            archives.push_back(name);
        }
        closedir(d);
    }
    if (recent) {
        crashLog(true, "Very recent crash report found, not uploading\n");
    }
    // Room is left for the new archive.
    for (const auto& name : CrashArchivesToRemove(archives, recent ? MAX_ARCHIVES : MAX_ARCHIVES - 1)) {
        unlink((dir + "/" + name).c_str());
    }
    if (recent) {
        return;
    }

    char stamp[64];
    struct tm local;
    localtime_r(&now, &local);
    strftime(stamp, sizeof(stamp), "%Y-%m-%d_%H-%M-%S", &local);
    char name[512];
    snprintf(name, sizeof(name), "crashes/kiv-%s-%s-%s.zip", platformName, getKIVVersion(), stamp);

    std::vector<std::string> args = {"zip", "-q", "-r", name, CRASH_LOG_FILE};
    if (share >= 2) {
        args.push_back("settings");
    }
    if (share >= 3) {
        for (const char* extra : {"config", "tmp", "logs/kivd.log", "logs/apache2-error.log", "playlists"}) {
            args.push_back(extra);
        }
    }
    pid_t zip = fork();
    if (zip == 0) {
        if (chdir(mediaDir) != 0) {
            _exit(127);
        }
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execvp("zip", argv.data());
        _exit(127);
    }
    if (zip < 0) {
        return;
    }
    int status = 0;
    waitpid(zip, &status, 0);
    std::string path = std::string(mediaDir) + "/" + name;
    if (!FileExists(path)) {
        crashLog(true, "Could not write the crash report %s\n", path.c_str());
        return;
    }
    SetFilePerms(path);
    crashLog(true, "Crash report written to %s\n", path.c_str());

    // Boards are often offline: upload only to a service the user named.
    if (reportURL[0]) {
        pid_t upload = fork();
        if (upload == 0) {
            std::string field = "userfile=@" + path;
            execlp("curl", "curl", "-s", "-o", "/dev/null", "--max-time", "120", "-F", field.c_str(), reportURL,
                   (char*)nullptr);
            _exit(127);
        }
        // Not waited for: it goes on after this helper ends.
    }
}

void crashReport(int signal, bool signalContext) {
    int share = shareCrashData.load();
    crashLog(signalContext, "Crash handler called:  %d\n", signal);

    bool haveStack = false;
    if (!beingTraced()) {
        unlink(CRASH_LOG_FILE);
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
        pid_t target = getpid();
        pid_t monitor = fork();
        if (monitor == 0) {
            resetChildSignals();
            runDebugger(target);
            _exit(0);
        }
        if (monitor > 0) {
            waitBounded(monitor, DEBUGGER_WAIT_MS);
        }
        static char stack[65536];
        if (readCrashLog(stack, sizeof(stack))) {
            haveStack = true;
            crashLog(signalContext, "Stack: \n%s\n", stack);
        }
    }
    if (!haveStack) {
        writeOwnBacktrace(signalContext);
    }

    if (share > 0 && mediaDir[0]) {
        pid_t archiver = fork();
        if (archiver == 0) {
            makeArchive(share);
            _exit(0);
        }
        if (archiver > 0) {
            waitBounded(archiver, ARCHIVE_WAIT_MS);
        }
    }
}

void fatalSignalHandler(int signal) {
    int self = currentThreadId();
    int expected = 0;
    if (!handlerThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // The handler itself faulted: returning would fault again for ever.
            _exit(255);
        }
        // Another thread is writing the report and will end the process.
        while (true) {
            pause();
        }
    }
    // Whatever hangs below, the process still ends.
    ::signal(SIGALRM, SIG_DFL);
    alarm(LAST_RESORT_SECONDS);

    crashReport(signal, true);
    runMainKIVDLoop = 0;
    // A JSON array, as every reader of the warnings file expects.
    WarningHolder::writeWarningsFile(std::list<std::string>{"KIVD has crashed.  Check crash reports."});
    // No exit handlers or destructors: they may wait for locks the crashed thread holds.
    _exit(255);
}

std::string detectPlatform() {
    std::string model = GetFileContents("/proc/device-tree/model");
    if (contains(model, "Raspberry")) {
        return "Pi";
    }
    if (contains(model, "BeagleBone")) {
        return "BBB";
    }
    return "Linux";
}

} // namespace

std::vector<std::string> CrashArchivesToRemove(std::vector<std::string> names, size_t keep) {
    std::sort(names.begin(), names.end());
    if (names.size() <= keep) {
        return {};
    }
    names.resize(names.size() - keep);
    return names;
}

void RefreshCrashHandlerSettings() {
    copyText(mediaDir, sizeof(mediaDir), getKIVMediaDir());
    copyText(reportURL, sizeof(reportURL), getSetting("crashReportURL"));
    shareCrashData = getSettingInt("ShareCrashData", 3);
}

void InstallCrashHandlers() {
    if (installed) {
        bool ok = true;
        for (int i = 0; i < FATAL_COUNT; i++) {
            ok = sigaction(FATAL_SIGNALS[i], &savedHandlers[i], nullptr) == 0 && ok;
        }
        if (!ok) {
            LogWarn(kivlog::General, "Failed to install default signal handlers.\n");
        }
        installed = false;
        return;
    }
    installed = true;

    ssize_t n = readlink("/proc/self/exe", programPath, sizeof(programPath) - 1);
    programPath[n > 0 ? n : 0] = '\0';
    copyText(platformName, sizeof(platformName), detectPlatform());
    // The first backtrace() loads its unwinder, which allocates: not in a crashed process.
    void* warmUp[4];
    backtrace(warmUp, 4);

    // A stack overflow can only be reported from a stack of its own.
    static std::vector<char> alternateStack(256 * 1024);
    stack_t ss = {};
    ss.ss_sp = alternateStack.data();
    ss.ss_size = alternateStack.size();
    sigaltstack(&ss, nullptr);

    bool ok = true;
    struct sigaction action = {};
    action.sa_handler = fatalSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK;
    for (int i = 0; i < FATAL_COUNT; i++) {
        ok = sigaction(FATAL_SIGNALS[i], &action, &savedHandlers[i]) == 0 && ok;
    }
    struct sigaction child = {};
    child.sa_handler = SIG_DFL;
    sigemptyset(&child.sa_mask);
    child.sa_flags = SA_NOCLDWAIT;
    ok = sigaction(SIGCHLD, &child, nullptr) == 0 && ok;
    if (!ok) {
        LogWarn(kivlog::General, "Failed to install our signal handler.\n");
    }
}

void WriteCrashReport(int signal) {
    int expected = 0;
    if (!handlerThread.compare_exchange_strong(expected, currentThreadId())) {
        return;
    }
    RefreshCrashHandlerSettings();
    crashReport(signal, false);
    handlerThread = 0;
}
