#pragma once

#include <cstdint>
#include <vector>

#include "DatagramSet.h"

// Datagram i of a sender as it goes on the wire.
inline std::vector<uint8_t> bytes(const DatagramSet& s, size_t i) {
    return std::vector<uint8_t>(s.datagram(i), s.datagram(i) + s.length(i));
}
