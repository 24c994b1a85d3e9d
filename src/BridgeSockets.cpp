#include "BridgeSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common.h"
#include "log.h"

std::vector<NetInterface> ListIPv4Interfaces() {
    std::vector<NetInterface> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        LogWarn(kivlog::E131Bridge, "Could not list network interfaces: %s\n", strerror(errno));
        return result;
    }
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || i->ifa_name == nullptr) {
            continue;
        }
        NetInterface ni;
        ni.name = i->ifa_name;
        ni.address = ((const sockaddr_in*)i->ifa_addr)->sin_addr;
        result.push_back(ni);
    }
    freeifaddrs(list);
    return result;
}

std::vector<NetInterface> MulticastInterfaces(const std::vector<NetInterface>& all) {
    std::vector<NetInterface> result;
    for (const auto& i : all) {
        if (i.address.s_addr != htonl(INADDR_LOOPBACK)) {
            result.push_back(i);
        }
    }
    return result;
}

std::vector<NetInterface> ArtPollInterfaces(const std::vector<NetInterface>& all) {
    std::vector<NetInterface> result;
    for (const auto& i : all) {
        if (!startsWith(i.name, "usb") && !startsWith(i.name, "lo")) {
            result.push_back(i);
        }
    }
    return result;
}

int OpenBridgeSocket(const char* name, uint32_t bindAddress, uint16_t port, bool broadcast) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        LogErr(kivlog::E131Bridge, "%s socket failed: %s\n", name, strerror(errno));
        return -1;
    }
    if (broadcast) {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one));
        // The checksum is not needed on a LAN; the option is ignored where unsupported.
        setsockopt(fd, SOL_SOCKET, SO_NO_CHECK, &one, sizeof(one));
    }
    // A frame of many universes arrives as one burst; the default buffer holds only part of
    // it before the main loop drains. The kernel caps the size at net.core.rmem_max.
    int bufferSize = 4 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof(bufferSize));
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = bindAddress;
    addr.sin_port = htons(port);
    if (bind(fd, (const sockaddr*)&addr, sizeof(addr)) < 0) {
        LogErr(kivlog::E131Bridge, "%s bind failed: %s\n", name, strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_in addr;
    socklen_t len = sizeof(addr);
    if (fd < 0 || getsockname(fd, (sockaddr*)&addr, &len) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

std::string E131MulticastGroup(int universe) {
    char text[32];
    snprintf(text, sizeof(text), "239.255.%d.%d", (universe >> 8) & 0xFF, universe & 0xFF);
    return text;
}

void JoinE131Multicast(int fd, int universe, const std::vector<NetInterface>& interfaces) {
    std::string group = E131MulticastGroup(universe);
    LogInfo(kivlog::E131Bridge, "Adding group %s\n", group.c_str());
    ip_mreq mreq;
    memset(&mreq, 0, sizeof(mreq));
    mreq.imr_multiaddr.s_addr = inet_addr(group.c_str());
    for (const auto& i : interfaces) {
        char address[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &i.address, address, sizeof(address));
        LogDebug(kivlog::E131Bridge, "   Adding interface %s - %s\n", i.name.c_str(), address);
        mreq.imr_interface = i.address;
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof(mreq)) < 0) {
            LogWarn(kivlog::E131Bridge, "   Could not setup Multicast Group for interface %s\n", i.name.c_str());
        }
    }
    if (interfaces.empty()) {
        LogDebug(kivlog::E131Bridge, "  Binding to default interface\n");
        mreq.imr_interface.s_addr = htonl(INADDR_ANY);
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof(mreq)) < 0) {
            LogWarn(kivlog::E131Bridge, "   Could not setup Multicast Group\n");
        }
    }
}
