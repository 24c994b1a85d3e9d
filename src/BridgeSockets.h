#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

// Sockets and interfaces of the network input bridge.

struct NetInterface {
    std::string name;
    in_addr address; // IPv4
};

// Every interface with an IPv4 address, in the order the system reports them.
std::vector<NetInterface> ListIPv4Interfaces();

// Interfaces on which multicast groups are joined: all but the one holding 127.0.0.1.
std::vector<NetInterface> MulticastInterfaces(const std::vector<NetInterface>& all);
// Interfaces an ArtPollReply is sent for: names beginning neither with "usb" nor with "lo".
std::vector<NetInterface> ArtPollInterfaces(const std::vector<NetInterface>& all);

// An IPv4 datagram socket, non-blocking, bound to `bindAddress` (network order) and `port`
// (0: an ephemeral port). `name` prefixes the error lines ("bridge DDP", "ArtNet", ...).
// Returns -1 after logging when the socket cannot be created or bound.
int OpenBridgeSocket(const char* name, uint32_t bindAddress, uint16_t port, bool broadcast);

// The port a socket is bound to, 0 when unknown.
uint16_t BoundPort(int fd);

// The multicast group of an E1.31 universe: 239.255.(u / 256).(u % 256), as text.
std::string E131MulticastGroup(int universe);

// Joins the universe's group on every given interface, or on the default interface when
// the list is empty. Failures are logged as warnings.
void JoinE131Multicast(int fd, int universe, const std::vector<NetInterface>& interfaces);
