#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace Json {
class Value;
}

// Channels in the channel-data buffer; bridged data never lands at or past this index.
constexpr int64_t BRIDGE_CHANNEL_SPACE = 8388608;

// Universe types of the input universes file.
constexpr int UNIVERSE_TYPE_E131_MULTICAST = 0;
constexpr int UNIVERSE_TYPE_E131_UNICAST = 1;
constexpr int UNIVERSE_TYPE_ARTNET = 2;
constexpr int UNIVERSE_TYPE_ARTNET_UNICAST = 3;

// A relaxed counter: written by the main-loop thread, read (and reset) by the HTTP thread.
// Plain load + store keeps the increment as cheap as an int's.
class BridgeCounter {
public:
    void Add(uint64_t n) { m_value.store(m_value.load(std::memory_order_relaxed) + n, std::memory_order_relaxed); }
    void Set(uint64_t v) { m_value.store(v, std::memory_order_relaxed); }
    uint64_t Get() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> m_value{0};
};

// One configured input universe (an expanded "universes" definition).
struct UniverseEntry {
    int active = 0;
    int universe = 0;
    int size = 0;
    int startAddress = 0;   // 1-based
    int type = 0;
    std::string unicastAddress; // type 1 only
    int priority = 0;           // kept, not used by the receive path

    BridgeCounter bytesReceived;
    BridgeCounter packetsReceived;
    BridgeCounter errorPackets;  // sequence errors
    // Reset by the HTTP thread (ResetBytesReceived) while the main loop counts.
    std::atomic<int> lastSequenceNumber{0};
    // Channels bridged by the latest data packet: a terminated stream ends that range.
    int lastLength = 0;

    UniverseEntry() = default;
    UniverseEntry(const UniverseEntry& o);
    UniverseEntry& operator=(const UniverseEntry& o);
};

struct InputUniverseConfig {
    bool loaded = false;        // at least one enabled "universes" block
    int timeoutMs = -1;         // the last block's "timeout", -1 when none gave one
    std::vector<UniverseEntry> universes;
};

// A universe number of 0..65535 and channels inside the channel-data buffer.
bool IsValidUniverseEntry(const UniverseEntry& e);

// Reads the "channelInputs" blocks of an input universes document. Definitions that address
// universes outside 0..65535 or channels outside the channel-data buffer are skipped with a
// log line naming them. Never throws.
InputUniverseConfig ParseInputUniverses(const Json::Value& root);

// Reads and parses the file; a missing or unparsable file logs the error and yields no universes.
InputUniverseConfig LoadInputUniverses(const std::string& path);

// The sequence check shared by E1.31 and Art-Net: true when `sequence` does not follow
// `last` (255 may be followed by 0 or 1).
inline bool IsSequenceError(int last, int sequence) {
    if (last == 255) {
        return sequence > 1;
    }
    return sequence != last + 1;
}
