#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Writes UDP datagrams as raw IPv4 packets into a pcap file, so tests can hand what a
// sender produced to a protocol decoder without capturing on a network.
class PcapWriter {
public:
    explicit PcapWriter(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")) {
        if (!m_file) return;
        const uint32_t magic = 0xA1B2C3D4, snaplen = 65535, linktype = 228; // LINKTYPE_IPV4
        const uint16_t major = 2, minor = 4;
        const int32_t zone = 0;
        const uint32_t sigfigs = 0;
        std::fwrite(&magic, 4, 1, m_file);
        std::fwrite(&major, 2, 1, m_file);
        std::fwrite(&minor, 2, 1, m_file);
        std::fwrite(&zone, 4, 1, m_file);
        std::fwrite(&sigfigs, 4, 1, m_file);
        std::fwrite(&snaplen, 4, 1, m_file);
        std::fwrite(&linktype, 4, 1, m_file);
    }
    ~PcapWriter() { close(); }
    bool ok() const { return m_file != nullptr; }
    void close() {
        if (m_file) std::fclose(m_file);
        m_file = nullptr;
    }

    // src and dst in network byte order, ports in host order.
    void add(uint32_t src, uint32_t dst, uint16_t srcPort, uint16_t dstPort,
             const uint8_t* payload, size_t length) {
        std::vector<uint8_t> p(28 + length, 0);
        p[0] = 0x45;
        put16(&p[2], uint16_t(p.size()));
        p[8] = 64;  // TTL
        p[9] = 17;  // UDP
        std::memcpy(&p[12], &src, 4);
        std::memcpy(&p[16], &dst, 4);
        uint32_t sum = 0;
        for (int i = 0; i < 20; i += 2) sum += uint32_t(p[i]) << 8 | p[i + 1];
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        put16(&p[10], uint16_t(~sum));
        put16(&p[20], srcPort);
        put16(&p[22], dstPort);
        put16(&p[24], uint16_t(8 + length)); // UDP checksum 0: none, allowed on IPv4
        std::memcpy(&p[28], payload, length);
        const uint32_t sec = 1700000000 + m_count, usec = 0, len = uint32_t(p.size());
        std::fwrite(&sec, 4, 1, m_file);
        std::fwrite(&usec, 4, 1, m_file);
        std::fwrite(&len, 4, 1, m_file);
        std::fwrite(&len, 4, 1, m_file);
        std::fwrite(p.data(), 1, p.size(), m_file);
        m_count++;
    }

private:
    static void put16(uint8_t* p, uint16_t v) {
        p[0] = uint8_t(v >> 8);
        p[1] = uint8_t(v);
    }
    std::FILE* m_file;
    uint32_t m_count = 0;
};
