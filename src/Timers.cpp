#include "Timers.h"

#include <algorithm>
#include <climits>
#include <exception>

#include "common.h"
#include "log.h"

Timers Timers::INSTANCE;

namespace {
std::mutex triggerLock;
std::function<void(const std::string&)> presetTrigger;
// The registry whose timers this thread is firing right now (it holds that lock).
thread_local Timers* firingIn = nullptr;
} // namespace

Timers::Timers() = default;

Timers::~Timers() {
    for (TimerInfo* t : timers) {
        delete t;
    }
}

void Timers::SetPresetTrigger(std::function<void(const std::string&)> trigger) {
    std::lock_guard<std::mutex> guard(triggerLock);
    presetTrigger = std::move(trigger);
}

void Timers::SetClock(std::function<long long()> c) {
    std::lock_guard<std::mutex> guard(timersLock);
    clock = std::move(c);
}

long long Timers::nowMS() { return clock ? clock() : GetTimeMS(); }

size_t Timers::TimerCount() {
    std::lock_guard<std::mutex> guard(timersLock);
    return (size_t)std::count_if(timers.begin(), timers.end(), [](TimerInfo* t) { return t != nullptr; });
}

void Timers::apply(std::function<void()>&& change) {
    if (firingIn == this) {
        // A callback of the running pass: the lock is ours already, so apply it after the pass.
        deferred.push_back(std::move(change));
        return;
    }
    std::lock_guard<std::mutex> guard(timersLock);
    change();
    updateTimers();
}

Timers::TimerInfo* Timers::findLocked(const std::string& name) {
    if (name.empty()) {
        return nullptr;
    }
    for (TimerInfo* t : timers) {
        if (t && t->name == name) {
            return t;
        }
    }
    return nullptr;
}

Timers::TimerInfo* Timers::findOrCreateLocked(const std::string& name) {
    TimerInfo* t = findLocked(name);
    if (!t) {
        t = new TimerInfo();
        t->name = name;
        timers.push_back(t);
    }
    return t;
}

void Timers::addCallbackLocked(const std::string& name, long long fireTimeMS, std::function<void()>&& callback,
                               long long periodMS, bool periodic) {
    TimerInfo* t = findOrCreateLocked(name);
    t->fireTimeMS = fireTimeMS;
    t->callback = std::move(callback);
    t->command.clear();
    if (periodic) {
        t->periodMS = periodMS;
    }
}

void Timers::addCommandLocked(const std::string& name, long long fireTimeMS, const std::string& command) {
    TimerInfo* t = findOrCreateLocked(name);
    t->fireTimeMS = fireTimeMS;
    t->command = command;
}

void Timers::stopLocked(const std::string& name) {
    for (TimerInfo*& t : timers) {
        if (t && t->name == name) {
            delete t;
            t = nullptr;
            return;
        }
    }
}

void Timers::addTimer(const std::string& name, long long fireTimeMS, std::function<void()>&& callback) {
    apply([this, name, fireTimeMS, cb = std::move(callback)]() mutable {
        addCallbackLocked(name, fireTimeMS, std::move(cb), 0, false);
    });
}

void Timers::addTimer(const std::string& name, long long fireTimeMS, const std::string& command) {
    if (command.empty()) {
        return;
    }
    apply([this, name, fireTimeMS, command]() { addCommandLocked(name, fireTimeMS, command); });
}

void Timers::addPeriodicTimer(const std::string& name, long long periodMS, std::function<void()>&& callback) {
    if (periodMS <= 0) {
        // It would fire on every pass of the main loop.
        LogErr(kivlog::General, "Refusing periodic timer '%s' with period %lld ms\n", name.c_str(), periodMS);
        return;
    }
    long long fireTimeMS = nowMS() + periodMS;
    apply([this, name, fireTimeMS, periodMS, cb = std::move(callback)]() mutable {
        addCallbackLocked(name, fireTimeMS, std::move(cb), periodMS, true);
    });
}

void Timers::stopPeriodicTimer(const std::string& name) {
    if (name.empty()) {
        return;
    }
    apply([this, name]() { stopLocked(name); });
}

void Timers::fire(TimerInfo& timer) {
    try {
        if (!timer.command.empty()) {
            std::function<void(const std::string&)> trigger;
            {
                std::lock_guard<std::mutex> guard(triggerLock);
                trigger = presetTrigger;
            }
            if (trigger) {
                trigger(timer.command);
            } else {
                LogWarn(kivlog::General, "Timer '%s': no preset trigger registered, preset '%s' not run\n",
                        timer.name.c_str(), timer.command.c_str());
            }
        } else if (timer.callback) {
            timer.callback();
        }
    } catch (const std::exception& e) {
        LogErr(kivlog::General, "Timer '%s' failed: %s\n", timer.name.c_str(), e.what());
    } catch (...) {
        LogErr(kivlog::General, "Timer '%s' failed\n", timer.name.c_str());
    }
}

void Timers::fireTimersInternal(long long now) {
    std::lock_guard<std::mutex> guard(timersLock);
    std::vector<size_t> due;
    for (size_t i = 0; i < timers.size(); i++) {
        if (timers[i] && timers[i]->fireTimeMS < now) {
            due.push_back(i);
        }
    }
    // Earliest first, so timers that came due together run in the order of their times.
    std::stable_sort(due.begin(), due.end(),
                     [this](size_t a, size_t b) { return timers[a]->fireTimeMS < timers[b]->fireTimeMS; });
    firingIn = this;
    for (size_t i : due) {
        TimerInfo* t = timers[i];
        fire(*t);
        if (t->periodMS) {
            // Measured after the firing: a slow callback delays its next turn.
            t->fireTimeMS = nowMS() + t->periodMS;
        } else {
            delete t;
            timers[i] = nullptr;
        }
    }
    firingIn = nullptr;
    std::vector<std::function<void()>> changes;
    changes.swap(deferred);
    for (auto& change : changes) {
        change();
    }
    if (!due.empty() || !changes.empty()) {
        updateTimers();
    }
}

void Timers::updateTimers() {
    for (size_t i = 0; i < timers.size();) {
        if (!timers[i]) {
            timers[i] = timers.back();
            timers.pop_back();
        } else {
            i++;
        }
    }
    if (!timers.empty()) {
        long long next = LLONG_MAX;
        for (TimerInfo* t : timers) {
            next = std::min(next, t->fireTimeMS);
        }
        nextTimerMS.store(next, std::memory_order_release);
    }
    hasTimers.store(!timers.empty(), std::memory_order_release);
}
