#pragma once

#include "ArtNetSender.h"
#include "UDPOutputData.h"

// Universe entry types 2 (broadcast on the output's interface) and 3 (unicast): "id" is
// the first 15-bit port-address, "universeCount" universes of "channelCount" channels.
class ArtNetOutputData : public DatagramOutputData {
public:
    ArtNetOutputData(const Json::Value& config, const UDPOutputContext& context);

    bool IsPingable() override { return type == 3; }
    void DumpConfig() override;
    const std::string& GetOutputTypeString() const override;

    int universe = 0;
    int universeCount = 1;

private:
    ArtNetSender m_sender;
};
