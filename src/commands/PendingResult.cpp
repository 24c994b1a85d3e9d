#include "PendingResult.h"

void PendingResult::finish(const std::string& text, bool error, const std::string& contentType) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_done.load(std::memory_order_relaxed)) {
        return;
    }
    m_result = text;
    m_contentType = contentType;
    m_error = error;
    m_done.store(true, std::memory_order_release);
}

bool PendingResult::isError() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_error;
}

std::string PendingResult::get() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_result;
}

std::string PendingResult::contentType() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_contentType;
}
