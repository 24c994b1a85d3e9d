#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <json/json.h>
#include <string>
#include <vector>

#include "DatagramSet.h"
#include "UDPOutputMessages.h"

// The integer at `key` of a configuration object: integers, booleans and decimal texts
// are accepted; `ok` is false (and the result `defaultValue`) for anything else. A
// missing key gives `defaultValue` with ok true.
int configInt(const Json::Value& config, const char* key, int defaultValue, bool& ok);

// What every sender of the UDP output gets besides its own universe entry.
struct UDPOutputContext {
    std::array<uint8_t, 16> cid{}; // E1.31 component id of this player
    std::string sourceName;        // E1.31 source name (the host name)
    uint32_t broadcastAddress = 0; // of the output's interface, network byte order
};

// One universe entry of the UDP output: a destination and a channel range. The frame
// thread calls PrepareData; the ping path writes `valid` and `failCount`.
//
// An entry that cannot be sent (missing address, bad channel count, unresolvable host)
// keeps the reason in configError(); the output disables it with a user warning.
class UDPOutputData {
public:
    explicit UDPOutputData(const Json::Value& config);
    virtual ~UDPOutputData() = default;

    virtual bool IsPingable() = 0;
    virtual bool Monitor() const { return monitor; }
    // Appends this frame's datagrams to their group; they point into buffers this sender
    // owns, which stay untouched until the next PrepareData.
    virtual void PrepareData(unsigned char* channelData, UDPOutputMessages& msgs) = 0;
    virtual void PostPrepareData(unsigned char* channelData, UDPOutputMessages& msgs) {}
    virtual void DumpConfig() = 0;
    virtual void GetRequiredChannelRange(int& first, int& last);
    virtual void StartingOutput() {}
    virtual void StoppingOutput() {}
    virtual const std::string& GetOutputTypeString() const;

    // The key of the group this sender's datagrams go to.
    uint32_t destinationKey() const { return m_key; }
    const std::string& configError() const { return m_configError; }

    // IPv4 address of `name` in network byte order; names with a letter are resolved.
    static uint32_t toInetAddr(const std::string& name, bool& ok);
    // Resolves ipAddress into the destination key; records a config error on failure.
    bool resolveDestination();
    void SaveFrame(const unsigned char* data, int length);
    bool NeedToOutputFrame(const unsigned char* channelData, int firstChannel, int offset,
                           int count);

    std::string description;
    bool active = true;
    int startChannel = 1;
    int channelCount = 0;
    int type = 0;
    std::string ipAddress;
    std::atomic<bool> valid{true};
    bool monitor = true;
    std::atomic<int> failCount{0};
    bool deDuplicate = false;
    int skippedFrames = 0;
    std::vector<uint8_t> lastData; // empty until the first saved frame

protected:
    // Queues the datagrams of `set` whose slice changed (or all, when de-duplication is
    // off or a keep-alive is due) into the group of destinationKey().
    void queueDatagrams(DatagramSet& set, const unsigned char* channelData,
                        UDPOutputMessages& msgs);
    void fail(const std::string& why);
    // Records the channel span the entry reads and checks it fits the channel buffer.
    void setRangeLength(long long length);
    // Entry values, checked: a wrong type records a config error and gives the default.
    int intValue(const Json::Value& config, const char* key, int defaultValue);

    // Configures a protocol sender unless the entry is already known to be bad.
    template <class Sender> void configureSender(Sender& sender, const typename Sender::Config& c) {
        std::string error;
        if (m_configError.empty() && !sender.configure(c, error)) fail(error);
    }

    uint32_t m_key = 0;
    long long m_rangeLength = 0;
    std::string m_configError;
    bool m_forceFrame = false; // this frame re-sends everything (keep-alive)
};

// A sender whose datagrams all come from one DatagramSet owned by the subclass.
class DatagramOutputData : public UDPOutputData {
public:
    DatagramOutputData(const Json::Value& config, DatagramSet& set)
        : UDPOutputData(config), m_set(set) {}
    void PrepareData(unsigned char* channelData, UDPOutputMessages& msgs) override {
        queueDatagrams(m_set, channelData, msgs);
    }

private:
    DatagramSet& m_set;
};
