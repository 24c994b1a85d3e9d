#include "Events.h"

namespace {

std::mutex& callbackLock() {
    static std::mutex lock;
    return lock;
}

std::map<std::string, Events::Callback>& callbacks() {
    static std::map<std::string, Events::Callback> map;
    return map;
}

} // namespace

void Events::AddCallback(const std::string& topic, Callback callback) {
    std::lock_guard<std::mutex> l(callbackLock());
    callbacks()[topic] = std::move(callback);
}

void Events::RemoveCallback(const std::string& topic) {
    std::lock_guard<std::mutex> l(callbackLock());
    callbacks().erase(topic);
}

bool Events::InvokeCallback(const std::string& callbackTopic, const std::string& topic,
                            const std::string& payload) {
    Callback callback;
    {
        std::lock_guard<std::mutex> l(callbackLock());
        auto it = callbacks().find(callbackTopic);
        if (it == callbacks().end()) {
            return false;
        }
        callback = it->second;
    }
    // Outside the lock: a callback may add or remove callbacks.
    callback(topic, payload);
    return true;
}

void Events::Ready() {}

void Events::PrepareForShutdown() {}
