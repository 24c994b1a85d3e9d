#pragma once

#include <cstdint>

// Where the bridge hands received channel data: the sequence engine in the daemon, a
// recording fake in tests. Called on the main-loop thread only.
class BridgeDataSink {
public:
    virtual ~BridgeDataSink() = default;

    // `length` bytes for the 0-based channels [startChannel, startChannel + length), always
    // inside the channel-data buffer; the range is merged into the output until `expiresMs`
    // (milliseconds on the bridge's clock, the monotonic one in the daemon). An expiry in the past ends the range at the next merge.
    virtual void SetBridgeData(const uint8_t* data, int startChannel, int length, uint64_t expiresMs) = 0;
};
