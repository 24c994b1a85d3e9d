#include "RunScriptCommand.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "common.h"
#include "log.h"
#include "settings.h"

extern char** environ;

struct RunScriptCommand::Running {
    std::mutex lock;
    int count = 0;
};

RunScriptCommand::RunScriptCommand()
    : Command("Run Script", "Run a script of the media directory's scripts folder"),
      m_running(std::make_shared<Running>()) {
    CommandArg script("Script", "string", "Script");
    script.contentListUrl = "api/files/scripts";
    args.push_back(script);
    args.emplace_back("Arguments", "string", "Script arguments (quote those with blanks)", true);
}

// Running scripts are not waited for: they may run for the life of the show.
RunScriptCommand::~RunScriptCommand() = default;

namespace {

// A plain file name: no folders, nothing hidden, nothing that climbs out of scripts/.
bool validScriptName(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos;
}

} // namespace

Command::ResultPtr RunScriptCommand::run(const std::vector<std::string>& a) {
    if (a.empty() || !validScriptName(a[0])) {
        return std::make_shared<ErrorResult>("Run Script needs the name of a script in the scripts folder");
    }
    std::string dir = getKIVMediaDir("/scripts");
    std::string path = dir + "/" + a[0];
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        LogWarn(kivlog::Command, "Script %s not found\n", path.c_str());
        return std::make_shared<ErrorResult>("No script named " + a[0]);
    }

    std::vector<std::string> argv;
    if (access(path.c_str(), X_OK) != 0) {
        argv.push_back("/bin/sh");
    }
    argv.push_back(path);
    for (size_t i = 1; i < a.size(); i++) {
        for (const auto& piece : splitWithQuotes(a[i], ' ')) {
            if (!piece.empty()) {
                argv.push_back(piece);
            }
        }
    }
    std::vector<char*> cargv;
    for (auto& s : argv) {
        cargv.push_back(s.data());
    }
    cargv.push_back(nullptr);

    {
        std::lock_guard<std::mutex> lock(m_running->lock);
        if (m_running->count >= MAX_RUNNING) {
            return std::make_shared<ErrorResult>("Too many scripts running");
        }
        m_running->count++;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = -1;
    int rc = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::lock_guard<std::mutex> lock(m_running->lock);
        m_running->count--;
        LogErr(kivlog::Command, "Unable to run script %s: %s\n", path.c_str(), strerror(rc));
        return std::make_shared<ErrorResult>("Unable to run " + a[0] + ": " + strerror(rc));
    }
    LogInfo(kivlog::Command, "Started script %s (pid %d)\n", a[0].c_str(), (int)pid);

    std::shared_ptr<Running> running = m_running;
    std::string name = a[0];
    auto reap = [running, pid, name] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status)) {
            LogDebug(kivlog::Command, "Script %s exited with %d\n", name.c_str(), WEXITSTATUS(status));
        } else if (WIFSIGNALED(status)) {
            LogWarn(kivlog::Command, "Script %s ended by signal %d\n", name.c_str(), WTERMSIG(status));
        }
        std::lock_guard<std::mutex> lock(running->lock);
        running->count--;
    };
    try {
        std::thread(reap).detach();
    } catch (const std::system_error&) {
        reap();  // no thread to spare: wait here rather than leave a zombie
    }
    return std::make_shared<Result>("Script started");
}
