#pragma once

// Commands and helpers shared by the registry tests.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "Command.h"
#include "PendingResult.h"

namespace cmdtest {

// Remembers every run (name and arguments) in order, from any thread.
struct RunLog {
    std::mutex lock;
    std::vector<std::pair<std::string, std::vector<std::string>>> runs;

    void add(const std::string& name, const std::vector<std::string>& args) {
        std::lock_guard<std::mutex> l(lock);
        runs.emplace_back(name, args);
    }
    std::vector<std::pair<std::string, std::vector<std::string>>> take() {
        std::lock_guard<std::mutex> l(lock);
        return std::move(runs);
    }
};

// Records its runs and answers the arguments joined with "|".
class RecordingCommand : public Command {
public:
    RecordingCommand(const std::string& name, RunLog& log, bool hide = false,
                     std::string contentType = "text/plain")
        : Command(name), m_log(log), m_hidden(hide), m_contentType(std::move(contentType)) {}

    bool hidden() const override { return m_hidden; }
    ResultPtr run(const std::vector<std::string>& args) override {
        m_log.add(name, args);
        std::string text;
        for (size_t i = 0; i < args.size(); i++) {
            text += (i ? "|" : "") + args[i];
        }
        return std::make_shared<Result>(text, m_contentType);
    }

private:
    RunLog& m_log;
    bool m_hidden;
    std::string m_contentType;
};

// Answers an error with a fixed text.
class FailingCommand : public Command {
public:
    explicit FailingCommand(const std::string& name) : Command(name) {}
    ResultPtr run(const std::vector<std::string>&) override {
        return std::make_shared<ErrorResult>("it failed");
    }
};

// Hands out a result that only the test completes (or never does).
class PendingCommand : public Command {
public:
    explicit PendingCommand(const std::string& name) : Command(name) {}
    ResultPtr run(const std::vector<std::string>&) override {
        std::lock_guard<std::mutex> l(m_lock);
        m_last = std::make_shared<PendingResult>();
        return m_last;
    }
    std::shared_ptr<PendingResult> last() {
        std::lock_guard<std::mutex> l(m_lock);
        return m_last;
    }

private:
    std::mutex m_lock;
    std::shared_ptr<PendingResult> m_last;
};

// The process's media directory: a temporary folder named by KIV_MEDIA_DIR,
// set before anything reads it (the media directory is read once per process).
inline const std::filesystem::path& MediaDir() {
    static const std::filesystem::path dir = [] {
        char tmpl[] = "/tmp/kiv-commands-XXXXXX";
        std::filesystem::path p = mkdtemp(tmpl);
        setenv("KIV_MEDIA_DIR", p.c_str(), 1);
        // Kept apart from `dir`, which is destroyed before exit handlers run.
        static const std::string* toRemove = new std::string(p);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(*toRemove, ec);
        });
        return p;
    }();
    return dir;
}

} // namespace cmdtest
