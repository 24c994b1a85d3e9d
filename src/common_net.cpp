// Network interface queries: address, netmask, default gateway, interface of an address.

#include "common.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// Dotted IPv4 text always fits 16 bytes with its NUL.
static void copyAddress(char* out, const char* text) {
    if (out) {
        snprintf(out, INET_ADDRSTRLEN, "%s", text);
    }
}

// Asks the kernel for one IPv4 address of the interface; false when there is none.
static bool queryAddress(int sock, const char* name, unsigned long request, char* out) {
    struct ifreq ifr;
    memset(&ifr, 0, sizeof(ifr));
    ifr.ifr_addr.sa_family = AF_INET;
    memcpy(ifr.ifr_name, name, strlen(name)); // length checked by the caller
    if (sock < 0 || ioctl(sock, request, &ifr) != 0) {
        return false;
    }
    char text[INET_ADDRSTRLEN];
    const struct sockaddr_in* addr = reinterpret_cast<const struct sockaddr_in*>(&ifr.ifr_addr);
    if (!inet_ntop(AF_INET, &addr->sin_addr, text, sizeof(text))) {
        return false;
    }
    copyAddress(out, text);
    return true;
}

// The default route of the interface in /proc/net/route, as dotted text; "" if none.
static std::string defaultGateway(const char* name) {
    std::ifstream routes("/proc/net/route");
    std::string line;
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway;
        if (!(fields >> iface >> destination >> gateway)) {
            continue;
        }
        if (iface != name || destination != "00000000") {
            continue;
        }
        char* end = nullptr;
        unsigned long value = strtoul(gateway.c_str(), &end, 16);
        if (gateway.empty() || *end != '\0' || value > 0xFFFFFFFFUL) {
            continue;
        }
        // The kernel prints the network-order word as a host integer; storing it back
        // into s_addr restores the address on any byte order.
        struct in_addr addr;
        addr.s_addr = (in_addr_t)value;
        char text[INET_ADDRSTRLEN];
        if (inet_ntop(AF_INET, &addr, text, sizeof(text))) {
            return text;
        }
    }
    return "";
}

int GetInterfaceAddress(const char* interfaceName, char* ip, char* netmask, char* gateway) {
    const char* name = interfaceName ? interfaceName : "";
    // A name the kernel cannot hold has no address either.
    bool nameFits = strlen(name) > 0 && strlen(name) < IFNAMSIZ;
    int sock = nameFits ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    char scratch[INET_ADDRSTRLEN];
    if (!nameFits || !queryAddress(sock, name, SIOCGIFADDR, ip ? ip : scratch)) {
        copyAddress(ip, "127.0.0.1");
    }
    if (!nameFits || !queryAddress(sock, name, SIOCGIFNETMASK, netmask ? netmask : scratch)) {
        copyAddress(netmask, "255.255.255.255");
    }
    if (sock >= 0) {
        close(sock);
    }
    if (gateway) {
        copyAddress(gateway, nameFits ? defaultGateway(name).c_str() : "");
    }
    return 0;
}

std::string FindInterfaceForIP(const char* ip) {
    struct in_addr wanted;
    if (!ip || inet_pton(AF_INET, ip, &wanted) != 1) {
        return "";
    }
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return "";
    }
    std::string found;
    for (struct ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const struct sockaddr_in* addr = reinterpret_cast<const struct sockaddr_in*>(entry->ifa_addr);
        if (addr->sin_addr.s_addr == wanted.s_addr) {
            found = entry->ifa_name;
            break;
        }
    }
    freeifaddrs(list);
    return found;
}
