#pragma once

#include <cstdint>
#include <string>

#include "DatagramSet.h"
#include "UDPProtocols.h"

// DDP data datagrams for one channel range to one address, port 4048: the range is cut
// into datagrams of at most 1,440 data bytes; the last datagram sent in a frame carries
// the push flag so the controller shows the frame at once.
class DDPSender : public DatagramSet {
public:
    struct Config {
        int channelCount = 0;
        uint32_t firstOffset = 0; // data offset of the range's first byte at the controller
        uint32_t address = 0;     // network byte order
    };

    bool configure(const Config& config, std::string& error);
    void fill(size_t i, const uint8_t* range) override;
    void finishFrame(size_t last) override;

private:
    uint8_t m_sequence = 0;
};
