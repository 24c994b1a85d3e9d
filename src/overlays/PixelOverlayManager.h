#pragma once

#include <cstdint>

// Named pixel overlay models drawn over the channel data. No models are loaded yet, so none
// is ever active.
class PixelOverlayManager {
public:
    static PixelOverlayManager INSTANCE;

    void Initialize() {}
    bool hasActiveOverlays() const { return false; }
    // Output thread: lays every active model over the buffer.
    void doOverlays(uint8_t* channelData) {}
};
