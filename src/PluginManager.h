#pragma once

#include <cstdint>

// User plugins that may modify channel data each frame. None are loaded yet: the per-frame
// hooks return at once. Called on the output thread; must stay cheap when empty.
class PluginManager {
public:
    static PluginManager INSTANCE;

    void init();
    void loadUserPlugins();
    void Cleanup();

    bool hasPlugins() const { return false; }

    // ms: the playback position; seqData: the channel-data buffer.
    void modifySequenceData(int ms, uint8_t* seqData) {}
    void modifyChannelData(int ms, uint8_t* seqData) {}
};
