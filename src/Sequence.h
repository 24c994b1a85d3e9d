#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channeloutput/ChannelOutput.h"
#include "tavo/TAVOFile.h"

// The sequence engine: owns the channel-data buffer, reads the open sequence file ahead on
// its reader thread, and hands one frame per output period to the buffer when the channel
// output thread asks. One instance, the global `sequence`, made and deleted by the daemon.
//
// Lock order: openLock, then fileLock, then frameCacheLock. The reader never holds fileLock
// and frameCacheLock together. bridgeLock is always taken alone.
class Sequence {
public:
    // Bridge data stored for one start channel: per distinct length, when it expires
    // (milliseconds on the monotonic clock, GetMonotonicTimeMS).
    class BridgeRangeData {
    public:
        uint32_t startChannel = 0;
        std::map<uint32_t, uint64_t> lengths;
    };

    // Preset firing ("SEQUENCE_STARTED", "SEQUENCE_STOPPED", the "FC" frame commands).
    // The daemon connects this to the command registry; unset, presets are not fired.
    // Called on the output thread and on threads that open and close sequences, sometimes
    // with openLock held: the callee must not block on the player or wait for the engine
    // (queue such work to the main loop instead).
    using PresetTrigger = std::function<void(const std::string& name, std::map<std::string, std::string>& keywords)>;

    Sequence();
    ~Sequence();

    int OpenSequenceFile(const std::string& filename, int startFrame = 0, int startSecond = -1);
    void StartSequence();
    int StartSequence(const std::string& filename, int startFrame);
    int CloseSequenceFile();
    void CloseIfOpen(const std::string& filename);

    int IsSequenceRunning();
    int IsSequenceRunning(const std::string& filename);
    int SequenceIsPaused();
    void ToggleSequencePause();
    void SingleStepSequence();
    void SingleStepSequenceBack();
    void SeekSequenceFile(int frameNumber);

    // Output thread only (or the caller of SendBlankingData while the thread is stopped).
    void ReadSequenceData(bool forceFirstFrame = false);
    void ProcessSequenceData(int ms);
    void SendSequenceData();
    void SendBlankingData();
    void BlankSequenceData(bool clearBridge = false);

    int hasBridgeData();
    // Copies length bytes to the bridge buffer at startChannel, used until expires
    // (GetMonotonicTimeMS clock). Data that does not fit the buffer is refused.
    void SetBridgeData(unsigned char* data, int startChannel, int length, unsigned long long expires);

    void ReadFramesLoop();

    // Output thread, at the start of each pass: the buffer changes other threads asked for
    // (a blanking, a new sequence's first frame). Only the output thread writes the buffer
    // while it runs. True when something was done.
    bool RunPendingBufferWork();

    void SetPresetTrigger(PresetTrigger trigger);

    // The open sequence's name ("" when none), read under openLock.
    std::string GetSequenceName();

    // The channel-data buffer, KIV_CHANNEL_BUFFER_SIZE bytes.
    unsigned char* seqData;

    std::atomic<int> seqStepTime{50};
    std::atomic<float> seqRefreshRate{20.0f};
    std::atomic<int> seqMSDuration{0};
    std::atomic<int> seqMSElapsed{0};
    std::atomic<int> seqMSRemaining{0};

    // Set when ProcessSequenceData has modified the buffer; cleared by fresh frame data,
    // new bridge data and blanking.
    std::atomic<bool> dataProcessed{false};

    const int blankBetweenSequences;
    const bool prioritizeSequence;

    // Frame events of the open file, filled from its "FC" and "FE" headers (under eventLock).
    std::map<int, std::vector<std::string>> frameCommands;
    std::map<int, std::vector<std::string>> effectStarts;
    std::map<int, std::vector<std::string>> effectStops;
    std::mutex eventLock;

private:
    void SetLastFrameData(TAVOFile::FrameData* frame);
    void clearCaches();
    bool isListed(TAVOFile::FrameData* frame) const;
    void deleteUnlessCurrent(TAVOFile::FrameData* frame);
    void stepBackLocked();
    void ProcessVariableHeaders();
    void parseFrameEvents(const std::vector<uint8_t>& data, bool commands);
    void triggerPreset(const std::string& name, const std::string& seqName);
    bool runningLocked() const { return seqFile && seqStarting == 0; }

    std::string seqFilename;
    std::atomic<TAVOFile*> seqFile{nullptr};
    std::atomic<int> seqStarting{0};
    std::atomic<int> seqPaused{0};
    std::atomic<int> seqSingleStep{0};
    std::atomic<int> seqSingleStepBack{0};
    int remoteBlankCount = 0;
    int seekWarnCount = 0;

    std::atomic<int> lastFrameRead{-1};
    bool doneRead = false;  // under frameCacheLock
    unsigned readGeneration = 0; // under frameCacheLock; changes when a file opens or closes
    std::atomic<uint32_t> seqNumFrames{0}; // frames of the open file, for the reader
    bool stopReader = false; // under frameCacheLock
    std::thread readThread;

    std::list<TAVOFile::FrameData*> frameCache;   // read ahead, oldest first, at most 40
    std::list<TAVOFile::FrameData*> recentFrames; // loaded, oldest first, at most 21
    std::list<TAVOFile::FrameData*> retiredFrames; // dropped from recentFrames, deleted by the reader
    TAVOFile::FrameData* lastFrameData = nullptr;  // the frame in the buffer

    std::recursive_mutex openLock;
    std::mutex frameCacheLock;
    std::mutex fileLock;
    std::mutex bridgeLock;
    std::condition_variable readerWake;
    std::condition_variable frameLoaded;

    unsigned char* bridgeData = nullptr;
    std::map<int64_t, BridgeRangeData> bridgeRanges;
    std::atomic<bool> bridgeActive{false}; // bridgeRanges not empty, for the frame path

    std::string eventSequenceName;       // under eventLock
    std::atomic<bool> hasFrameEvents{false};
    std::atomic<bool> blankPending{false};
    std::atomic<bool> firstFramePending{false};

    std::mutex triggerLock;
    PresetTrigger presetTrigger;
};

void ReadSequenceDataThread(Sequence* s);

extern Sequence* sequence;
