#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <vector>

#include "ArtNetOutputData.h"
#include "DDPOutputData.h"
#include "E131OutputData.h"
#include "KiNetOutputData.h"

namespace {

Json::Value parse(const std::string& text) {
    Json::Value v;
    Json::CharReaderBuilder b;
    std::string errs;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    EXPECT_TRUE(r->parse(text.data(), text.data() + text.size(), &v, &errs)) << text;
    return v;
}

std::unique_ptr<UDPOutputData> make(const std::string& text) {
    const Json::Value entry = parse(text);
    UDPOutputContext context;
    context.sourceName = "test";
    context.broadcastAddress = inet_addr("127.255.255.255");
    switch (entry["type"].asInt()) {
    case 0:
    case 1: return std::make_unique<E131OutputData>(entry, context);
    case 2:
    case 3: return std::make_unique<ArtNetOutputData>(entry, context);
    case 4:
    case 5: return std::make_unique<DDPOutputData>(entry, context);
    default: return std::make_unique<KiNetOutputData>(entry, context);
    }
}

TEST(UDPOutputData, MalformedEntriesReportWhy) {
    struct Case { const char* entry; const char* error; };
    const Case cases[] = {
        {R"({"type":1,"startChannel":1,"channelCount":512})", "\"address\" is missing"},
        {R"({"type":1,"startChannel":1,"channelCount":0,"address":"127.0.0.2"})", "below 1"},
        {R"({"type":1,"startChannel":1,"channelCount":513,"address":"127.0.0.2"})", "outside 1-512"},
        {R"({"type":3,"startChannel":1,"channelCount":513,"address":"127.0.0.2"})", "outside 1-512"},
        {R"({"type":7,"startChannel":1,"channelCount":513,"address":"127.0.0.2"})", "outside 1-512"},
        {R"({"type":1,"channelCount":10,"address":"127.0.0.2"})", "\"startChannel\" is missing"},
        {R"({"type":1,"startChannel":1,"channelCount":"many","address":"127.0.0.2"})",
         "\"channelCount\" is not an integer"},
        {R"({"type":1,"startChannel":1,"channelCount":10,"address":"300.0.0.1"})", "cannot resolve"},
        {R"({"type":4,"startChannel":1,"channelCount":10,"address":"no-such-host.invalid"})",
         "cannot resolve"},
        {R"({"type":0,"startChannel":8388600,"channelCount":10,"id":1})", "run past the last channel"},
        {R"({"type":0,"startChannel":1,"channelCount":512,"id":63999,"universeCount":2})",
         "outside 1-63999"},
        {R"({"type":6,"startChannel":1,"channelCount":512,"universeCount":2,"address":"127.0.0.2"})",
         "one universe"},
    };
    for (const Case& c : cases) {
        auto o = make(c.entry);
        EXPECT_NE(o->configError().find(c.error), std::string::npos)
            << c.entry << " gave: '" << o->configError() << "'";
    }
}

TEST(UDPOutputData, GoodEntriesAndTheirRanges) {
    struct Case { const char* entry; int first, last; uint32_t key; bool pingable; };
    const Case cases[] = {
        {R"({"type":0,"startChannel":11,"channelCount":512,"id":1,"universeCount":3})", 10,
         10 + 3 * 512 - 1, 0xFFFFFFFE, false},
        {R"({"type":1,"startChannel":1,"channelCount":8,"address":"127.0.0.2","id":9})", 0, 7,
         inet_addr("127.0.0.2"), true},
        {R"({"type":2,"startChannel":1,"channelCount":512,"id":0,"universeCount":2})", 0, 1023,
         0xFFFFFFFF, false},
        {R"({"type":5,"startChannel":101,"channelCount":3000,"address":"127.0.0.3"})", 100, 3099,
         inet_addr("127.0.0.3"), true},
        {R"({"type":7,"startChannel":1,"channelCount":510,"id":2,"universeCount":4,"address":"localhost"})",
         0, 4 * 510 - 1, inet_addr("127.0.0.1"), true},
    };
    for (const Case& c : cases) {
        auto o = make(c.entry);
        EXPECT_EQ(o->configError(), "") << c.entry;
        int first = -1, last = -1;
        o->GetRequiredChannelRange(first, last);
        EXPECT_EQ(first, c.first) << c.entry;
        EXPECT_EQ(last, c.last) << c.entry;
        EXPECT_EQ(o->destinationKey(), c.key) << c.entry;
        EXPECT_EQ(o->IsPingable(), c.pingable) << c.entry;
    }
}

TEST(UDPOutputData, DDPOffsetsByType) {
    std::vector<uint8_t> channels(2000, 0);
    for (const auto& [type, offset] : {std::pair{4, 99u}, std::pair{5, 0u}}) {
        auto o = make(R"({"type":)" + std::to_string(type) +
                      R"(,"startChannel":100,"channelCount":20,"address":"127.0.0.3"})");
        UDPOutputMessages msgs;
        o->PrepareData(channels.data(), msgs);
        auto& group = msgs.GetMessages(o->destinationKey());
        ASSERT_EQ(group.size(), 1u);
        const uint8_t* p = static_cast<const uint8_t*>(group[0].msg_hdr.msg_iov[0].iov_base);
        EXPECT_EQ((uint32_t(p[4]) << 24 | p[5] << 16 | p[6] << 8 | p[7]), offset) << type;
    }
}

// Counts, per frame, the datagrams an entry queues.
class DeDuplication : public ::testing::Test {
protected:
    size_t frame() {
        msgs.clearMessages();
        o->PrepareData(channels.data(), msgs);
        return msgs.GetMessages(o->destinationKey()).size();
    }
    std::vector<uint8_t> channels = std::vector<uint8_t>(4 * 512, 0);
    UDPOutputMessages msgs;
    std::unique_ptr<UDPOutputData> o =
        make(R"({"type":1,"startChannel":1,"channelCount":512,"universeCount":3,)"
             R"("address":"127.0.0.2","id":1,"deDuplicate":1})");
};

TEST_F(DeDuplication, UnchangedDestinationIsSentEvery11thFrame) {
    ASSERT_EQ(o->configError(), "");
    EXPECT_EQ(frame(), 3u) << "the first frame is always sent";
    std::vector<size_t> counts;
    for (int n = 0; n < 22; n++) counts.push_back(frame());
    std::vector<size_t> expected(22, 0);
    expected[10] = 3; // every universe, not only the first, gets the keep-alive
    expected[21] = 3;
    EXPECT_EQ(counts, expected);
}

TEST_F(DeDuplication, OnlyChangedUniversesAreSent) {
    frame();
    channels[512 + 7] = 1; // second universe
    msgs.clearMessages();
    o->PrepareData(channels.data(), msgs);
    auto& group = msgs.GetMessages(o->destinationKey());
    ASSERT_EQ(group.size(), 1u);
    const uint8_t* p = static_cast<const uint8_t*>(group[0].msg_hdr.msg_iov[0].iov_base);
    EXPECT_EQ(p[114], 2) << "universe 2";
    EXPECT_EQ(p[126 + 7], 1);
    EXPECT_EQ(frame(), 0u) << "the change was saved";
    channels[0] = 5;
    channels[3 * 512 - 1] = 5;
    EXPECT_EQ(frame(), 2u);
}

TEST_F(DeDuplication, OffSendsEveryFrame) {
    o = make(R"({"type":1,"startChannel":1,"channelCount":512,"universeCount":3,)"
             R"("address":"127.0.0.2","id":1})");
    for (int n = 0; n < 5; n++) EXPECT_EQ(frame(), 3u);
    EXPECT_TRUE(o->lastData.empty()) << "nothing is kept without de-duplication";
}

TEST(UDPOutputData, CidFromUUID) {
    const auto cid = E131OutputData::cidFromUUID("0123ABCD-4567-89ab-cdef-0123456789AB", "h");
    const std::array<uint8_t, 16> expected = {0x01, 0x23, 0xAB, 0xCD, 0x45, 0x67, 0x89, 0xAB,
                                              0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    EXPECT_EQ(cid, expected);
    // Not a UUID: a stable id that differs per host.
    const auto a = E131OutputData::cidFromUUID("Unknown", "yard");
    EXPECT_EQ(a, E131OutputData::cidFromUUID("Unknown", "yard"));
    EXPECT_NE(a, E131OutputData::cidFromUUID("Unknown", "porch"));
    EXPECT_EQ(a[6] >> 4, 4) << "version 4";
    EXPECT_NE(E131OutputData::cidFromUUID("0123ABCD-4567-89ab-cdef-0123456789", "h"),
              E131OutputData::cidFromUUID("0123ABCD-4567-89ab-cdef-0123456788", "h"))
        << "a short UUID text is hashed, not zero-filled";
}

} // namespace
