#pragma once

#include <cstdint>
#include <string>

#include "DatagramSet.h"
#include "UDPProtocols.h"

// Art-Net ArtDmx packets for a run of consecutive port-addresses, one datagram each, to
// one address (a node, or the interface's broadcast address), port 6454.
class ArtNetSender : public DatagramSet {
public:
    struct Config {
        int firstUniverse = 0;  // 15-bit port-address: Net << 8 | SubNet << 4 | Universe
        int universeCount = 1;
        int channelsPerUniverse = udpproto::ARTNET_MAX_SLOTS;
        uint32_t address = 0;   // network byte order
    };

    bool configure(const Config& config, std::string& error);
    void fill(size_t i, const uint8_t* range) override;

private:
    std::vector<uint8_t> m_sequence;
};
