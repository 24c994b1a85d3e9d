#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <sys/socket.h>
#include <vector>

// The sockets of one destination group, used in turn so one full socket buffer does not
// stall the next frame. Touched by the frame thread and by the group's send worker,
// never at once (a group has at most one job in flight).
struct SendSocketInfo {
    ~SendSocketInfo();
    void closeAll();

    std::vector<int> sockets;
    int errCount = 0;    // consecutive failed sends
    int nextSocket = -1; // index of the socket to use next; -1 until first used
    // A send worker still owns the group's vector and its senders' buffers.
    std::atomic<bool> busy{false};
    // Set by PrepData when the group was busy and so not prepared: not sent this frame.
    bool skipFrame = false;
};

// The datagrams of the current frame grouped by destination key (the IPv4 address in
// network byte order, or one of the reserved keys of UDPProtocols.h), and the socket set
// of every group. Keys and vector capacity are kept between frames, so steady-state
// frames allocate nothing.
class UDPOutputMessages {
public:
    ~UDPOutputMessages();

    // The group's vector, created empty on first use.
    std::vector<mmsghdr>& GetMessages(uint32_t key) { return messages[key]; }
    // Empties every vector but keeps keys and capacity.
    void clearMessages();

    // The group's socket entry, created (empty) if absent.
    SendSocketInfo* GetSocket(uint32_t key);
    // Makes fd the key's only socket, closing any others.
    void ForceSocket(uint32_t key, int fd);
    // Closes every socket and drops every entry.
    void clearSockets();
    bool hasSockets() const { return !sockets.empty(); }

    std::map<uint32_t, std::vector<mmsghdr>> messages;
    std::map<uint32_t, SendSocketInfo*> sockets;
};
