#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

// The event hub: topic callbacks that message transports (MQTT) deliver to, and the daemon's
// start and end of service. No transport exists yet, so callbacks are only stored; they run
// when someone invokes them by topic.
class Events {
public:
    using Callback = std::function<void(const std::string& topic, const std::string& payload)>;

    // Replaces an earlier callback of the same topic. Any thread.
    static void AddCallback(const std::string& topic, Callback callback);
    static void RemoveCallback(const std::string& topic);
    // Runs the callback stored under callbackTopic on this thread; false when there is none.
    static bool InvokeCallback(const std::string& callbackTopic, const std::string& topic,
                               const std::string& payload);

    // The main loop starts serving.
    static void Ready();
    // Shutdown, before the transports are removed.
    static void PrepareForShutdown();
};
