#pragma once

// Test patterns laid over the channel data. No test is ever running yet.
class ChannelTester {
public:
    static ChannelTester INSTANCE;

    void RegisterCommands() {}
    bool Testing() const { return false; }
    // Output thread: writes the running test pattern into the buffer.
    void OverlayTestData(unsigned char* channelData) {}
};
