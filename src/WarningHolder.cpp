#include "WarningHolder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

#include <json/json.h>

#include "log.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Entry {
    std::string text;
    bool timed = false;
    Clock::time_point expires;
};

struct State {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Entry> entries;
    std::vector<WarningListener*> listeners;
    std::string file;
    std::thread notifier;
    bool running = false;
    bool dirty = false;
};

State& state() {
    static State* s = new State(); // never destroyed: warnings may be raised during exit
    return *s;
}

// Caller holds the lock. Returns true when something expired.
bool expireLocked(Clock::time_point now) {
    auto& s = state();
    auto before = s.entries.size();
    s.entries.erase(std::remove_if(s.entries.begin(), s.entries.end(),
                                   [now](const Entry& e) { return e.timed && e.expires <= now; }),
                    s.entries.end());
    return before != s.entries.size();
}

std::list<std::string> textsLocked() {
    std::list<std::string> out;
    for (auto& e : state().entries) {
        out.push_back(e.text);
    }
    return out;
}

void markChangedLocked() {
    state().dirty = true;
    state().changed.notify_all();
}

void writeFileAtomically(const std::string& path, const std::string& content) {
    if (path.empty()) {
        return;
    }
    std::string tmp = path + ".tmp";
    FILE* f = fopen(tmp.c_str(), "w");
    if (!f) {
        LogWarn(kivlog::General, "Unable to write warnings file %s\n", tmp.c_str());
        return;
    }
    bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = (fclose(f) == 0) && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        LogWarn(kivlog::General, "Unable to write warnings file %s\n", path.c_str());
        unlink(tmp.c_str());
    }
}

void notifierLoop() {
    auto& s = state();
    std::unique_lock<std::mutex> l(s.lock);
    while (s.running) {
        // Wake for changes, and for the next timed expiry.
        auto next = Clock::now() + std::chrono::seconds(1);
        for (auto& e : s.entries) {
            if (e.timed && e.expires < next) {
                next = e.expires;
            }
        }
        s.changed.wait_until(l, next, [&] { return s.dirty || !s.running; });
        if (!s.running) {
            break;
        }
        if (expireLocked(Clock::now())) {
            s.dirty = true;
        }
        if (!s.dirty) {
            continue;
        }
        s.dirty = false;
        auto list = textsLocked();
        auto listeners = s.listeners;
        std::string file = s.file;
        l.unlock();
        for (auto* li : listeners) {
            li->handleWarnings(list);
        }
        if (!file.empty()) {
            WarningHolder::writeWarningsFile(list);
        }
        l.lock();
    }
}

} // namespace

void WarningHolder::AddWarning(const std::string& text) {
    auto& s = state();
    std::lock_guard<std::mutex> l(s.lock);
    for (auto& e : s.entries) {
        if (e.text == text) {
            if (e.timed) {
                e.timed = false; // a permanent add outranks an earlier timed one
                markChangedLocked();
            }
            return;
        }
    }
    s.entries.push_back({text, false, {}});
    LogWarn(kivlog::General, "Warning: %s\n", text.c_str());
    markChangedLocked();
}

void WarningHolder::AddWarningTimeout(const std::string& text, int seconds) {
    auto& s = state();
    auto expires = Clock::now() + std::chrono::seconds(std::max(0, seconds));
    std::lock_guard<std::mutex> l(s.lock);
    for (auto& e : s.entries) {
        if (e.text == text) {
            if (e.timed && e.expires < expires) {
                e.expires = expires;
            }
            return;
        }
    }
    s.entries.push_back({text, true, expires});
    LogWarn(kivlog::General, "Warning: %s\n", text.c_str());
    markChangedLocked();
}

void WarningHolder::RemoveWarning(const std::string& text) {
    auto& s = state();
    std::lock_guard<std::mutex> l(s.lock);
    auto before = s.entries.size();
    s.entries.erase(std::remove_if(s.entries.begin(), s.entries.end(), [&](const Entry& e) { return e.text == text; }),
                    s.entries.end());
    if (before != s.entries.size()) {
        markChangedLocked();
    }
}

std::list<std::string> WarningHolder::GetWarnings() {
    auto& s = state();
    std::lock_guard<std::mutex> l(s.lock);
    if (expireLocked(Clock::now())) {
        markChangedLocked();
    }
    return textsLocked();
}

void WarningHolder::ClearWarnings() {
    auto& s = state();
    std::lock_guard<std::mutex> l(s.lock);
    if (!s.entries.empty()) {
        s.entries.clear();
        markChangedLocked();
    }
}

void WarningHolder::AddWarningListener(WarningListener* listener) {
    auto& s = state();
    {
        std::lock_guard<std::mutex> l(s.lock);
        s.listeners.push_back(listener);
        markChangedLocked();
    }
}

void WarningHolder::RemoveWarningListener(WarningListener* listener) {
    auto& s = state();
    std::lock_guard<std::mutex> l(s.lock);
    s.listeners.erase(std::remove(s.listeners.begin(), s.listeners.end(), listener), s.listeners.end());
}

void WarningHolder::StartNotifyThread() {
    auto& s = state();
    std::lock_guard<std::mutex> l(s.lock);
    if (s.running) {
        return;
    }
    s.running = true;
    s.dirty = true;
    s.notifier = std::thread(notifierLoop);
}

void WarningHolder::StopNotifyThread() {
    auto& s = state();
    std::thread t;
    {
        std::lock_guard<std::mutex> l(s.lock);
        if (!s.running) {
            return;
        }
        s.running = false;
        s.changed.notify_all();
        t = std::move(s.notifier);
    }
    if (t.joinable()) {
        t.join();
    }
}

void WarningHolder::SetWarningsFile(const std::string& path) {
    auto& s = state();
    std::lock_guard<std::mutex> l(s.lock);
    s.file = path;
    markChangedLocked();
}

void WarningHolder::writeWarningsFile(const std::string& text) {
    std::string file;
    {
        std::lock_guard<std::mutex> l(state().lock);
        file = state().file;
    }
    writeFileAtomically(file, text);
}

void WarningHolder::writeWarningsFile(const std::list<std::string>& warnings) {
    Json::Value arr(Json::arrayValue);
    for (auto& w : warnings) {
        arr.append(w);
    }
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    writeWarningsFile(Json::writeString(b, arr));
}

void WarningHolder::clearWarningsFile() {
    std::string file;
    {
        std::lock_guard<std::mutex> l(state().lock);
        file = state().file;
    }
    if (!file.empty()) {
        unlink(file.c_str());
    }
}
