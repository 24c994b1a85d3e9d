#include "NetworkMonitor.h"

#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include "log.h"

NetworkMonitor NetworkMonitor::INSTANCE;

NetworkMonitor::~NetworkMonitor() { Close(); }

int NetworkMonitor::descriptor() {
    std::lock_guard<std::mutex> l(m_lock);
    if (m_socket >= 0) return m_socket;
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        LogErr(kivlog::General, "Could not open netlink socket: %s\n", strerror(errno));
        return -1;
    }
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0) {
        LogErr(kivlog::General, "Could not bind netlink socket: %s\n", strerror(errno));
        close(fd);
        return -1;
    }
    m_socket = fd;
    return fd;
}

void NetworkMonitor::Init(std::map<int, std::function<bool(int)>>& callbacks) {
    const int fd = descriptor();
    if (fd >= 0) callbacks[fd] = [this](int) { return handleEvents(); };
}

void NetworkMonitor::Close() {
    std::lock_guard<std::mutex> l(m_lock);
    if (m_socket >= 0) close(m_socket);
    m_socket = -1;
}

int NetworkMonitor::registerCallback(CallbackFunction callback) {
    std::lock_guard<std::mutex> l(m_lock);
    const int id = m_nextId++;
    m_callbacks[id] = std::move(callback);
    return id;
}

void NetworkMonitor::removeCallback(int id) {
    // Waits for a dispatch on another thread, so the callback is not running once this returns.
    std::lock_guard<std::recursive_mutex> dispatch(m_dispatchLock);
    std::lock_guard<std::mutex> l(m_lock);
    m_callbacks.erase(id);
}

std::vector<std::pair<NetworkMonitor::NetEventType, std::pair<int, std::string>>>
NetworkMonitor::parseMessages(const uint8_t* data, size_t length) {
    std::vector<std::pair<NetEventType, std::pair<int, std::string>>> events;
    size_t pos = 0;
    while (pos + sizeof(nlmsghdr) <= length) {
        nlmsghdr h;
        std::memcpy(&h, data + pos, sizeof(h));
        if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > length - pos) break;
        const uint8_t* body = data + pos + NLMSG_HDRLEN;
        const size_t bodyLength = h.nlmsg_len > NLMSG_HDRLEN ? h.nlmsg_len - NLMSG_HDRLEN : 0;
        auto attributeText = [&](size_t fixed, unsigned short wanted) -> std::string {
            size_t a = NLMSG_ALIGN(fixed);
            while (a + sizeof(rtattr) <= bodyLength) {
                rtattr ra;
                std::memcpy(&ra, body + a, sizeof(ra));
                if (ra.rta_len < sizeof(rtattr) || ra.rta_len > bodyLength - a) break;
                if (ra.rta_type == wanted) {
                    const char* s = reinterpret_cast<const char*>(body + a + RTA_LENGTH(0));
                    return std::string(s, strnlen(s, ra.rta_len - RTA_LENGTH(0)));
                }
                a += RTA_ALIGN(ra.rta_len);
            }
            return "";
        };
        if ((h.nlmsg_type == RTM_NEWLINK || h.nlmsg_type == RTM_DELLINK) &&
            bodyLength >= sizeof(ifinfomsg)) {
            ifinfomsg info;
            std::memcpy(&info, body, sizeof(info));
            const bool up = (info.ifi_flags & IFF_UP) && (info.ifi_flags & IFF_RUNNING);
            if (h.nlmsg_type == RTM_NEWLINK)
                events.push_back({NetEventType::NEW_LINK,
                                  {up ? 1 : 0, attributeText(sizeof(ifinfomsg), IFLA_IFNAME)}});
            else
                events.push_back({NetEventType::DEL_LINK,
                                  {0, attributeText(sizeof(ifinfomsg), IFLA_IFNAME)}});
        } else if ((h.nlmsg_type == RTM_NEWADDR || h.nlmsg_type == RTM_DELADDR) &&
                   bodyLength >= sizeof(ifaddrmsg)) {
            ifaddrmsg info;
            std::memcpy(&info, body, sizeof(info));
            if (info.ifa_family == AF_INET) {
                std::string name = attributeText(sizeof(ifaddrmsg), IFA_LABEL);
                // An alias label ("eth0:1") belongs to its interface.
                if (const size_t colon = name.find(':'); colon != std::string::npos)
                    name.resize(colon);
                if (name.empty()) {
                    char buf[IF_NAMESIZE] = {};
                    if (if_indextoname(info.ifa_index, buf)) name = buf;
                }
                if (h.nlmsg_type == RTM_NEWADDR)
                    events.push_back({NetEventType::NEW_ADDR, {1, name}});
                else
                    events.push_back({NetEventType::DEL_ADDR, {0, name}});
            }
        }
        pos += NLMSG_ALIGN(h.nlmsg_len);
    }
    return events;
}

bool NetworkMonitor::handleEvents() {
    int fd;
    {
        std::lock_guard<std::mutex> l(m_lock);
        fd = m_socket;
    }
    if (fd < 0) return false;
    alignas(nlmsghdr) uint8_t buf[16384];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            // ENOBUFS: the kernel dropped events; later ones still arrive.
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                LogWarn(kivlog::General, "netlink read failed: %s\n", strerror(errno));
            break;
        }
        if (n == 0) break;
        for (const auto& [type, detail] : parseMessages(buf, size_t(n))) {
            LogDebug(kivlog::General, "Network event %d for %s, state %d\n", int(type),
                     detail.second.c_str(), detail.first);
            // Callbacks may register or remove callbacks, so each is looked up afresh.
            std::lock_guard<std::recursive_mutex> dispatch(m_dispatchLock);
            std::vector<int> ids;
            {
                std::lock_guard<std::mutex> l(m_lock);
                for (auto& entry : m_callbacks) ids.push_back(entry.first);
            }
            for (int id : ids) {
                CallbackFunction cb;
                {
                    std::lock_guard<std::mutex> l(m_lock);
                    auto it = m_callbacks.find(id);
                    if (it == m_callbacks.end()) continue;
                    cb = it->second;
                }
                cb(type, detail.first, detail.second);
            }
        }
    }
    return false;
}
