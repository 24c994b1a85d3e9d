#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Watches the kernel's link and address changes through a netlink socket and tells the
// registered callbacks. The socket is read by the daemon's main loop: Init() adds the
// descriptor with its handler to the loop's callback map; tests may call
// handleEvents() directly.
class NetworkMonitor {
public:
    enum class NetEventType {
        NEW_LINK = 0,  // state: 1 when the link is up and running
        DEL_LINK = 1,  // state 0
        NEW_ADDR = 2,  // an IPv4 address appeared; state 1
        DEL_ADDR = 3,  // an IPv4 address went away; state 0
    };
    using CallbackFunction = std::function<void(NetEventType, int state, const std::string& iface)>;

    static NetworkMonitor INSTANCE;

    ~NetworkMonitor();

    // Opens the netlink socket (once) and adds it to the main loop's descriptor map.
    void Init(std::map<int, std::function<bool(int)>>& callbacks);
    // Opens the netlink socket if needed; -1 when that failed.
    int descriptor();
    void Close();

    // Safe from any thread, also from inside a callback. After removeCallback returns the
    // callback is not running and will not be called again.
    int registerCallback(CallbackFunction callback);
    void removeCallback(int id);

    // Reads every pending netlink message without blocking and calls the callbacks on
    // this thread. Returns false: it never produces channel data.
    bool handleEvents();

    // Decodes one buffer of netlink messages (bounds-checked) into events.
    static std::vector<std::pair<NetEventType, std::pair<int, std::string>>>
    parseMessages(const uint8_t* data, size_t length);

private:
    std::mutex m_lock;                  // socket, callbacks, ids
    std::recursive_mutex m_dispatchLock; // held while callbacks run
    int m_socket = -1;
    int m_nextId = 1;
    std::map<int, CallbackFunction> m_callbacks;
};
