#pragma once

#include "E131Sender.h"
#include "UDPOutputData.h"

// Universe entry types 0 (multicast) and 1 (unicast): "id" is the first universe,
// "universeCount" universes of "channelCount" channels each, "priority" (default 100).
class E131OutputData : public DatagramOutputData {
public:
    E131OutputData(const Json::Value& config, const UDPOutputContext& context);

    bool IsPingable() override { return type == 1; }
    void DumpConfig() override;
    const std::string& GetOutputTypeString() const override;

    // The component id for a system UUID text; a text that is not a UUID gives a stable
    // id derived from it and `seed` (the host name).
    static std::array<uint8_t, 16> cidFromUUID(const std::string& uuid, const std::string& seed);

    int universe = 1;
    int universeCount = 1;
    int priority = 100;

private:
    E131Sender m_sender;
};
