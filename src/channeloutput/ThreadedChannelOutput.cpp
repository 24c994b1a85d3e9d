#include "channeloutput/ThreadedChannelOutput.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "log.h"

namespace {

// calloc leaves untouched pages unmapped, so a full-size frame copy costs only the pages
// of the channels the output uses.
unsigned char* allocFrame() {
    auto* buf = static_cast<unsigned char*>(calloc(KIV_CHANNEL_BUFFER_SIZE, 1));
    if (buf) {
        buf[KIV_FIXED_FULL_INDEX] = 255;
    }
    return buf;
}

} // namespace

ThreadedChannelOutput::ThreadedChannelOutput(unsigned int startChannel, unsigned int channelCount)
    : ChannelOutput(startChannel, channelCount) {}

ThreadedChannelOutput::~ThreadedChannelOutput() {
    // Close() is the normal path; this only makes sure no thread outlives its object.
    if (m_thread.joinable()) {
        ThreadedChannelOutput::Close();
    }
    free(m_inBuf);
    free(m_outBuf);
}

int ThreadedChannelOutput::Init(Json::Value config) {
    m_ranges.clear();
    GetRequiredChannelRanges([this](int first, int last) {
        if (first < 0 || last < first || (unsigned)first >= KIV_MAX_CHANNELS) {
            return;
        }
        unsigned end = std::min<unsigned>((unsigned)last + 1, KIV_MAX_CHANNELS);
        m_ranges.emplace_back((unsigned)first, end - (unsigned)first);
    });
    if (!m_inBuf) {
        m_inBuf = allocFrame();
        m_outBuf = allocFrame();
    }
    if (!m_inBuf || !m_outBuf) {
        LogErr(kivlog::ChannelOut, "Could not allocate the frame buffers of a threaded output\n");
        return 0;
    }
    if (!ChannelOutput::Init(config)) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lk(m_bufLock);
        m_stop = false;
        m_frameReady = false;
    }
    if (!m_thread.joinable()) {
        m_thread = std::thread(&ThreadedChannelOutput::SenderLoop, this);
    }
    return 1;
}

int ThreadedChannelOutput::Close() {
    {
        std::lock_guard<std::mutex> lk(m_bufLock);
        m_stop = true;
    }
    m_bufCond.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return ChannelOutput::Close();
}

void ThreadedChannelOutput::DumpConfig() {
    ChannelOutput::DumpConfig();
    LogDebug(kivlog::ChannelOut, "    Threaded     : yes, %d ranges\n", (int)m_ranges.size());
}

int ThreadedChannelOutput::SendData(unsigned char* channelData) {
    {
        std::lock_guard<std::mutex> lk(m_bufLock);
        if (!m_inBuf) {
            return 0;
        }
        for (auto& r : m_ranges) {
            memcpy(m_inBuf + r.first, channelData + r.first, r.second);
        }
        m_frameReady = true;
    }
    m_bufCond.notify_one();
    return (int)m_channelCount;
}

void ThreadedChannelOutput::SenderLoop() {
    std::unique_lock<std::mutex> lk(m_bufLock);
    while (!m_stop) {
        bool got = m_bufCond.wait_for(lk, std::chrono::milliseconds(m_waitTimeoutMS),
                                      [this] { return m_frameReady || m_stop; });
        if (m_stop) {
            break;
        }
        if (!got) {
            lk.unlock();
            WaitTimedOut();
            lk.lock();
            continue;
        }
        std::swap(m_inBuf, m_outBuf);
        m_frameReady = false;
        lk.unlock();
        RawSendData(m_outBuf);
        lk.lock();
    }
}
