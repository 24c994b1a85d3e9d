#pragma once

#include <string>

// Test patterns laid over the channel data. No test is ever running yet.
class ChannelTester {
public:
    static ChannelTester INSTANCE;

    void RegisterCommands() {}
    bool Testing() const { return false; }
    // The running test's configuration as JSON text ("{}" when none runs).
    std::string GetConfig() const { return "{}"; }
    // Starts (true) or stops (false) the test the JSON text describes; none can start yet.
    bool SetupTest(const std::string& config) { return false; }
    // Output thread: writes the running test pattern into the buffer.
    void OverlayTestData(unsigned char* channelData) {}
};
