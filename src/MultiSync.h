#pragma once

#include <string>

#include <json/json.h>

// Player synchronisation over the network. For now this system neither sends nor receives
// synchronisation: every call is accepted and does nothing. The synchronisation work fills
// in the bodies; the playback engine and output thread already call them where they must.
class MultiSync {
public:
    static MultiSync INSTANCE;

    bool Init();
    void ShutdownSync();

    // The known systems: {"systems": [...]}, this system first, once for every IPv4 address
    // of its interfaces (loopback left out), each entry with its "address". No other
    // system is known yet. localOnly and timestamps are accepted for the later protocol.
    Json::Value GetSystems(bool localOnly = false, bool timestamps = true);
    // Main loop: discovery at start, a ping about once a second. Nothing to do yet.
    void Discover() {}
    void PeriodicPing() {}
    // The control socket for the main loop (-1: none) and its handler.
    int GetControlSocket() const { return -1; }
    void ProcessControlPacket(bool pingOnly) {}

    // True when this system sends synchronisation (it is a master).
    bool isMultiSyncEnabled() const { return false; }

    void SendSeqOpenPacket(const std::string& filename);
    void SendSeqSyncStartPacket(const std::string& filename);
    void SendSeqSyncStopPacket(const std::string& filename);
    void SendSeqSyncPacket(const std::string& filename, int frames, float seconds);
    void SendBlankingDataPacket();
};
