#pragma once

#include <string>

// Player synchronisation over the network. For now this system neither sends nor receives
// synchronisation: every call is accepted and does nothing. The synchronisation work fills
// in the bodies; the playback engine and output thread already call them where they must.
class MultiSync {
public:
    static MultiSync INSTANCE;

    bool Init();
    void ShutdownSync();

    // True when this system sends synchronisation (it is a master).
    bool isMultiSyncEnabled() const { return false; }

    void SendSeqOpenPacket(const std::string& filename);
    void SendSeqSyncStartPacket(const std::string& filename);
    void SendSeqSyncStopPacket(const std::string& filename);
    void SendSeqSyncPacket(const std::string& filename, int frames, float seconds);
    void SendBlankingDataPacket();
};
