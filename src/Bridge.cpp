#include "Bridge.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstdlib>

#include "E131Bridge.h"
#include "Sequence.h"
#include "channeloutput/ChannelOutput.h"
#include "channeloutput/ChannelOutputThread.h"
#include "kivversion.h"
#include "log.h"
#include "settings.h"

static_assert(BRIDGE_CHANNEL_SPACE == KIV_MAX_CHANNELS, "the bridge must know the engine's channel count");

namespace {
// Hands data to the global sequence engine, or to a sink set in its place; the bridge
// object outlives any of them.
class ForwardingSink : public BridgeDataSink {
public:
    void SetBridgeData(const uint8_t* data, int startChannel, int length, uint64_t expiresMs) override {
        BridgeDataSink* s = target.load(std::memory_order_acquire);
        if (s) {
            s->SetBridgeData(data, startChannel, length, expiresMs);
        } else if (sequence) {
            // The engine copies under its lock and never writes through the pointer.
            sequence->SetBridgeData(const_cast<unsigned char*>(data), startChannel, length, expiresMs);
        }
    }
    std::atomic<BridgeDataSink*> target{nullptr};
};

ForwardingSink& Sink() {
    static ForwardingSink sink;
    return sink;
}
} // namespace

E131Bridge& Bridge_Instance() {
    // Never destroyed before exit: the HTTP threads may read statistics after the shutdown.
    static E131Bridge* bridge = new E131Bridge(&Sink(), BridgeOptions{});
    return *bridge;
}

void Bridge_SetDataSink(BridgeDataSink* sink) { Sink().target.store(sink, std::memory_order_release); }

bool LoadInputUniversesFromFile() {
    return Bridge_Instance().LoadInputUniversesFromFile(getKIVMediaDir("/config") + "/ci-universes.json");
}

void InputUniversesPrint() { Bridge_Instance().InputUniversesPrint(); }

bool Bridge_Initialize(std::map<int, std::function<bool(int)>>& callbacks) {
    LogExcess(kivlog::E131Bridge, "Bridge_Initialize()\n");
    BridgeOptions o;
    o.disableFakeBridges = getSettingInt("DisableFakeNetworkBridges", 0) != 0;
    o.artNetTimeCodeSync = getSettingInt("ARTNETTimeCodeSync", 0) != 0;
    o.hostName = getSetting("HostName", "");
    o.version = getKIVVersion();
    E131Bridge& bridge = Bridge_Instance();
    bridge.SetOptions(o);
    bool loaded = LoadInputUniversesFromFile();
    if (!bridge.Initialize()) {
        // The messages naming the socket and the error are logged already.
        exit(1);
    }
    for (auto& [fd, handler] : bridge.GetBridgeFDs()) {
        callbacks[fd] = handler;
    }
    // Bridged data is output without any playback.
    StartChannelOutputThread();
    return loaded;
}

void Bridge_Shutdown() { Bridge_Instance().Shutdown(); }

void AddArtNetOpcodeHandler(int opcode, std::function<bool(const uint8_t*, size_t, long long)> handler) {
    Bridge_Instance().AddArtNetOpcodeHandler(opcode, std::move(handler));
}

void RemoveArtNetOpcodeHandler(int opcode) { Bridge_Instance().RemoveArtNetOpcodeHandler(opcode); }

int CreateArtNetSocket() {
    int fd = Bridge_Instance().CreateArtNetSocket();
    if (fd < 0) {
        exit(1);
    }
    return fd;
}

bool HasBridgeData() { return Bridge_Instance().HasBridgeData(); }
double GetSecondsFromInputPacket() { return Bridge_Instance().GetSecondsFromInputPacket(); }
Json::Value GetE131UniverseBytesReceived() { return Bridge_Instance().GetE131UniverseBytesReceived(); }
void ResetBytesReceived() { Bridge_Instance().ResetBytesReceived(); }
