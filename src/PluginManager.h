#pragma once

#include <cstdint>
#include <functional>
#include <map>

// User plugins that may modify channel data each frame. None are loaded yet: the per-frame
// hooks return at once. Called on the output thread; must stay cheap when empty.
class PluginManager {
public:
    static PluginManager INSTANCE;

    void init();
    void loadUserPlugins();
    void Cleanup();
    // Main-loop descriptors of the plugins: descriptor to handler (true when it produced
    // channel data). None yet.
    void addControlCallbacks(std::map<int, std::function<bool(int)>>& callbacks) {}

    bool hasPlugins() const { return false; }

    // ms: the playback position; seqData: the channel-data buffer.
    void modifySequenceData(int ms, uint8_t* seqData) {}
    void modifyChannelData(int ms, uint8_t* seqData) {}
};
