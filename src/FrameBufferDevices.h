#pragma once

#include <string>

#include <json/json.h>

// Lists the board's usable display devices: framebuffers "fbN" in `fbDir` and the
// connected connectors of the DRM cards. The plain query gives an array of names; the
// detailed one an object keyed by name with each connector's modes and the card's formats.
void GetFrameBufferDevices(Json::Value& result, bool debug, const std::string& fbDir = "/dev/",
                           const std::string& drmPrefix = "/dev/dri/card");

// The connector type's display name ("HDMI-A", "DSI", ... "unknown").
const char* DrmConnectorTypeName(unsigned type);
