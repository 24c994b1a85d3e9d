#include "URLCommand.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "PendingResult.h"
#include "common.h"
#include "log.h"

// Shared with the request threads so that they may outlive the command.
struct URLCommand::InFlight {
    std::mutex lock;
    std::condition_variable idle;
    int count = 0;
};

URLCommand::URLCommand()
    : Command("URL", "Send a request to a URL"), m_inFlight(std::make_shared<InFlight>()) {
    args.emplace_back("URL", "string", "URL");
    CommandArg method("Method", "string", "Method", true);
    method.contents = {"GET", "POST", "PUT", "DELETE"};
    method.defaultValue = "GET";
    args.push_back(method);
    args.emplace_back("PostData", "string", "Request body", true);
}

URLCommand::~URLCommand() {
    // Let requests finish so that none runs on while the process tears down.
    std::unique_lock<std::mutex> lock(m_inFlight->lock);
    if (!m_inFlight->idle.wait_for(lock, std::chrono::seconds(TIMEOUT_SECONDS + 1),
                                   [this] { return m_inFlight->count == 0; })) {
        LogWarn(kivlog::Command, "%d URL requests still running at shutdown\n", m_inFlight->count);
    }
}

Command::ResultPtr URLCommand::run(const std::vector<std::string>& a) {
    if (a.empty() || a[0].empty()) {
        return std::make_shared<ErrorResult>("URL command needs a URL");
    }
    std::string url = a[0];
    std::string method = a.size() > 1 && !a[1].empty() ? toUpperCopy(a[1]) : "GET";
    std::string data = a.size() > 2 ? a[2] : "";
    if (method != "GET" && method != "POST" && method != "PUT" && method != "DELETE") {
        return std::make_shared<ErrorResult>("Unsupported method: " + method);
    }
    {
        std::lock_guard<std::mutex> lock(m_inFlight->lock);
        if (m_inFlight->count >= MAX_IN_FLIGHT) {
            LogWarn(kivlog::Command, "Too many URL requests in progress, refusing %s\n", url.c_str());
            return std::make_shared<ErrorResult>("Too many URL requests in progress");
        }
        m_inFlight->count++;
    }
    auto result = std::make_shared<PendingResult>();
    std::shared_ptr<InFlight> inFlight = m_inFlight;
    try {
        std::thread([result, inFlight, url, method, data] {
            std::string response;
            bool ok = urlHelper(method, url, data, response, {}, TIMEOUT_SECONDS);
            result->finish(ok ? response : "Request failed: " + url, !ok);
            std::lock_guard<std::mutex> lock(inFlight->lock);
            if (--inFlight->count == 0) {
                inFlight->idle.notify_all();
            }
        }).detach();
    } catch (const std::system_error& e) {
        std::lock_guard<std::mutex> lock(m_inFlight->lock);
        m_inFlight->count--;
        LogErr(kivlog::Command, "Unable to start a URL request thread: %s\n", e.what());
        return std::make_shared<ErrorResult>("Unable to start the request");
    }
    return result;
}
