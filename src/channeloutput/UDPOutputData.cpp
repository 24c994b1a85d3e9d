#include "UDPOutputData.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <netdb.h>

#include "log.h"

namespace {
const std::string UDP_TYPE = "UDP";
// An unchanged destination is still sent every 11th frame, so receivers that drop
// silent sources keep the data.
constexpr int MAX_SKIPPED_FRAMES = 9;
// Channels in the channel-data buffer.
constexpr long long CHANNEL_BUFFER_SIZE = 8388608;
} // namespace

int configInt(const Json::Value& config, const char* key, int defaultValue, bool& ok) {
    ok = true;
    if (!config.isObject() || !config.isMember(key)) return defaultValue;
    const Json::Value& v = config[key];
    if (v.isBool()) return v.asBool() ? 1 : 0;
    if (v.isIntegral() && v.isConvertibleTo(Json::intValue)) return v.asInt();
    if (v.isString()) {
        const std::string s = v.asString();
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(s.c_str(), &end, 10);
        if (!s.empty() && end && *end == 0 && errno == 0 && n >= INT32_MIN && n <= INT32_MAX)
            return int(n);
    }
    ok = false;
    return defaultValue;
}

int UDPOutputData::intValue(const Json::Value& config, const char* key, int defaultValue) {
    bool ok = true;
    const int v = configInt(config, key, defaultValue, ok);
    if (!ok) fail(std::string("\"") + key + "\" is not an integer");
    return v;
}

UDPOutputData::UDPOutputData(const Json::Value& config) {
    if (!config.isObject()) {
        fail("the entry is not an object");
        return;
    }
    if (config["description"].isString()) description = config["description"].asString();
    active = intValue(config, "active", 1) != 0;
    if (!config.isMember("startChannel")) fail("\"startChannel\" is missing");
    if (!config.isMember("channelCount")) fail("\"channelCount\" is missing");
    startChannel = intValue(config, "startChannel", 1);
    channelCount = intValue(config, "channelCount", 0);
    type = intValue(config, "type", 0);
    if (config["address"].isString()) ipAddress = config["address"].asString();
    monitor = intValue(config, "monitor", 1) != 0;
    deDuplicate = intValue(config, "deDuplicate", 0) != 0;
    if (startChannel < 1) fail("\"startChannel\" " + std::to_string(startChannel) + " is below 1");
    if (channelCount < 1) fail("\"channelCount\" " + std::to_string(channelCount) + " is below 1");
    m_rangeLength = channelCount;
}

void UDPOutputData::fail(const std::string& why) {
    if (m_configError.empty()) m_configError = why;
}

void UDPOutputData::setRangeLength(long long length) {
    m_rangeLength = length;
    if (startChannel >= 1 && startChannel - 1 + length > CHANNEL_BUFFER_SIZE)
        fail("channels " + std::to_string(startChannel) + "-" +
             std::to_string(startChannel - 1 + length) + " run past the last channel " +
             std::to_string(CHANNEL_BUFFER_SIZE));
}

bool UDPOutputData::resolveDestination() {
    if (ipAddress.empty()) {
        fail("\"address\" is missing");
        return false;
    }
    bool ok = false;
    m_key = toInetAddr(ipAddress, ok);
    if (!ok) fail("cannot resolve address '" + ipAddress + "'");
    return ok;
}

void UDPOutputData::GetRequiredChannelRange(int& first, int& last) {
    first = startChannel - 1;
    last = int(startChannel - 1 + m_rangeLength - 1);
}

const std::string& UDPOutputData::GetOutputTypeString() const { return UDP_TYPE; }

uint32_t UDPOutputData::toInetAddr(const std::string& name, bool& ok) {
    ok = true;
    bool hasLetter = false;
    for (char c : name) hasLetter |= std::isalpha(static_cast<unsigned char>(c)) != 0;
    if (hasLetter) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* res = nullptr;
        if (getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0 || !res) {
            LogErr(kivlog::ChannelOut, "Error looking up hostname: %s\n", name.c_str());
            ok = false;
            return 0;
        }
        const uint32_t a = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(res);
        return a;
    }
    in_addr a{};
    // inet_addr's answer for a bad text (all ones) is also the broadcast address; refuse it.
    if (inet_pton(AF_INET, name.c_str(), &a) != 1) {
        ok = false;
        return 0;
    }
    return a.s_addr;
}

void UDPOutputData::SaveFrame(const unsigned char* data, int length) {
    if (!deDuplicate || length <= 0) return;
    if (lastData.size() != size_t(length)) lastData.assign(size_t(length), 0);
    std::memcpy(lastData.data(), data, size_t(length));
}

bool UDPOutputData::NeedToOutputFrame(const unsigned char* channelData, int firstChannel,
                                      int offset, int count) {
    if (!deDuplicate || m_forceFrame || lastData.empty()) return true;
    if (size_t(offset) + size_t(count) > lastData.size()) return true;
    return std::memcmp(lastData.data() + offset, channelData + firstChannel + offset,
                       size_t(count)) != 0;
}

void UDPOutputData::queueDatagrams(DatagramSet& set, const unsigned char* channelData,
                                   UDPOutputMessages& msgs) {
    // The keep-alive decision is taken once per frame, so every datagram of the entry is
    // refreshed, not only the first.
    m_forceFrame = !deDuplicate || skippedFrames > MAX_SKIPPED_FRAMES;
    if (m_forceFrame) skippedFrames = 0;
    std::vector<mmsghdr>& group = msgs.GetMessages(m_key);
    const int first = startChannel - 1;
    const unsigned char* range = channelData + first;
    bool skipped = false;
    bool queued = false;
    size_t last = 0;
    for (size_t i = 0; i < set.size(); i++) {
        if (!NeedToOutputFrame(channelData, first, int(set.sourceOffset(i)),
                               int(set.sourceLength(i)))) {
            skipped = true;
            continue;
        }
        set.fill(i, range);
        group.emplace_back();
        set.toMessage(i, group.back());
        queued = true;
        last = i;
    }
    if (queued) {
        set.finishFrame(last);
        SaveFrame(range, int(set.channelSpan()));
    }
    if (skipped) skippedFrames++;
}
