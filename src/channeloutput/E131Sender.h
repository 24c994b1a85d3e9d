#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "DatagramSet.h"
#include "UDPProtocols.h"

// E1.31 (sACN) data packets for a run of consecutive universes, one datagram each:
// root, framing and DMP layers built once, per frame only the slots and the sequence
// number change. Multicast goes to 239.255.hi.lo, unicast to one address, port 5568.
class E131Sender : public DatagramSet {
public:
    struct Config {
        std::array<uint8_t, udpproto::E131_CID_LENGTH> cid{};
        std::string sourceName;   // cut to 63 bytes, NUL-padded
        int priority = udpproto::E131_DEFAULT_PRIORITY;
        int firstUniverse = 1;
        int universeCount = 1;
        int channelsPerUniverse = udpproto::E131_MAX_SLOTS;
        bool multicast = true;
        uint32_t unicastAddress = 0; // network byte order; used when !multicast
    };

    // Builds every packet; false with `error` set when a value is outside the standard.
    bool configure(const Config& config, std::string& error);

    void fill(size_t i, const uint8_t* range) override;

    // The multicast group of a universe, network byte order.
    static uint32_t multicastAddress(int universe);

private:
    std::vector<uint8_t> m_sequence;
};
