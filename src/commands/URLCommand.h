#pragma once

#include <memory>

#include "Command.h"

// "URL": performs an HTTP request (URL, method, body). The request runs on a
// thread of its own and completes the returned result, so callers on the
// main loop never block on the network. runRemoteCommand depends on it.
class URLCommand : public Command {
public:
    URLCommand();
    ~URLCommand() override;

    ResultPtr run(const std::vector<std::string>& args) override;

    // Requests allowed in flight at once; more are refused with an error.
    static constexpr int MAX_IN_FLIGHT = 16;
    // Seconds a request may take before it fails.
    static constexpr int TIMEOUT_SECONDS = 10;

    struct InFlight;

private:
    std::shared_ptr<InFlight> m_inFlight;
};
