#pragma once

// The daemon's network input bridge: free functions over one process-wide E131Bridge.
// Bridge_Initialize and Bridge_Shutdown run on the main thread (before the HTTP server is
// created and after the main loop ends); the statistics functions may be called from any
// thread in between and after.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>

#include <json/json.h>

class BridgeDataSink;
class E131Bridge;

// Reads the input universes file and the settings, opens the sockets and adds their
// handlers to the main loop's map (descriptor -> handler; true asks for an output frame at
// once), then starts the channel output thread. A socket that cannot be opened or bound
// ends the process with status 1. Returns whether input universes were loaded.
bool Bridge_Initialize(std::map<int, std::function<bool(int)>>& callbacks);
void Bridge_Shutdown();

// Where bridged data goes instead of the global sequence engine (nullptr: the engine again).
void Bridge_SetDataSink(BridgeDataSink* sink);

// Handlers for other subsystems' Art-Net opcodes (the whole datagram, its length, the
// receive time in milliseconds). Main thread only.
void AddArtNetOpcodeHandler(int opcode, std::function<bool(const uint8_t*, size_t, long long)> handler);
void RemoveArtNetOpcodeHandler(int opcode);
int CreateArtNetSocket();

bool HasBridgeData();
double GetSecondsFromInputPacket();
Json::Value GetE131UniverseBytesReceived();
void ResetBytesReceived();
bool LoadInputUniversesFromFile();
void InputUniversesPrint();

// The process-wide instance (for tests and the daemon's wiring).
E131Bridge& Bridge_Instance();
