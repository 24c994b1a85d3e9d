#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "common.h"
#include "kivversion.h"
#include "log.h"

namespace fs = std::filesystem;

namespace {

// A fresh directory per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/kivcommontestXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

TEST(DateTest, DateInRangeTable) {
    struct Case {
        int date, start, end;
        bool expected;
    } cases[] = {
        {20261224, 20261201, 20261231, true},  // full dates
        {20270101, 20261201, 20261231, false},
        {20261224, 1201, 131, true},           // December to January, no year
        {20260115, 1201, 131, true},
        {20260215, 1201, 131, false},
        {20260710, 0, 0, true},                // every day
        {20260703, 28, 5, true},               // days 28 to 5 over the month end
        {20260729, 28, 5, true},
        {20260710, 28, 5, false},
        {20260710, 5, 15, true},               // days only
        {20260716, 5, 15, false},
        {20260710, 701, 731, true},            // month and day
        {20260801, 701, 731, false},
        {20260710, 20260701, 731, true},       // only start has a year: compared as MMDD
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DateInRange(c.date, c.start, c.end), c.expected)
            << c.date << " in " << c.start << ".." << c.end;
    }
}

TEST(DateTest, DateStrToIntTable) {
    struct Case {
        const char* text;
        int expected;
    } cases[] = {
        {"2026-12-24", 20261224}, {"2026-12-24 ", 0}, {"2026/12/24", 0}, {"2026-1x-24", 0},
        {"", 0},                  {nullptr, 0},       {"26-12-24", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DateStrToInt(c.text), c.expected) << (c.text ? c.text : "(null)");
    }
}

TEST(DateTest, CurrentDateAndOffsets) {
    int today = GetCurrentDateInt();
    EXPECT_GT(today, 20000101);
    EXPECT_EQ(DateStrToInt(GetDateStr("%Y-%m-%d").c_str()), today);
    EXPECT_NE(GetCurrentDateInt(1), today);
    EXPECT_TRUE(CurrentDateInRange(today, today));
    EXPECT_TRUE(DateInRange(time(nullptr), today, today));
}

TEST(ClockTest, ClocksAgree) {
    long long ms = GetTimeMS();
    long long us = GetTime();
    EXPECT_NEAR((double)us / 1000.0, (double)ms, 1000.0);
    EXPECT_GE(GetTimeMicros(), us);
}

TEST(TimeTextTest, SecondsToTimeTable) {
    struct Case {
        int seconds;
        const char* expected;
    } cases[] = {
        {0, "00:00"},          {59, "00:59"},           {3600, "60:00"},
        {3661, "01:01:01"},    {86400, "24:00:00"},     {90061, "1 day, 01:01:01"},
        {2 * 86400 + 5, "2 days, 00:05"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(secondsToTime(c.seconds), c.expected) << c.seconds;
    }
}

TEST(TimeTextTest, LongFormatIsNotCut) {
    std::string format(600, 'x');
    format += "%Y";
    std::string text = GetTimeStr(format);
    EXPECT_EQ(text.size(), 604u);
    EXPECT_EQ(GetTimeStr(""), "");
}

TEST(StringTest, PredicatesAndCase) {
    EXPECT_TRUE(startsWith("LogLevel_Sequence", "LogLevel_"));
    EXPECT_FALSE(startsWith("Log", "LogLevel_"));
    EXPECT_TRUE(endsWith("seq.tavo", ".tavo"));
    EXPECT_FALSE(endsWith("tavo", "seq.tavo"));
    EXPECT_TRUE(contains("abcdef", "cd"));
    EXPECT_EQ(toUpperCopy("aBc1"), "ABC1");
    EXPECT_EQ(toLowerCopy("aBc1"), "abc1");
    std::string s = " \t text \n";
    TrimWhiteSpace(s);
    EXPECT_EQ(s, "text");
    s = "   ";
    TrimWhiteSpace(s);
    EXPECT_EQ(s, "");
}

TEST(StringTest, ReplaceTable) {
    struct Case {
        std::string text, from, to, expected;
    } cases[] = {
        {"a.b.c", ".", "::", "a::b::c"},
        {"aaa", "a", "aa", "aaaaaa"}, // the replacement is not searched again
        {"abc", "", "x", "abc"},      // empty pattern changes nothing
        {"abc", "z", "x", "abc"},
    };
    for (auto c : cases) {
        replaceAll(c.text, c.from, c.to);
        EXPECT_EQ(c.text, c.expected);
    }
    std::string s = "/home/kiv/media/x";
    EXPECT_TRUE(replaceStart(s, "/home/kiv/media", "M"));
    EXPECT_EQ(s, "M/x");
    EXPECT_FALSE(replaceStart(s, "/home", "Q"));
    EXPECT_TRUE(replaceEnd(s, "/x", ".y"));
    EXPECT_EQ(s, "M.y");
    EXPECT_FALSE(replaceEnd(s, "/x", ""));
}

TEST(StringTest, TailAndExtension) {
    EXPECT_EQ(tail("abcdef", 2), "ef");
    EXPECT_EQ(tail("ab", 5), "ab");
    EXPECT_EQ(tail("ab", -1), "");
    EXPECT_EQ(GetFileExtension("show.tavo"), "tavo");
    EXPECT_EQ(GetFileExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(GetFileExtension("noext"), "");
}

TEST(StringTest, SplitTable) {
    using V = std::vector<std::string>;
    struct Case {
        std::string text;
        V plain, quoted;
    } cases[] = {
        {"a,b,c", V{"a", "b", "c"}, V{"a", "b", "c"}},
        {"a,b,", V{"a", "b"}, V{"a", "b", ""}}, // stream semantics: no empty last piece
        {"a,,b", V{"a", "", "b"}, V{"a", "", "b"}},
        {"a,'b,c',\"d\"", V{"a", "'b", "c'", "\"d\""}, V{"a", "b,c", "d"}},
        {"'',x", V{"''", "x"}, V{"''", "x"}}, // too short to lose its quotes
        {"'a\",b", V{"'a\"", "b"}, V{"'a\"", "b"}}, // a double quote ends a single-quoted run
    };
    for (const auto& c : cases) {
        EXPECT_EQ(split(c.text, ','), c.plain) << c.text;
        EXPECT_EQ(splitWithQuotes(c.text, ','), c.quoted) << c.text;
    }
}

TEST(StringTest, XmlTagBitsAndBase64) {
    EXPECT_EQ(getSimpleXMLTag("<a><b>text</b></a>", "b"), "text");
    EXPECT_EQ(getSimpleXMLTag("<a><b>text</a>", "b"), "");
    EXPECT_EQ(getSimpleXMLTag("<a></a>", "b"), "");

    EXPECT_EQ(ReverseBitsInByte(0x01), 0x80);
    EXPECT_EQ(ReverseBitsInByte(0xF0), 0x0F);
    EXPECT_EQ(ReverseBitsInByte(0x2C), 0x34);

    struct Case {
        std::string raw, encoded;
    } cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
                 {std::string("\xfb\xff\x00", 3), "+/8A"}};
    for (const auto& c : cases) {
        EXPECT_EQ(base64Encode((const uint8_t*)c.raw.data(), c.raw.size()), c.encoded);
        auto decoded = base64Decode(c.encoded);
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), c.raw);
    }
    auto stopped = base64Decode("Zm9v!Zm9v");
    EXPECT_EQ(std::string(stopped.begin(), stopped.end()), "foo");
}

TEST(KeywordTest, ReplaceKeywordsTable) {
    std::map<std::string, std::string> keywords{{"NAME", "Show"}, {"N", "3"}};
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"Playing %NAME% #%N%", "Playing Show #3"},
        {"%UNKNOWN% stays", "%UNKNOWN% stays"},
        {"v%KIV_VERSION%", std::string("v") + getKIVVersionTriplet()},
        {"%KIV_SOURCE_VERSION%/%KIV_BRANCH%", std::string(getKIVVersion()) + "/" + getKIVBranch()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplaceKeywords(c.text, keywords), c.expected);
    }
    std::string date = ReplaceKeywords("%DATE%", keywords);
    EXPECT_EQ(DateStrToInt(date.c_str()), GetCurrentDateInt());
    std::string t = ReplaceKeywords("%TIME%", keywords);
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[2], ':');
    EXPECT_EQ(t[5], ':');
}

TEST(FileTest, ContentsTouchAndDirectories) {
    TempDir dir;
    std::string path = dir.file("a.txt");
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(GetFileContents(path), "");
    EXPECT_TRUE(PutFileContents(path, "longer text"));
    EXPECT_TRUE(PutFileContents(path, "short")); // replaces, leaving no tail of the old text
    EXPECT_EQ(GetFileContents(path), "short");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);

    EXPECT_TRUE(Touch(path));
    EXPECT_EQ(GetFileContents(path), "short");
    EXPECT_TRUE(Touch(dir.file("new")));
    EXPECT_TRUE(FileExists(dir.file("new")));

    EXPECT_TRUE(DirectoryExists(dir.path));
    EXPECT_FALSE(DirectoryExists(path));
    EXPECT_FALSE(PutFileContents(dir.file("missing/b.txt"), "x"));
    EXPECT_FALSE(Touch(dir.file("missing/b.txt")));
}

TEST(JsonTest, LoadAndSave) {
    TempDir dir;
    Json::Value v;
    EXPECT_TRUE(LoadJsonFromString("{\"a\": 1, // comment\n \"b\": [1,2]}", v));
    EXPECT_EQ(v["a"].asInt(), 1);
    EXPECT_FALSE(LoadJsonFromString("{\"a\": ", v));
    EXPECT_TRUE(v.isNull());
    EXPECT_TRUE(LoadJsonFromString("", v) == false);

    Json::Value obj;
    obj["x"] = "y";
    EXPECT_EQ(SaveJsonToString(obj), "{\"x\":\"y\"}");
    EXPECT_NE(SaveJsonToString(obj, "  ").find('\n'), std::string::npos);

    std::string path = dir.file("v.json");
    EXPECT_FALSE(LoadJsonFromFile(path, v));
    EXPECT_TRUE(SaveJsonToFile(obj, path));
    EXPECT_EQ(LoadJsonFromFile(path), obj);
    EXPECT_FALSE(SaveJsonToFile(obj, dir.file("no/such.json")));
}

TEST(JsonTest, MergeJsonValues) {
    Json::Value into = LoadJsonFromString(R"({"a":1,"o":{"x":1,"y":2},"arr":[1,2],"s":"keep"})");
    Json::Value from = LoadJsonFromString(R"({"a":2,"o":{"y":3,"z":4},"arr":[9],"n":{"k":true}})");
    MergeJsonValues(into, from);
    EXPECT_EQ(into, LoadJsonFromString(
                        R"({"a":2,"o":{"x":1,"y":3,"z":4},"arr":[9],"s":"keep","n":{"k":true}})"));

    // Non-objects never throw out of the merge.
    Json::Value array(Json::arrayValue);
    MergeJsonValues(into, array);
    EXPECT_TRUE(into.isObject());
    Json::Value number = 5;
    MergeJsonValues(number, from);
    EXPECT_EQ(number["a"].asInt(), 2);
}

TEST(HostFileTest, PrefersDashThenUnderscore) {
    TempDir dir;
    std::string plain = dir.file("seq.tavo");
    writeFile(plain, "");
    std::string name = plain;
    EXPECT_FALSE(CheckForHostSpecificFile("show1", name));
    EXPECT_EQ(name, plain);

    writeFile(dir.file("seq_show1.tavo"), "");
    EXPECT_TRUE(CheckForHostSpecificFile("show1", name));
    EXPECT_EQ(name, dir.file("seq_show1.tavo"));

    writeFile(dir.file("seq-show1.tavo"), "");
    name = plain;
    EXPECT_TRUE(CheckForHostSpecificFile("show1", name));
    EXPECT_EQ(name, dir.file("seq-show1.tavo"));

    // Three-letter extensions too; no extension or an empty host name changes nothing.
    writeFile(dir.file("song-show1.mp3"), "");
    name = dir.file("song.mp3");
    EXPECT_TRUE(CheckForHostSpecificFile("show1", name));
    writeFile(dir.file("noext-show1"), "");
    name = dir.file("noext");
    EXPECT_FALSE(CheckForHostSpecificFile("show1", name));
    EXPECT_EQ(name, dir.file("noext"));
    name = plain;
    EXPECT_FALSE(CheckForHostSpecificFile("", name));
}

TEST(HostFileTest, CStringFormRespectsBuffer) {
    TempDir dir;
    writeFile(dir.file("seq-show1.tavo"), "");
    std::string plain = dir.file("seq.tavo");

    char big[2048];
    snprintf(big, sizeof(big), "%s", plain.c_str());
    EXPECT_TRUE(CheckForHostSpecificFile("show1", big, sizeof(big)));
    EXPECT_EQ(std::string(big), dir.file("seq-show1.tavo"));

    // The longer name does not fit: the buffer keeps the original.
    std::vector<char> tight(plain.size() + 3);
    memcpy(tight.data(), plain.c_str(), plain.size() + 1);
    EXPECT_FALSE(CheckForHostSpecificFile("show1", tight.data(), tight.size()));
    EXPECT_EQ(std::string(tight.data()), plain);
}

TEST(NetworkTest, LoopbackInterface) {
    char ip[16], mask[16], gw[16];
    EXPECT_EQ(GetInterfaceAddress("lo", ip, mask, gw), 0);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_STREQ(mask, "255.0.0.0");
    EXPECT_STREQ(gw, "");
    EXPECT_EQ(FindInterfaceForIP("127.0.0.1"), "lo");
    EXPECT_EQ(FindInterfaceForIP("not an address"), "");

    // Missing or oversized names fall back to the loopback answer; null outputs are skipped.
    EXPECT_EQ(GetInterfaceAddress("nosuchif0", ip, mask, nullptr), 0);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_STREQ(mask, "255.255.255.255");
    EXPECT_EQ(GetInterfaceAddress("an-interface-name-far-too-long", ip, nullptr, gw), 0);
    EXPECT_STREQ(ip, "127.0.0.1");
}

TEST(ShutdownTest, HookIsCalledWithRestartFlag) {
    ShutdownKIVD(true); // nothing registered: no effect
    int calls = 0;
    bool last = false;
    RegisterShutdownHandler([&](bool restart) {
        calls++;
        last = restart;
    });
    ShutdownKIVD(true);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(last);
    ShutdownKIVD(false);
    EXPECT_FALSE(last);
    RegisterShutdownHandler(nullptr);
    ShutdownKIVD(true);
    EXPECT_EQ(calls, 2);
}

TEST(HexDumpTest, Format) {
    TempDir dir;
    std::string logPath = dir.file("log");
    SetLogFile(logPath.c_str(), false);
    std::string data = std::string("AB%\\ \x01", 6) + "xyz";
    HexDump("pkt", data.data(), (int)data.size(), kivlog::General, 8);
    HexDump("", data.data(), 2, kivlog::General, 0);
    SetLogFile("", true);

    std::vector<std::string> lines;
    std::istringstream in(GetFileContents(logPath));
    for (std::string l; std::getline(in, l);) {
        // Keep the message after the "file:line: " header.
        size_t pos = l.find(".cpp:");
        pos = l.find(": ", pos);
        lines.push_back(l.substr(pos + 2));
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "pkt: (9 bytes)");
    EXPECT_EQ(lines[1], "000000: 41 42 25 5c 20 01 78 79    AB.. .xy");
    // A short line is padded by three blanks per missing byte, then the usual three.
    EXPECT_EQ(lines[2], "000008: 7a " + std::string(7 * 3 + 3, ' ') + "z");
    EXPECT_EQ(lines[3], "000000: 41 42 " + std::string(14 * 3 + 3, ' ') + "AB");
}

} // namespace
