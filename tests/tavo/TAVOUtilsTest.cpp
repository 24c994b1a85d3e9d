#include <gtest/gtest.h>
#include <json/json.h>

#include "TAVOTestFiles.h"
#include "TAVOUtils.h"

using namespace tavotest;

namespace {

TEST(TAVOUtils, ChannelRanges) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t start, count;
    };
    const Case cases[] = {
        {"1-512", true, 0, 512},
        {"1+512", true, 0, 512},
        {"10-10", true, 9, 1},
        {"3x4", true, 2, 4},  // any other separator means "+"
        {"8216576+1", true, 8216575, 1},
        {"1-8216576", true, 0, 8216576},
        {"8216000+10000", false, 0, 0},
        {"5-1", false, 0, 0},
        {"0-10", false, 0, 0},
        {"5+0", false, 0, 0},
        {"100", false, 0, 0},
        {"-5", false, 0, 0},
        {"1-2x", false, 0, 0},
        {"99999999999999999999-1", false, 0, 0},
    };
    for (const auto& c : cases) {
        std::pair<uint32_t, uint32_t> r{77, 77};
        std::string error;
        EXPECT_EQ(parseTAVOChannelRange(c.text, r, error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(r, std::make_pair(c.start, c.count)) << c.text;
        } else {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
        }
    }
}

TEST(TAVOUtils, JSONEscaping) {
    EXPECT_EQ(escapeTAVOJSON("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(escapeTAVOJSON("t\tn\n\x01"), "t\\u0009n\\u000a\\u0001");
    EXPECT_EQ(escapeTAVOJSON("caf\xc3\xa9"), "caf\xc3\xa9");  // valid UTF-8 passes
    EXPECT_EQ(escapeTAVOJSON("bad\xff\xc3"), "bad\\ufffd\\ufffd");
    EXPECT_EQ(escapeTAVOJSON("\xed\xa0\x80"), "\\ufffd\\ufffd\\ufffd");  // a UTF-16 surrogate is not UTF-8
}

Json::Value parseLine(const std::string& line) {
    Json::Value v;
    Json::CharReaderBuilder b;
    std::string errors;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    EXPECT_TRUE(r->parse(line.data(), line.data() + line.size(), &v, &errors)) << line << errors;
    return v;
}

TEST(TAVOUtils, MetadataLine) {
    TempDir dir;
    WriteSpec spec;
    spec.type = TAVOFile::zlib;
    spec.sparse = {{0, 10}, {20, 5}};
    spec.headers = {textHeader("mf", "Song \"1\"\\.mp3"), textHeader("sp", "caf\xc3\xa9"),
                    TAVOFile::VariableHeader("FC", {'a', 1, 'b'}), TAVOFile::VariableHeader("\x01x", {'a'})};
    std::string path = dir.file("we\"ird\tname\x02.tavo");
    std::unique_ptr<TAVOFile> f = writeAndOpen(path, makeFrames(30, 4), 30, spec);
    ASSERT_TRUE(f);
    std::string line = getTAVOMetadataJSON(path, *f);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    Json::Value v = parseLine(line);
    EXPECT_EQ(v["Name"].asString(), "we\"ird\tname\x02.tavo");
    EXPECT_EQ(v["Version"].asString(), "2.0");
    EXPECT_EQ(v["ID"].asString(), "12345");
    EXPECT_EQ(v["StepTime"].asInt(), 25);
    EXPECT_EQ(v["NumFrames"].asInt(), 4);
    EXPECT_EQ(v["MaxChannel"].asInt(), 25);
    EXPECT_EQ(v["ChannelCount"].asInt(), 15);
    EXPECT_EQ(v["variableHeaders"]["mf"].asString(), "Song \"1\"\\.mp3");
    // Non-ASCII text, control bytes and unprintable codes are left out.
    EXPECT_EQ(v["variableHeaders"].size(), 1u);
    ASSERT_EQ(v["Ranges"].size(), 2u);
    EXPECT_EQ(v["Ranges"][1]["Start"].asInt(), 20);
    EXPECT_EQ(v["Ranges"][1]["Length"].asInt(), 5);
    EXPECT_EQ(v["CompressionType"].asInt(), 2);
    EXPECT_EQ(line.substr(0, 10), "{\"Name\": \"");
}

TEST(TAVOUtils, MetadataLineOfVersion1HasNoRangesOrCompression) {
    TempDir dir;
    WriteSpec spec;
    spec.major = 1;
    std::string path = dir.file("v1.tavo");
    std::unique_ptr<TAVOFile> f = writeAndOpen(path, makeFrames(30, 4), 30, spec);
    ASSERT_TRUE(f);
    Json::Value v = parseLine(getTAVOMetadataJSON(path, *f));
    EXPECT_FALSE(v.isMember("Ranges"));
    EXPECT_FALSE(v.isMember("CompressionType"));
    EXPECT_FALSE(v.isMember("variableHeaders"));
    EXPECT_EQ(v["Version"].asString(), "1.0");
}

} // namespace
