#include "MultiSync.h"

MultiSync MultiSync::INSTANCE;

bool MultiSync::Init() {
    return true;
}

void MultiSync::ShutdownSync() {}

void MultiSync::SendSeqOpenPacket(const std::string& filename) {}
void MultiSync::SendSeqSyncStartPacket(const std::string& filename) {}
void MultiSync::SendSeqSyncStopPacket(const std::string& filename) {}
void MultiSync::SendSeqSyncPacket(const std::string& filename, int frames, float seconds) {}
void MultiSync::SendBlankingDataPacket() {}
