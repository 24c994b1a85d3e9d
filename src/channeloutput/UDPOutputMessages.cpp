#include "UDPOutputMessages.h"

#include <unistd.h>

SendSocketInfo::~SendSocketInfo() { closeAll(); }

void SendSocketInfo::closeAll() {
    for (int fd : sockets)
        if (fd >= 0) close(fd);
    sockets.clear();
    nextSocket = -1;
}

UDPOutputMessages::~UDPOutputMessages() { clearSockets(); }

void UDPOutputMessages::clearMessages() {
    for (auto& [key, v] : messages) v.clear();
}

SendSocketInfo* UDPOutputMessages::GetSocket(uint32_t key) {
    SendSocketInfo*& info = sockets[key];
    if (!info) info = new SendSocketInfo();
    return info;
}

void UDPOutputMessages::ForceSocket(uint32_t key, int fd) {
    SendSocketInfo* info = GetSocket(key);
    info->closeAll();
    info->sockets.push_back(fd);
    info->nextSocket = 0;
}

void UDPOutputMessages::clearSockets() {
    for (auto& [key, info] : sockets) delete info;
    sockets.clear();
}
