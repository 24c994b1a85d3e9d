#pragma once

#include <cstdint>
#include <string>

#include "DatagramSet.h"
#include "UDPProtocols.h"

// KiNet datagrams to one power supply, port 6038: version 1 DMXOUT (one universe, the
// supply's only output) or version 2 PORTOUT (one datagram per port, ports 1-16).
class KiNetSender : public DatagramSet {
public:
    struct Config {
        int version = 2;        // 1 DMXOUT, 2 PORTOUT
        int firstPort = 1;      // PORTOUT only
        int portCount = 1;
        int channelsPerPort = udpproto::KINET_MAX_SLOTS;
        uint32_t address = 0;   // network byte order
    };

    bool configure(const Config& config, std::string& error);
    void fill(size_t i, const uint8_t* range) override;

private:
    size_t m_headerLength = 0;
};
