#pragma once

// Named and unnamed one-shot and periodic timers, fired from the daemon's main loop.
// A timer either calls a function or triggers a command preset by name.
//
// Threads: any thread may add or stop timers; the main loop fires them, under the
// registry's lock. A callback that adds or stops timers itself is fine: its change is
// applied right after the firing pass instead of deadlocking on the lock.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class Timers {
public:
    // One heap object per timer, owned by the registry.
    class TimerInfo {
    public:
        std::string name;        // unique among timers with a non-empty name
        long long fireTimeMS = 0; // on the clock (GetTimeMS() unless replaced)
        long long periodMS = 0;   // 0: one-shot
        std::string command;     // preset to trigger; when empty, callback runs
        std::function<void()> callback;
    };

    static Timers INSTANCE;

    Timers();
    ~Timers();
    Timers(const Timers&) = delete;
    Timers& operator=(const Timers&) = delete;

    // One-shot function timer at an absolute time (milliseconds on the clock).
    void addTimer(const std::string& name, long long fireTimeMS, std::function<void()>&& callback);
    // One-shot preset timer at an absolute time; an empty command does nothing at all.
    void addTimer(const std::string& name, long long fireTimeMS, const std::string& command);
    // Fires periodMS from now, then every periodMS after each firing ends.
    // A period that is not positive is refused.
    void addPeriodicTimer(const std::string& name, long long periodMS, std::function<void()>&& callback);
    // Removes the timer of that name, one-shot or periodic. An empty name does nothing.
    void stopPeriodicTimer(const std::string& name);

    // The main loop's entry point, called on every pass: fires what is due, cheaply
    // returning when nothing is.
    void fireTimers() {
        if (hasTimers.load(std::memory_order_acquire)) {
            long long now = nowMS();
            if (now >= nextTimerMS.load(std::memory_order_acquire)) {
                fireTimersInternal(now);
            }
        }
    }
    // Fires every timer whose time is strictly below nowMS, earliest first.
    void fireTimersInternal(long long nowMS);

    // Read by the main loop without the lock.
    std::atomic<bool> hasTimers{false};
    std::atomic<long long> nextTimerMS{0};

    // Seam for the command registry: how a preset is triggered by name. Until one is
    // set, a due preset timer logs a warning and is dropped.
    static void SetPresetTrigger(std::function<void(const std::string&)> trigger);
    // Tests drive time through their own clock; the default is GetTimeMS().
    void SetClock(std::function<long long()> clock);

    size_t TimerCount();

private:
    long long nowMS();
    void addCallbackLocked(const std::string& name, long long fireTimeMS, std::function<void()>&& callback,
                           long long periodMS, bool periodic);
    void addCommandLocked(const std::string& name, long long fireTimeMS, const std::string& command);
    void stopLocked(const std::string& name);
    TimerInfo* findLocked(const std::string& name);
    // An unnamed timer is always a new one.
    TimerInfo* findOrCreateLocked(const std::string& name);
    void fire(TimerInfo& timer);
    // Fills empty slots from the end, recomputes hasTimers and nextTimerMS.
    void updateTimers();
    // Runs `change` now under the lock, or, from inside a firing callback, after the pass.
    void apply(std::function<void()>&& change);

    std::mutex timersLock;
    std::vector<TimerInfo*> timers;
    std::vector<std::function<void()>> deferred;
    std::function<long long()> clock;
};
