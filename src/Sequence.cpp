#include "Sequence.h"

#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "MonotonicClock.h"
#include "MultiSync.h"
#include "PluginManager.h"
#include "ChannelTester.h"
#include "Player.h"
#include "WarningHolder.h"
#include "channeloutput/ChannelOutputManager.h"
#include "channeloutput/ChannelOutputThread.h"
#include "common.h"
#include "effects.h"
#include "log.h"
#include "mediaoutput/SDLOutput.h"
#include "overlays/PixelOverlayManager.h"
#include "settings.h"

Sequence* sequence = nullptr;

namespace {

constexpr size_t FRAME_CACHE_MAX = 40;
constexpr size_t RECENT_FRAMES_MAX = 21;
constexpr int REMOTE_MODE = 8;
constexpr int PLAYER_BIT = 2;

bool isRemote() {
    return (int)getKIVmode() == REMOTE_MODE;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Little-endian readers over a header payload; false when the bytes run out.
struct PayloadReader {
    const std::vector<uint8_t>& d;
    size_t pos = 0;

    bool u8(uint8_t& v) {
        if (pos + 1 > d.size()) {
            return false;
        }
        v = d[pos++];
        return true;
    }
    bool u32(uint32_t& v) {
        if (pos + 4 > d.size()) {
            return false;
        }
        v = (uint32_t)d[pos] | ((uint32_t)d[pos + 1] << 8) | ((uint32_t)d[pos + 2] << 16) | ((uint32_t)d[pos + 3] << 24);
        pos += 4;
        return true;
    }
    bool text(std::string& s) {
        auto end = std::find(d.begin() + (long)pos, d.end(), (uint8_t)0);
        if (end == d.end()) {
            return false;
        }
        s.assign(d.begin() + (long)pos, end);
        pos = (size_t)(end - d.begin()) + 1;
        return true;
    }
};

} // namespace

void ReadSequenceDataThread(Sequence* s) {
    s->ReadFramesLoop();
}

Sequence::Sequence()
    : blankBetweenSequences(getSettingInt("blankBetweenSequences", 0)),
      prioritizeSequence(getSetting("bridgeDataPriority", "Prioritize Bridge") == "Prioritize Sequence") {
    // Frames of up to 8 MiB are allocated and freed all the time by the reader. Keep them in
    // the heap and keep freed memory: otherwise every frame costs fresh page faults and an
    // unmap, whose TLB shootdowns interrupt the output thread mid-copy.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    seqData = static_cast<unsigned char*>(calloc(KIV_CHANNEL_BUFFER_SIZE, 1));
    if (!seqData) {
        LogErr(kivlog::Sequence, "Could not allocate the channel data buffer\n");
        abort();
    }
    seqData[KIV_FIXED_FULL_INDEX] = 255;
}

Sequence::~Sequence() {
    {
        std::lock_guard<std::mutex> lk(frameCacheLock);
        stopReader = true;
    }
    readerWake.notify_all();
    if (readThread.joinable()) {
        readThread.join();
    }
    {
        std::lock_guard<std::mutex> lk(frameCacheLock);
        SetLastFrameData(nullptr);
        clearCaches();
        for (auto* f : retiredFrames) {
            delete f;
        }
        retiredFrames.clear();
    }
    delete seqFile.load();
    seqFile = nullptr;
    free(bridgeData);
    free(seqData);
}

void Sequence::SetPresetTrigger(PresetTrigger trigger) {
    std::lock_guard<std::mutex> lk(triggerLock);
    presetTrigger = std::move(trigger);
}

void Sequence::triggerPreset(const std::string& name, const std::string& seqName) {
    PresetTrigger t;
    {
        std::lock_guard<std::mutex> lk(triggerLock);
        t = presetTrigger;
    }
    if (t) {
        std::map<std::string, std::string> keywords{{"SEQUENCE_NAME", seqName}};
        t(name, keywords);
    }
}

std::string Sequence::GetSequenceName() {
    std::lock_guard<std::recursive_mutex> lk(openLock);
    return seqFilename;
}

// --- frame lists (caller holds frameCacheLock) ---

bool Sequence::isListed(TAVOFile::FrameData* frame) const {
    return std::find(frameCache.begin(), frameCache.end(), frame) != frameCache.end() ||
           std::find(recentFrames.begin(), recentFrames.end(), frame) != recentFrames.end();
}

void Sequence::SetLastFrameData(TAVOFile::FrameData* frame) {
    if (frame == lastFrameData) {
        return;
    }
    TAVOFile::FrameData* previous = lastFrameData;
    lastFrameData = frame;
    if (previous && !isListed(previous)) {
        delete previous;
    }
}

void Sequence::deleteUnlessCurrent(TAVOFile::FrameData* frame) {
    if (frame != lastFrameData) {
        delete frame;
    }
}

void Sequence::clearCaches() {
    for (auto* f : frameCache) {
        deleteUnlessCurrent(f);
    }
    frameCache.clear();
    for (auto* f : recentFrames) {
        deleteUnlessCurrent(f);
    }
    recentFrames.clear();
}

// --- reader thread ---

void Sequence::ReadFramesLoop() {
    std::unique_lock<std::mutex> lk(frameCacheLock);
    std::list<TAVOFile::FrameData*> retired;
    while (!stopReader) {
        if (!retiredFrames.empty()) {
            retired.splice(retired.end(), retiredFrames);
            lk.unlock();
            for (auto* f : retired) {
                delete f;
            }
            retired.clear();
            lk.lock();
            continue;
        }
        if (frameCache.size() >= FRAME_CACHE_MAX || seqStarting == 2 || !seqFile || doneRead) {
            readerWake.wait_for(lk, std::chrono::milliseconds(25));
            continue;
        }
        int last = lastFrameRead;
        int next = last + 1;
        if (next < 0 || (uint32_t)next >= seqNumFrames) {
            doneRead = true;
            lk.unlock();
            frameLoaded.notify_all();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lk.lock();
            continue;
        }
        unsigned generation = readGeneration;
        lk.unlock();

        int64_t t0 = GetMonotonicTimeMS();
        TAVOFile::FrameData* frame = nullptr;
        int64_t t1, t2;
        {
            std::lock_guard<std::mutex> fl(fileLock);
            t1 = GetMonotonicTimeMS();
            if (TAVOFile* f = seqFile) {
                frame = f->getFrame((uint32_t)next);
            }
            t2 = GetMonotonicTimeMS();
        }
        int64_t t3 = GetMonotonicTimeMS();
        if (t3 - t0 > 20 || !frame) {
            LogDebug(kivlog::Sequence,
                     "Problem reading frame %d:   %X    Time: %d ms     Last: %d     Lock: %d   GetFrame: %d   "
                     "Unlock: %d\n",
                     next, (unsigned)(uintptr_t)frame, (int)(t3 - t0), (int)lastFrameRead, (int)(t1 - t0),
                     (int)(t2 - t1), (int)(t3 - t2));
        }

        lk.lock();
        if (frame) {
            // Also refuse a frame of a file that was closed or replaced meanwhile.
            if (lastFrameRead == last && generation == readGeneration && !doneRead) {
                lastFrameRead = next;
                frameCache.push_back(frame);
                lk.unlock();
                frameLoaded.notify_all();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                lk.lock();
            } else {
                delete frame; // repositioned (seek, skip or close) while we read
            }
        }
    }
}

// --- frame hand-over ---

void Sequence::stepBackLocked() {
    // Show the frame before the current one; a following forward step shows the current
    // one again. The current frame goes back to the front of the cache, then the one
    // before it, which the hand-over takes next.
    if (!recentFrames.empty()) {
        TAVOFile::FrameData* current = recentFrames.back();
        frameCache.splice(frameCache.begin(), recentFrames, std::prev(recentFrames.end()));
        if (!recentFrames.empty()) {
            frameCache.splice(frameCache.begin(), recentFrames, std::prev(recentFrames.end()));
        } else if (current->frame > 0) {
            // Nothing older kept: have the reader fetch the frame before.
            clearCaches();
            readGeneration++;
            doneRead = false;
            lastFrameRead = (int)current->frame - 2;
        }
    } else {
        int first = frameCache.empty() ? -1 : (int)frameCache.front()->frame;
        if (first < 0) {
            lastFrameRead = -1;
        } else {
            clearCaches();
            readGeneration++;
            lastFrameRead = std::max(-1, first - 2);
        }
        doneRead = false;
    }
    readerWake.notify_all();
}

void Sequence::ReadSequenceData(bool forceFirstFrame) {
    LogExcess(kivlog::Sequence, "ReadSequenceData()\n");
    std::lock_guard<std::recursive_mutex> ol(openLock);

    if (!forceFirstFrame && seqStarting != 0) {
        return;
    }
    bool running = runningLocked();
    bool stepBack = false;
    if (running && seqPaused) {
        if (seqSingleStep) {
            seqSingleStep = 0;
        } else if (seqSingleStepBack) {
            seqSingleStepBack = 0;
            stepBack = true;
        } else {
            return;
        }
    }
    if (!running && !forceFirstFrame) {
        if (blankBetweenSequences) {
            BlankSequenceData(false);
        } else if (isRemote()) {
            if (remoteBlankCount <= 5) {
                remoteBlankCount++;
            } else {
                BlankSequenceData(false);
            }
        } else if (!Player::INSTANCE.IsPlaying() && ((int)getKIVmode() & PLAYER_BIT)) {
            BlankSequenceData(false);
        }
        return;
    }
    if (!seqFile) {
        return;
    }

    remoteBlankCount = 0;
    std::unique_lock<std::mutex> lk(frameCacheLock);
    if (stepBack) {
        stepBackLocked();
    }
    if (frameCache.empty() && !doneRead) {
        readerWake.notify_all();
        int wait = std::max(0, seqStepTime - 1);
        frameLoaded.wait_for(lk, std::chrono::milliseconds(wait), [this] { return !frameCache.empty() || doneRead; });
    }
    if (frameCache.empty()) {
        if (doneRead) {
            lk.unlock();
            seqMSElapsed = (int)seqMSDuration;
            seqMSRemaining = 0;
            CloseSequenceFile();
            return;
        }
        // Late: send the newest frame again and have the reader skip one to catch up.
        if (lastFrameRead > 0) {
            lastFrameRead++;
        }
        if (!recentFrames.empty()) {
            SetLastFrameData(recentFrames.back());
            lastFrameData->readFrame(seqData, KIV_MAX_CHANNELS);
            dataProcessed = false;
        }
        lk.unlock();
        readerWake.notify_all();
        return;
    }

    // Nodes move between the lists by splicing and the oldest frame is left to the reader to
    // delete, so the hand-over neither allocates nor frees.
    TAVOFile::FrameData* frame = frameCache.front();
    recentFrames.splice(recentFrames.end(), frameCache, frameCache.begin());
    if (recentFrames.size() > RECENT_FRAMES_MAX) {
        if (recentFrames.front() != lastFrameData) {
            retiredFrames.splice(retiredFrames.end(), recentFrames, recentFrames.begin());
        } else {
            recentFrames.pop_front(); // SetLastFrameData below deletes it
        }
    }
    SetLastFrameData(frame);
    // The copy below runs outside the cache lock: the frame is lastFrameData, which no list
    // operation deletes and only holders of openLock (as we are) replace. The reader is woken
    // after it, so its next file read does not compete with the copy for memory bandwidth.
    lk.unlock();

    frame->readFrame(seqData, KIV_MAX_CHANNELS);
    readerWake.notify_all();
    SetChannelOutputFrameNumber((int)frame->frame);
    seqMSElapsed = (int)frame->frame * seqStepTime;
    seqMSRemaining = seqMSDuration - seqMSElapsed;
    dataProcessed = false;
}

// --- opening, starting, closing ---

int Sequence::OpenSequenceFile(const std::string& filename, int startFrame, int startSecond) {
    LogDebug(kivlog::Sequence, "OpenSequenceFile(%s, %d, %d)\n", filename.c_str(), startFrame, startSecond);
    if (filename.empty()) {
        LogErr(kivlog::Sequence, "Empty Sequence Filename!\n");
        return 0;
    }
    std::unique_lock<std::recursive_mutex> ol(openLock);
    if (seqFile && seqFilename == filename && seqStarting != 0) {
        return 1;
    }
    if (runningLocked()) {
        CloseSequenceFile();
    }
    {
        std::lock_guard<std::mutex> fl(fileLock);
        delete seqFile.load();
        seqFile = nullptr;
    }

    seqStarting = 2;
    {
        std::lock_guard<std::mutex> lk(frameCacheLock);
        doneRead = false;
        lastFrameRead = startFrame != 0 ? startFrame - 1 : -1;
        readGeneration++;
        clearCaches();
    }
    seqPaused = 0;
    seqMSDuration = 0;
    seqMSElapsed = 0;
    seqMSRemaining = 0;
    SetChannelOutputFrameNumber(lastFrameRead + 1);

    if (!readThread.joinable()) {
        readThread = std::thread(ReadSequenceDataThread, this);
    }

    seqFilename = filename;
    std::string path = getKIVMediaDir("/sequences") + "/" + filename;
    if (path.size() >= 2048) {
        LogErr(kivlog::Sequence, "Sequence path too long: %s\n", path.c_str());
        seqFilename = "";
        seqStarting = 0;
        return 0;
    }
    if (isRemote()) {
        CheckForHostSpecificFile(getSetting("HostName"), path);
    }

    auto fail = [this](const std::string& message) {
        WarningHolder::AddWarningTimeout(message, 60);
        seqFilename = "";
        seqStarting = 0;
        return 0;
    };

    if (!fileExists(path)) {
        std::string message = "Sequence file " + path + " does not exist";
        if (!isRemote()) {
            LogErr(kivlog::Sequence, "Sequence file %s does not exist\n", path.c_str());
            return fail(message);
        }
        LogDebug(kivlog::Sequence, "%s\n", message.c_str());
        path = getKIVMediaDir("/sequences") + "/fallback.tavo";
        if (!fileExists(path)) {
            LogDebug(kivlog::Sequence, "Fallback Sequence file %s does not exist\n", path.c_str());
            return fail(message);
        }
        seqFilename = "fallback.tavo";
        LogDebug(kivlog::Sequence, "Playing Fallback Sequence file %s\n", path.c_str());
    }

    if (MultiSync::INSTANCE.isMultiSyncEnabled()) {
        ol.unlock();
        MultiSync::INSTANCE.SendSeqOpenPacket(filename);
        ol.lock();
    }

    TAVOFile* file = TAVOFile::openTAVOFile(path);
    if (!file) {
        LogErr(kivlog::Sequence, "Error opening sequence file: %s. TAVOFile::openTAVOFile returned NULL\n",
               path.c_str());
        seqFilename = "";
        seqStarting = 0;
        return 0;
    }
    if (file->stepTime <= 0) {
        // A frame time of 0 would make the output period 0 and divide by zero below.
        LogErr(kivlog::Sequence, "Sequence file %s has a frame time of %d ms; it cannot be played\n", path.c_str(),
               file->stepTime);
        delete file;
        return fail("Sequence file " + path + " has a frame time of 0 ms and cannot be played");
    }

    seqStepTime = file->stepTime;
    seqRefreshRate = 1000.0f / (float)file->stepTime;
    if (startSecond >= 0) {
        std::lock_guard<std::mutex> lk(frameCacheLock);
        lastFrameRead = std::max(-1, (int)((int64_t)startSecond * 1000 / file->stepTime) - 1);
    }
    file->prepareRead(GetOutputRanges(true), (uint32_t)std::max(startFrame, 0));
    seqMSDuration = (int)std::min<int64_t>((int64_t)file->stepTime * file->numFrames, INT32_MAX);
    seqMSRemaining = (int)seqMSDuration;
    seqMSElapsed = 0;
    SetChannelOutputRefreshRate(seqRefreshRate);

    seqNumFrames = file->numFrames;
    {
        std::lock_guard<std::mutex> lk(frameCacheLock);
        seqFile = file;
        seqStarting = 1;
    }
    readerWake.notify_all();
    seqPaused = 0;
    seqSingleStep = 0;
    seqSingleStepBack = 0;
    dataProcessed = false;
    ProcessVariableHeaders();
    if (ChannelOutputThreadIsRunning() && !IsChannelOutputThread()) {
        // The running thread loads the first frame itself, so the buffer it is sending is
        // never written under it; the start below makes sure some thread does it.
        firstFramePending = true;
    } else {
        ReadSequenceData(true);
    }

    ol.unlock();
    StartChannelOutputThread();
    if (firstFramePending) {
        ForceChannelOutputNow();
    }
    seekWarnCount = 0;
    LogDebug(kivlog::Sequence, "seqRefreshRate        : %f\n", (float)seqRefreshRate);
    LogDebug(kivlog::Sequence, "seqMSDuration         : %d\n", (int)seqMSDuration);
    LogDebug(kivlog::Sequence, "seqMSRemaining        : %d\n", (int)seqMSRemaining);
    return 1;
}

void Sequence::StartSequence() {
    std::string name;
    {
        std::lock_guard<std::recursive_mutex> ol(openLock);
        if (!runningLocked() && seqFile) {
            if (MultiSync::INSTANCE.isMultiSyncEnabled()) {
                ResetChannelOutputFrameNumber();
                MultiSync::INSTANCE.SendSeqSyncStartPacket(seqFilename);
            }
            seqStarting = 0;
            StartChannelOutputThread();
        }
        name = seqFilename;
    }
    triggerPreset("SEQUENCE_STARTED", name);
}

int Sequence::StartSequence(const std::string& filename, int startFrame) {
    {
        std::lock_guard<std::recursive_mutex> ol(openLock);
        if (seqFilename != filename) {
            CloseSequenceFile();
            OpenSequenceFile(filename, startFrame, -1);
            if (seqFilename != filename && seqFilename != "fallback.tavo") {
                return 0;
            }
        }
    }
    StartSequence();
    if (startFrame != 0) {
        SeekSequenceFile(startFrame);
    }
    return 1;
}

int Sequence::CloseSequenceFile() {
    std::unique_lock<std::recursive_mutex> ol(openLock);
    LogDebug(kivlog::Sequence, "CloseSequenceFile() %s\n", seqFilename.c_str());
    if (MultiSync::INSTANCE.isMultiSyncEnabled()) {
        MultiSync::INSTANCE.SendSeqSyncStopPacket(seqFilename);
    }
    bool closed = false;
    {
        std::lock_guard<std::mutex> fl(fileLock);
        if (TAVOFile* f = seqFile) {
            delete f;
            seqFile = nullptr;
            closed = true;
            std::lock_guard<std::mutex> el(eventLock);
            frameCommands.clear();
            effectStarts.clear();
            effectStops.clear();
            hasFrameEvents = false;
        }
    }
    // Fired once fileLock is released, so a preset that opens or closes a sequence cannot
    // deadlock on it.
    if (closed) {
        triggerPreset("SEQUENCE_STOPPED", seqFilename);
    }
    {
        std::lock_guard<std::mutex> lk(frameCacheLock);
        clearCaches();
        readGeneration++;
        doneRead = true;
        lastFrameRead = -1;
    }
    frameLoaded.notify_all();
    seqFilename = "";
    seqPaused = 0;
    seqStarting = 0;
    seqNumFrames = 0;

    if (!IsEffectRunning() && !isRemote() && Player::INSTANCE.GetStatus() != 1) {
        SendBlankingData();
    } else if (blankBetweenSequences) {
        SendBlankingData();
    }
    return 1;
}

void Sequence::CloseIfOpen(const std::string& filename) {
    std::lock_guard<std::recursive_mutex> ol(openLock);
    if (seqFilename == filename) {
        CloseSequenceFile();
    }
}

int Sequence::IsSequenceRunning() {
    return seqFile && seqStarting == 0;
}

int Sequence::IsSequenceRunning(const std::string& filename) {
    std::lock_guard<std::recursive_mutex> ol(openLock);
    return runningLocked() && seqFilename == filename;
}

int Sequence::SequenceIsPaused() {
    return seqPaused;
}

void Sequence::ToggleSequencePause() {
    seqPaused = seqPaused ? 0 : 1;
}

void Sequence::SingleStepSequence() {
    seqSingleStep = 1;
}

void Sequence::SingleStepSequenceBack() {
    seqSingleStepBack = 1;
}

// --- seeking ---

void Sequence::SeekSequenceFile(int frameNumber) {
    LogDebug(kivlog::Sequence, "SeekSequenceFile(%d)\n", frameNumber);
    {
        std::lock_guard<std::recursive_mutex> ol(openLock);
        if (!runningLocked()) {
            LogDebug(kivlog::Sequence, "No sequence is running\n");
            return;
        }
    }
    if (frameNumber < 0) {
        frameNumber = 0;
    }
    std::unique_lock<std::mutex> lk(frameCacheLock);
    while (!recentFrames.empty() && (int)recentFrames.back()->frame <= frameNumber) {
        frameCache.splice(frameCache.begin(), recentFrames, std::prev(recentFrames.end()));
    }
    while (!frameCache.empty() && (int)frameCache.front()->frame < frameNumber) {
        TAVOFile::FrameData* f = frameCache.front();
        frameCache.pop_front();
        deleteUnlessCurrent(f);
    }
    if (!frameCache.empty() && (int)frameCache.front()->frame == frameNumber) {
        lk.unlock();
        readerWake.notify_all();
        return;
    }
    if (!frameCache.empty()) {
        clearCaches();
    }
    LogDebug(kivlog::Sequence, "Seeking to %d.   Last read is %d\n", frameNumber, (int)lastFrameRead);
    lastFrameRead = frameNumber - 1;
    readGeneration++;
    doneRead = false;
    readerWake.notify_all();
    if (isRemote() && frameNumber <= 99) {
        if (++seekWarnCount > 6) {
            WarningHolder::AddWarning("Multiple Frame Skips During Playback - Likely Slow Network");
        }
    }
    lk.unlock();
    readerWake.notify_all();
}

// --- per-period processing ---

void Sequence::ProcessSequenceData(int ms) {
    if (dataProcessed) {
        // Undo the previous pass's modifications before applying them again.
        std::lock_guard<std::mutex> lk(frameCacheLock);
        if (lastFrameData) {
            lastFrameData->readFrame(seqData, KIV_MAX_CHANNELS);
        }
    }

    if (bridgeActive) {
        std::lock_guard<std::mutex> bl(bridgeLock);
        if (bridgeData && !bridgeRanges.empty()) {
            uint64_t now = (uint64_t)GetMonotonicTimeMS();
            // Ranges come out of the map in start order, so runs are joined in one walk.
            int64_t runStart = -1, runEnd = -1; // end exclusive
            for (auto it = bridgeRanges.begin(); it != bridgeRanges.end();) {
                auto& lengths = it->second.lengths;
                for (auto l = lengths.begin(); l != lengths.end();) {
                    l = l->second < now ? lengths.erase(l) : std::next(l);
                }
                if (lengths.empty()) {
                    it = bridgeRanges.erase(it);
                    continue;
                }
                int64_t start = it->first;
                int64_t end = start + (int64_t)lengths.rbegin()->first;
                if (runStart >= 0 && start <= runEnd) {
                    runEnd = std::max(runEnd, end);
                } else {
                    if (runStart >= 0) {
                        memcpy(seqData + runStart, bridgeData + runStart, (size_t)(runEnd - runStart));
                    }
                    runStart = start;
                    runEnd = end;
                }
                ++it;
            }
            if (runStart >= 0) {
                memcpy(seqData + runStart, bridgeData + runStart, (size_t)(runEnd - runStart));
            }
            bridgeActive = !bridgeRanges.empty();
        }
    }

    PluginManager::INSTANCE.modifySequenceData(ms, seqData);
    if (IsEffectRunning()) {
        OverlayEffects(seqData);
    }
    if (SDLOutput::IsOverlayingVideo()) {
        SDLOutput::ProcessVideoOverlay((unsigned)ms);
    }
    if (PixelOverlayManager::INSTANCE.hasActiveOverlays()) {
        PixelOverlayManager::INSTANCE.doOverlays(seqData);
    }
    if (ChannelTester::INSTANCE.Testing()) {
        ChannelTester::INSTANCE.OverlayTestData(seqData);
    }
    PluginManager::INSTANCE.modifyChannelData(ms, seqData);
    PrepareChannelData(seqData);
    dataProcessed = true;
}

int Sequence::hasBridgeData() {
    return bridgeActive ? 1 : 0;
}

void Sequence::SetBridgeData(unsigned char* data, int startChannel, int length, unsigned long long expires) {
    if (prioritizeSequence && IsSequenceRunning()) {
        return;
    }
    if (!data || startChannel < 0 || length <= 0 || (int64_t)startChannel + length > (int64_t)KIV_MAX_CHANNELS) {
        LogWarn(kivlog::Sequence, "Bridge data for channels %d + %d lies outside the channel buffer, dropped\n",
                startChannel, length);
        return;
    }
    std::lock_guard<std::mutex> bl(bridgeLock);
    if (!bridgeData) {
        bridgeData = static_cast<unsigned char*>(calloc(KIV_CHANNEL_BUFFER_SIZE, 1));
        if (!bridgeData) {
            LogErr(kivlog::Sequence, "Could not allocate the bridge buffer; bridge data dropped\n");
            return;
        }
    }
    // Copied under the lock: the output thread reads this buffer in the merge.
    memcpy(bridgeData + startChannel, data, (size_t)length);
    auto& range = bridgeRanges[startChannel];
    range.startChannel = (uint32_t)startChannel;
    range.lengths[(uint32_t)length] = expires;
    bridgeActive = true;
    dataProcessed = false;
}

// --- sending and blanking ---

void Sequence::SendSequenceData() {
    int frame = -1;
    {
        std::lock_guard<std::mutex> lk(frameCacheLock);
        if (lastFrameData) {
            frame = (int)lastFrameData->frame;
        }
    }
    if (frame >= 0 && hasFrameEvents) {
        // Names are copied out first: a preset or effect may open or close a sequence,
        // which rewrites these maps.
        std::vector<std::string> commands, starts, stops;
        std::string name;
        {
            std::lock_guard<std::mutex> el(eventLock);
            if (auto it = frameCommands.find(frame); it != frameCommands.end()) {
                commands = it->second;
            }
            if (auto it = effectStarts.find(frame); it != effectStarts.end()) {
                starts = it->second;
            }
            if (auto it = effectStops.find(frame); it != effectStops.end()) {
                stops = it->second;
            }
            name = eventSequenceName;
        }
        for (auto& c : commands) {
            triggerPreset(c, name);
        }
        for (auto& e : starts) {
            StartEffect(e, 0, 1, false);
        }
        for (auto& e : stops) {
            StopEffect(e);
        }
    }
    SendChannelData(seqData);
}

void Sequence::SendBlankingData() {
    LogDebug(kivlog::Sequence, "SendBlankingData()\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (MultiSync::INSTANCE.isMultiSyncEnabled()) {
        MultiSync::INSTANCE.SendBlankingDataPacket();
    }
    if (ChannelOutputThreadIsRunning() && !IsChannelOutputThread()) {
        // Blanking here would write the buffer while the thread sends it: have the thread
        // blank at the start of its next pass. If it ends first, it blanks as it ends; if
        // neither happens in time, the request is taken back and done here.
        blankPending = true;
        ForceChannelOutputNow();
        for (int i = 0; i < 50 && blankPending && ChannelOutputThreadIsRunning(); i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!blankPending.exchange(false)) {
            return;
        }
    }
    BlankSequenceData(true);
    if (ChannelOutputThreadIsRunning() && ChannelOutputThreadIsEnabled()) {
        ForceChannelOutputNow();
    } else {
        ProcessSequenceData(0);
        SendSequenceData();
    }
}

bool Sequence::RunPendingBufferWork() {
    bool done = false;
    if (blankPending.exchange(false)) {
        BlankSequenceData(true);
        done = true;
    }
    if (firstFramePending.exchange(false)) {
        ReadSequenceData(true);
        done = true;
    }
    return done;
}

void Sequence::BlankSequenceData(bool clearBridge) {
    LogExcess(kivlog::Sequence, "BlankSequenceData()\n");
    const auto& ranges = GetOutputRanges(true);
    for (auto& r : ranges) {
        memset(seqData + r.first, 0, r.second);
    }
    if (clearBridge) {
        std::lock_guard<std::mutex> bl(bridgeLock);
        if (bridgeData) {
            for (auto& r : ranges) {
                memset(bridgeData + r.first, 0, r.second);
            }
            bridgeRanges.clear();
            bridgeActive = false;
        }
    }
    dataProcessed = false;
    std::lock_guard<std::mutex> lk(frameCacheLock);
    SetLastFrameData(nullptr);
}

// --- frame events ---

void Sequence::parseFrameEvents(const std::vector<uint8_t>& data, bool commands) {
    PayloadReader r{data};
    uint8_t version = 0;
    uint32_t count = 0;
    std::string label;
    if (!r.u8(version) || version != 1) {
        LogDebug(kivlog::Sequence, "Frame event header of version %d ignored\n", (int)version);
        return;
    }
    if (!r.u32(count) || (int32_t)count < 1 || !r.text(label)) {
        return;
    }
    for (int32_t i = 0; i < (int32_t)count; i++) {
        std::string name;
        uint32_t n = 0;
        if (!r.text(name) || !r.u32(n)) {
            LogWarn(kivlog::Sequence, "Frame event header ends inside entry %d, rest ignored\n", i);
            return;
        }
        for (int32_t p = 0; p < (int32_t)n; p++) {
            uint32_t startFrame = 0, endFrame = 0;
            if (!r.u32(startFrame) || !r.u32(endFrame)) {
                LogWarn(kivlog::Sequence, "Frame event header ends inside the frames of %s, rest ignored\n",
                        name.c_str());
                return;
            }
            if (commands) {
                frameCommands[(int)startFrame].push_back(name);
                frameCommands[(int)endFrame].push_back(name + "_END");
            } else {
                effectStarts[(int)startFrame].push_back(name);
                effectStops[(int)endFrame].push_back(name);
            }
        }
    }
}

void Sequence::ProcessVariableHeaders() {
    std::lock_guard<std::mutex> el(eventLock);
    frameCommands.clear();
    effectStarts.clear();
    effectStops.clear();
    for (auto& h : seqFile.load()->variableHeaders) {
        if (h.code[0] == 'F' && h.code[1] == 'C') {
            parseFrameEvents(h.data, true);
        } else if (h.code[0] == 'F' && h.code[1] == 'E') {
            parseFrameEvents(h.data, false);
        }
    }
    eventSequenceName = seqFilename;
    hasFrameEvents = !frameCommands.empty() || !effectStarts.empty() || !effectStops.empty();
}
