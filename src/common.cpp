// Keyword substitution, host-specific files, the shutdown hook and hex dumps.

#include "common.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "kivversion.h"
#include "log.h"

std::string ReplaceKeywords(std::string text, std::map<std::string, std::string>& keywords) {
    for (const auto& [key, value] : keywords) {
        replaceAll(text, "%" + key + "%", value);
    }
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    replaceAll(text, "%TIME%", buffer);
    snprintf(buffer, sizeof(buffer), "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    replaceAll(text, "%DATE%", buffer);
    replaceAll(text, "%KIV_VERSION%", getKIVVersionTriplet());
    replaceAll(text, "%KIV_SOURCE_VERSION%", getKIVVersion());
    replaceAll(text, "%KIV_BRANCH%", getKIVBranch());
    return text;
}

bool CheckForHostSpecificFile(const std::string& hostname, std::string& filename) {
    // Only names with an extension of three or four characters have a host-specific form.
    size_t len = filename.size();
    size_t dot;
    if (len >= 5 && filename[len - 4] == '.') {
        dot = len - 4;
    } else if (len >= 6 && filename[len - 5] == '.') {
        dot = len - 5;
    } else {
        return false;
    }
    if (hostname.empty()) {
        return false;
    }
    std::string base = filename.substr(0, dot);
    std::string ext = filename.substr(dot); // with its "."
    for (const char* joiner : {"-", "_"}) {
        std::string candidate = base + joiner + hostname + ext;
        if (FileExists(candidate)) {
            LogDebug(kivlog::Sequence, "Found %s to use instead of %s\n", candidate.c_str(), filename.c_str());
            filename = candidate;
            return true;
        }
    }
    return false;
}

bool CheckForHostSpecificFile(const char* hostname, char* filename, size_t filenameSize) {
    if (!hostname || !filename || filenameSize == 0) {
        return false;
    }
    std::string name(filename, strnlen(filename, filenameSize));
    if (!CheckForHostSpecificFile(std::string(hostname), name)) {
        return false;
    }
    if (name.size() >= filenameSize) {
        LogErr(kivlog::Sequence, "Host-specific file name %s does not fit its buffer, keeping %s\n", name.c_str(),
               filename);
        return false;
    }
    memcpy(filename, name.c_str(), name.size() + 1);
    return true;
}

namespace {
std::mutex shutdownLock;
std::function<void(bool)> shutdownHandler;
} // namespace

void RegisterShutdownHandler(std::function<void(bool)> handler) {
    std::lock_guard<std::mutex> lock(shutdownLock);
    shutdownHandler = std::move(handler);
}

void ShutdownKIVD(bool restart) {
    std::function<void(bool)> handler;
    {
        std::lock_guard<std::mutex> lock(shutdownLock);
        handler = shutdownHandler;
    }
    // Called outside the lock: the handler may register another one.
    if (handler) {
        handler(restart);
    }
}

void HexDump(const char* title, const void* data, int length, KIVLoggerInstance& logger, int bytesPerLine) {
    if (!WillLog(LOG_LEVEL_INFO, logger)) {
        return;
    }
    if (title && *title) {
        LogInfo(logger, "%s: (%d bytes)\n", title, length);
    }
    if (!data || length <= 0) {
        return;
    }
    if (bytesPerLine <= 0) {
        bytesPerLine = 16;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    char cell[16];
    for (int offset = 0; offset < length; offset += bytesPerLine) {
        int count = std::min(bytesPerLine, length - offset);
        std::string line;
        snprintf(cell, sizeof(cell), "%06x: ", offset);
        line += cell;
        for (int i = 0; i < count; i++) {
            snprintf(cell, sizeof(cell), "%02x ", bytes[offset + i]);
            line += cell;
        }
        line.append((size_t)(bytesPerLine - count) * 3, ' ');
        line += "   ";
        for (int i = 0; i < count; i++) {
            uint8_t c = bytes[offset + i];
            bool plain = c != '%' && c != '\\' && (isprint(c) || c == ' ');
            line += plain ? (char)c : '.';
        }
        LogInfo(logger, "%s\n", line.c_str());
    }
}
