// Runs the real build/src/tavoutils.

#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/wait.h>

#include <cstdio>

#include "TAVOTestFiles.h"

using namespace tavotest;

namespace {

struct Result {
    int status = -1;
    std::string out;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

// Bounded by timeout(1) so a hang fails the test instead of stalling it.
Result run(const std::vector<std::string>& args) {
    std::string cmd = "timeout 60 " + quote(std::string(KIV_BUILD_DIR) + "/src/tavoutils");
    for (const auto& a : args) {
        cmd += " " + quote(a);
    }
    cmd += " 2>/dev/null";
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        return r;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) {
        r.out.append(buf, n);
    }
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class Tavoutils : public ::testing::Test {
protected:
    static constexpr uint32_t CHANNELS = 600;
    void SetUp() override {
        frames = makeFrames(CHANNELS, 45);
        input = dir.file("in.tavo");
        WriteSpec spec;
        spec.headers = {textHeader("mf", "song.mp3")};
        ASSERT_TRUE(writeSequence(input, frames, CHANNELS, spec));
    }
    Frames read(const std::string& path, uint32_t channels = CHANNELS) {
        std::unique_ptr<TAVOFile> f(TAVOFile::openTAVOFile(path));
        EXPECT_TRUE(f) << path;
        return f ? readSequence(*f, channels) : Frames();
    }
    TempDir dir;
    Frames frames;
    std::string input;
};

TEST_F(Tavoutils, ConvertsBetweenEveryFormatAndBack) {
    const std::vector<std::vector<std::string>> targets = {
        {"-f", "1"}, {"-f", "2", "-c", "none"}, {"-f", "2", "-c", "zstd"}, {"-f", "2", "-c", "zlib"},
        {"-f", "2.1", "-c", "zstd", "-l", "5"}, {"-f", "2.2", "-c", "zlib", "-l", "9"}, {"-f", "2", "-c", "zstd", "-l", "30"},
    };
    for (const auto& t : targets) {
        std::string name;
        for (const auto& a : t) {
            name += a;
        }
        std::string mid = dir.file("mid" + name + ".tavo");
        auto args = t;
        args.insert(args.end(), {"-o", mid, input});
        ASSERT_EQ(run(args).status, 0) << name;
        EXPECT_EQ(read(mid), frames) << name;
        // And on to every other format, each giving the same channel data.
        for (const auto& back : targets) {
            std::string out = dir.file("back.tavo");
            auto args2 = back;
            args2.insert(args2.end(), {"-o", out, mid});
            ASSERT_EQ(run(args2).status, 0) << name;
            ASSERT_EQ(read(out), frames) << name;
        }
        std::unique_ptr<TAVOFile> f(TAVOFile::openTAVOFile(mid));
        ASSERT_TRUE(f);
        EXPECT_EQ(f->getMediaFilename(), "song.mp3");
    }
}

TEST_F(Tavoutils, ExitStatuses) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* output;  // expected in standard output, or null
    };
    const std::string out = dir.file("o.tavo");
    const Case cases[] = {
        {{"-h"}, 0, "Usage: "},
        {{"--help"}, 0, "  Options:"},
        {{"-V"}, 0, nullptr},
        {{"-x", input}, 1, "Usage: "},
        {{"-c", "lz4", input}, 1, "Unknown compression type: lz4\n"},
        {{dir.file("missing.tavo")}, 1, nullptr},
        {{dir.path}, 1, nullptr},
        {{"-o", dir.file("no/such/dir.tavo"), input}, 1, "Failed to create TAVO file (returned nullptr)!"},
        {{"-f", "3", "-o", out, input}, 1, "Failed to create TAVO file (returned nullptr)!"},
        {{"-r", "5-1", "-o", out, input}, 1, "Channel range 5-1"},
        {{"-m", input, "-r", "8216000+10000", "-o", out, input}, 1, "Channel range 8216000+10000"},
        {{input}, 0, "No output file defined!\nUse -v to enable verbose output printing for file information.\n"},
        {{"-j", input}, 0, "{\"Name\": \"in.tavo\""},
    };
    for (const auto& c : cases) {
        Result r = run(c.args);
        std::string what = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.out;
        if (c.output) {
            EXPECT_NE(r.out.find(c.output), std::string::npos) << what << "\n" << r.out;
        }
    }
}

TEST_F(Tavoutils, RefusedOutputLeavesNoFile) {
    // 256 sparse ranges overflow the 8-bit range count: nothing corrupt is left behind.
    std::vector<std::string> args;
    for (int i = 0; i < 256; i++) {
        args.push_back("-r");
        args.push_back(std::to_string(i * 2 + 1) + "+1");
    }
    std::string out = dir.file("refused.tavo");
    args.insert(args.end(), {"-o", out, input});
    EXPECT_EQ(run(args).status, 1);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(Tavoutils, MemoryTargetPrintsTheFileSize) {
    std::string out = dir.file("disk.tavo");
    ASSERT_EQ(run({"-c", "zstd", "-o", out, input}).status, 0);
    Result r = run({"-c", "zstd", "-o", "-memory-", input});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "size: " + std::to_string(std::filesystem::file_size(out)) + "\n");
    EXPECT_FALSE(std::filesystem::exists("-memory-"));
}

TEST_F(Tavoutils, RangesSparseAndNotSparse) {
    std::string sparse = dir.file("sparse.tavo");
    ASSERT_EQ(run({"-r", "1-100", "-o", sparse, input}).status, 0);
    std::unique_ptr<TAVOFile> f(TAVOFile::openTAVOFile(sparse));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->channelCount, 100u);
    EXPECT_EQ(dynamic_cast<V2TAVOFile&>(*f).sparseRanges, (TAVOFile::ChannelRanges{{0, 100}}));

    std::string full = dir.file("full.tavo");
    ASSERT_EQ(run({"-n", "-r", "1+100", "-o", full, input}).status, 0);
    Frames got = read(full);
    ASSERT_EQ(got.size(), frames.size());
    for (size_t i = 0; i < got.size(); i++) {
        for (uint32_t c = 0; c < CHANNELS; c++) {
            ASSERT_EQ(got[i][c], c < 100 ? frames[i][c] : 0) << i << "/" << c;
        }
    }
}

TEST_F(Tavoutils, MergeCopiesNonZeroOrEverything) {
    // b: channel 5 (index 4) is 0, channels 1-3 are 9, the rest 7.
    Frames b(frames.size(), std::vector<uint8_t>(CHANNELS, 7));
    for (auto& fr : b) {
        fr[0] = fr[1] = fr[2] = 9;
        fr[4] = 0;
    }
    std::string bPath = dir.file("b.tavo");
    WriteSpec spec;
    spec.type = TAVOFile::zstd;
    ASSERT_TRUE(writeSequence(bPath, b, CHANNELS, spec));
    std::string out = dir.file("m.tavo");

    ASSERT_EQ(run({"-m", bPath, "-o", out, input}).status, 0);
    Frames got = read(out);
    ASSERT_EQ(got.size(), frames.size());
    EXPECT_EQ(got[3][4], frames[3][4]);  // zero not copied
    EXPECT_EQ(got[3][10], 7);

    ASSERT_EQ(run({"-M", bPath, "-o", out, input}).status, 0);
    got = read(out);
    EXPECT_EQ(got[3][4], 0);
    EXPECT_EQ(got[3][10], 7);

    ASSERT_EQ(run({"-m", bPath, "-r", "1-3", "-o", out, input}).status, 0);
    got = read(out);
    EXPECT_EQ(got[3][0], 9);
    EXPECT_EQ(got[3][2], 9);
    EXPECT_EQ(got[3][10], frames[3][10]);
}

TEST_F(Tavoutils, JSONLineIsValidWithControlCharacters) {
    std::string odd = dir.file("odd\x01\x1f\"\\name.tavo");
    ASSERT_TRUE(std::filesystem::copy_file(input, odd));
    Result r = run({"-j", odd});
    ASSERT_EQ(r.status, 0);
    Json::Value v;
    Json::CharReaderBuilder b;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(b.newCharReader());
    ASSERT_TRUE(reader->parse(r.out.data(), r.out.data() + r.out.size(), &v, &errors)) << r.out << errors;
    EXPECT_EQ(v["Name"].asString(), "odd\x01\x1f\"\\name.tavo");
    EXPECT_EQ(v["variableHeaders"]["mf"].asString(), "song.mp3");
}

TEST_F(Tavoutils, UnreadableInputFrameFailsTheConversion) {
    std::vector<uint8_t> bytes = readBytes(input);
    bytes.resize(bytes.size() - 10);  // the last frame is short
    std::string cut = dir.file("cut.tavo");
    writeBytes(cut, bytes);
    std::string out = dir.file("o.tavo");
    Result r = run({"-o", out, cut});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Failed to read frame 44"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
