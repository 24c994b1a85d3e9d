#pragma once

#include "DDPSender.h"
#include "UDPOutputData.h"

// Universe entry types 4 and 5: "channelCount" channels from "startChannel" to one
// controller. Type 4 puts the show's own channel numbers on the wire (data offset =
// startChannel - 1); type 5 numbers from the entry's first channel (data offset 0).
class DDPOutputData : public DatagramOutputData {
public:
    DDPOutputData(const Json::Value& config, const UDPOutputContext& context);

    bool IsPingable() override { return true; }
    void DumpConfig() override;
    const std::string& GetOutputTypeString() const override;

private:
    DDPSender m_sender;
};
