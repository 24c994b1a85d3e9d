#include <gtest/gtest.h>

#include <unistd.h>

#include "RuntimeInfo.h"
#include "common.h"

namespace {

class RuntimeInfoFile : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/runtimeinfoXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
        path = folder + "/kiv-info.json";
    }
    void TearDown() override {
        unlink(path.c_str());
        rmdir(folder.c_str());
    }
    std::string folder, path;
};

TEST_F(RuntimeInfoFile, FirstSystemWithEveryAddressJoined) {
    Json::Value systems = LoadJsonFromString(R"({"systems": [
        {"address": "10.0.0.5", "hostname": "board", "uuid": "U"},
        {"address": "192.168.1.9", "hostname": "board"}]})");
    WriteRuntimeInfoFile(systems, path);
    Json::Value info;
    ASSERT_TRUE(LoadJsonFromFile(path, info));
    EXPECT_EQ(info["addresses"].asString(), "10.0.0.5,192.168.1.9");
    EXPECT_EQ(info["hostname"].asString(), "board");
    EXPECT_FALSE(info.isMember("address"));
    // One tab per level.
    EXPECT_NE(GetFileContents(path).find("\n\t\"addresses\""), std::string::npos);
}

TEST_F(RuntimeInfoFile, NoSystemsRemovesTheFile) {
    for (const char* reply : {R"({"systems": []})", R"({})", R"({"systems": "x"})", R"({"systems": [3]})"}) {
        ASSERT_TRUE(PutFileContents(path, "{}"));
        WriteRuntimeInfoFile(LoadJsonFromString(reply), path);
        EXPECT_FALSE(FileExists(path)) << reply;
    }
}

} // namespace
