#pragma once

#include <string>

#include <json/json.h>

// The runtime information file: this system's description with all its addresses, for the
// web interface and scripts. systems: {"systems": [this system, ...]}, each with an
// "address". Without systems the file is removed. path: empty for the media directory's
// "kiv-info.json".
void WriteRuntimeInfoFile(const Json::Value& systems, const std::string& path = "");

std::string RuntimeInfoFilePath();
