// The bridge's statistics for the HTTP API ("e131stats"): read and reset from the HTTP
// threads while the main loop counts, through relaxed counters.
#include <json/json.h>

#include "E131Bridge.h"

namespace {
std::string Text(uint64_t v) { return std::to_string(v); }
} // namespace

double E131Bridge::GetSecondsFromInputPacket() const {
    return ((double)Now() - (double)m_lastPacketTime.load(std::memory_order_relaxed)) / 1000.0;
}

Json::Value E131Bridge::GetE131UniverseBytesReceived() const {
    Json::Value root(Json::objectValue);
    Json::Value rows(Json::arrayValue);
    auto row = [](Json::Value id, Json::Value start, Json::Value bytes, Json::Value packets, Json::Value errors) {
        Json::Value r;
        r["id"] = id;
        r["startChannel"] = start;
        r["bytesReceived"] = bytes;
        r["packetsReceived"] = packets;
        r["errors"] = errors;
        return r;
    };
    if (m_ddpBytesReceived.Get() != 0 || m_ddpErrors.Get() != 0) {
        uint64_t lo = m_ddpMinChannel.Get(), hi = m_ddpMaxChannel.Get();
        std::string range = lo < hi ? Text(lo) + "-" + Text(hi) : "-";
        rows.append(row("DDP", range, Text(m_ddpBytesReceived.Get()), Text(m_ddpPacketsReceived.Get()),
                        Text(m_ddpErrors.Get())));
    }
    for (const auto& u : m_universes) {
        rows.append(row(u.universe, u.startAddress, Text(u.bytesReceived.Get()), Text(u.packetsReceived.Get()),
                        Text(u.errorPackets.Get())));
    }
    if (m_e131Errors.Get() != 0) {
        rows.append(row("E1.31 Errors", "-", "-", "-", Text(m_e131Errors.Get())));
    }
    if (m_artnetErrors.Get() != 0) {
        rows.append(row("Art-Net Errors", "-", "-", "-", Text(m_artnetErrors.Get())));
    }
    if (m_unknownUniverse.packetsReceived.Get() != 0) {
        rows.append(row("Ignored", "-", Text(m_unknownUniverse.bytesReceived.Get()),
                        Text(m_unknownUniverse.packetsReceived.Get()), "-"));
    }
    if (m_e131SyncPackets.Get() != 0) {
        rows.append(row("E1.31 Sync", "-", "-", Text(m_e131SyncPackets.Get()), "-"));
    }
    root["universes"] = rows;
    return root;
}

void E131Bridge::ResetBytesReceived() {
    for (auto& u : m_universes) {
        u.bytesReceived.Set(0);
        u.packetsReceived.Set(0);
        u.errorPackets.Set(0);
        u.lastSequenceNumber.store(0, std::memory_order_relaxed);
    }
    m_ddpBytesReceived.Set(0);
    m_ddpPacketsReceived.Set(0);
    m_ddpErrors.Set(0);
    m_e131Errors.Set(0);
    m_artnetErrors.Set(0);
}
