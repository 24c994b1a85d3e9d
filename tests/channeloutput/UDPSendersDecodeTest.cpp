#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "ArtNetSender.h"
#include "E131Sender.h"
#include "PcapWriter.h"
#include "TsharkDecode.h"

// Hands the senders' packets to tshark, an independent decoder: every packet must decode
// as its protocol with the right fields and without a malformed-packet mark.
namespace {

class UDPSendersDecode : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tsharkAvailable()) GTEST_SKIP() << "tshark missing";
        char tmpl[] = "/tmp/udpsenders-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_pcap = m_dir + "/packets.pcap";
    }
    void TearDown() override {
        if (!m_dir.empty()) std::system(("rm -rf '" + m_dir + "'").c_str());
    }
    void addAll(PcapWriter& w, DatagramSet& s, const uint8_t* channels, int frames) {
        for (int f = 0; f < frames; f++)
            for (size_t i = 0; i < s.size(); i++) {
                s.fill(i, channels);
                w.add(inet_addr("127.0.0.1"), s.destination(i).sin_addr.s_addr, 40000,
                      ntohs(s.destination(i).sin_port), s.datagram(i), s.length(i));
            }
    }
    std::string m_dir, m_pcap;
};

TEST_F(UDPSendersDecode, E131AndArtNetDecodeCleanly) {
    std::vector<uint8_t> channels(4 * 512);
    for (size_t i = 0; i < channels.size(); i++) channels[i] = uint8_t(i * 7);

    E131Sender e131;
    E131Sender::Config ec;
    ec.cid[0] = 0x42;
    ec.sourceName = "decode test";
    ec.firstUniverse = 300;
    ec.universeCount = 2;
    ec.channelsPerUniverse = 512;
    ec.priority = 150;
    std::string err;
    ASSERT_TRUE(e131.configure(ec, err)) << err;
    E131Sender e131Short;
    ec.firstUniverse = 5;
    ec.universeCount = 1;
    ec.channelsPerUniverse = 9;
    ec.multicast = false;
    ec.unicastAddress = inet_addr("127.0.0.2");
    ASSERT_TRUE(e131Short.configure(ec, err)) << err;

    ArtNetSender art;
    ArtNetSender::Config ac;
    ac.firstUniverse = 0x0123;
    ac.universeCount = 2;
    ac.channelsPerUniverse = 511; // odd: padded
    ac.address = inet_addr("127.0.0.3");
    ASSERT_TRUE(art.configure(ac, err)) << err;
    {
        PcapWriter w(m_pcap);
        ASSERT_TRUE(w.ok());
        addAll(w, e131, channels.data(), 2);
        addAll(w, e131Short, channels.data(), 1);
        addAll(w, art, channels.data(), 1);
    }

    const std::vector<std::string> got = tsharkFields(m_pcap,
        "-e acn.dmx.universe -e acn.dmx.priority -e acn.dmx.seq_number -e acn.dmx.count "
               "-e artnet.output.universe -e artnet.output.sequence -e artnet.output.length "
               "-e _ws.malformed -e _ws.expert.severity");
    const std::vector<std::string> expected = {
        "300,150,0,513,,,,,", "301,150,0,513,,,,,", "300,150,1,513,,,,,",
        "301,150,1,513,,,,,", "5,150,0,10,,,,,",    ",,,,291,1,512,,",
        ",,,,292,1,512,,",
    };
    EXPECT_EQ(got, expected);
}

} // namespace
