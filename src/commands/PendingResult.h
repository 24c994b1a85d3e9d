#pragma once

#include <atomic>
#include <mutex>

#include "Command.h"

// A result that background work completes later. Both the work and the
// caller hold it (Command::ResultPtr), so whichever lets go last frees it.
// finish() may be called from any thread, once; later calls are ignored.
class PendingResult : public Command::Result {
public:
    PendingResult() = default;

    void finish(const std::string& text, bool error, const std::string& contentType = "text/plain");

    bool isDone() const override { return m_done.load(std::memory_order_acquire); }
    bool isError() const override;
    std::string get() const override;
    std::string contentType() const override;

private:
    mutable std::mutex m_lock;
    std::atomic<bool> m_done{false};
    bool m_error = false;
};
