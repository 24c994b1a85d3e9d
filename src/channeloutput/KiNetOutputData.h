#pragma once

#include "KiNetSender.h"
#include "UDPOutputData.h"

// Universe entry types 6 (KiNet v1 DMXOUT) and 7 (v2 PORTOUT): "id" is the first port
// (v2), "universeCount" ports of "channelCount" channels each.
class KiNetOutputData : public DatagramOutputData {
public:
    KiNetOutputData(const Json::Value& config, const UDPOutputContext& context);

    bool IsPingable() override { return true; }
    void DumpConfig() override;
    const std::string& GetOutputTypeString() const override;

    int port = 1;
    int portCount = 1;

private:
    KiNetSender m_sender;
};
