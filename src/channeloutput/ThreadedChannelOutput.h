#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "channeloutput/ChannelOutput.h"

// An output that transmits from its own thread, so a slow device or network never holds
// up the output thread. SendData copies the channels the output reads into the output's
// own frame buffer (the only work done under its lock) and wakes the sender thread, which
// hands the newest frame to RawSendData. A frame not yet taken when the next one arrives is
// replaced by it: a slow device drops frames, it does not delay the show.
class ThreadedChannelOutput : public ChannelOutput {
public:
    ThreadedChannelOutput(unsigned int startChannel = 0, unsigned int channelCount = 0);
    ~ThreadedChannelOutput() override;

    // Subclasses call these last, after their own work.
    int Init(Json::Value config) override;
    int Close() override;
    void DumpConfig() override;

    int SendData(unsigned char* channelData) override final;

    // On the output's thread. channelData is laid out like the channel-data buffer (the
    // output's channels at their usual indexes, fixed off/full bytes in place) and stays
    // valid until RawSendData returns. Returns the channel count sent.
    virtual int RawSendData(unsigned char* channelData) = 0;
    // On the output's thread when no frame arrived within the wait timeout (keep-alives).
    virtual void WaitTimedOut() {}

protected:
    // How long the sender thread waits for a frame before calling WaitTimedOut.
    int m_waitTimeoutMS = 1000;

private:
    void SenderLoop();

    std::vector<std::pair<unsigned, unsigned>> m_ranges; // (first index, count), clamped
    unsigned char* m_inBuf = nullptr;  // filled by SendData, under m_bufLock
    unsigned char* m_outBuf = nullptr; // read by RawSendData, owned by the sender thread
    std::mutex m_bufLock;
    std::condition_variable m_bufCond;
    bool m_frameReady = false;
    bool m_stop = false;
    std::thread m_thread;
};
