// Test output modules: "TestRecorder" (output-testrecorder.so) records every SendData on the
// output thread; built with KIV_RECORDER_THREADED it is "TestThreadedRecorder", a threaded
// output recording in RawSendData. Config keys: "name" (track name, default the type),
// "capacity" (records kept, default 100000), "checksum" (default true), "failInit" (Init
// fails, for the skip path).

#include <string>

#include "Plugin.h"
#include "channeloutput/ChannelOutput.h"
#include "channeloutput/ChannelOutputManager.h"
#include "channeloutput/FrameRecorder.h"
#include "channeloutput/ThreadedChannelOutput.h"

namespace {

#ifdef KIV_RECORDER_THREADED
using RecorderBase = ThreadedChannelOutput;
constexpr const char* kTypeName = "TestThreadedRecorder";
#else
using RecorderBase = ChannelOutput;
constexpr const char* kTypeName = "TestRecorder";
#endif

class RecordingOutput : public RecorderBase {
public:
    RecordingOutput(unsigned start, unsigned count) : RecorderBase(start, count) {}

    int Init(Json::Value config) override {
        if (config["failInit"].asBool()) {
            return 0;
        }
        std::string name = config.get("name", kTypeName).asString();
        m_checksum = config.get("checksum", true).asBool();
        m_track = FrameRecorder::INSTANCE.Open(name, config.get("capacity", 100000).asUInt());
        return RecorderBase::Init(config);
    }
    int Close() override {
        if (m_track) {
            m_track->closeCount++;
        }
        return RecorderBase::Close();
    }
    void PrepData(unsigned char* channelData) override { m_track->prepCount++; }
    void StartingOutput() override { m_track->startingCount++; }
    void StoppingOutput() override { m_track->stoppingCount++; }

#ifdef KIV_RECORDER_THREADED
    int RawSendData(unsigned char* channelData) override {
        record(channelData);
        return (int)m_channelCount;
    }
    void WaitTimedOut() override { m_track->timeoutCount++; }
#else
    int SendData(unsigned char* channelData) override {
        record(channelData);
        return (int)m_channelCount;
    }
#endif

private:
    void record(const unsigned char* channelData) {
        FrameRecord r;
        r.frame = channelOutputFrame;
        r.timeNs = MonotonicNs();
        r.checksum = m_checksum ? FrameChecksum(channelData + m_startChannel, m_channelCount) : 0;
        r.first = m_channelCount ? channelData[m_startChannel] : 0;
        auto counter = FrameRecorder::INSTANCE.allocationCounter.load();
        r.allocs = counter ? counter() : 0;
        m_track->Record(r);
    }

    RecorderTrack* m_track = nullptr;
    bool m_checksum = true;
};

class RecordingPlugin : public KIVPlugins::Plugin, public KIVPlugins::ChannelOutputPlugin {
public:
    RecordingPlugin() : KIVPlugins::Plugin(kTypeName) {}
    ChannelOutput* createChannelOutput(unsigned startChannel, unsigned channelCount) override {
        return new RecordingOutput(startChannel, channelCount);
    }
};

} // namespace

extern "C" KIVPlugins::Plugin* createPlugin() {
    return new RecordingPlugin();
}
