#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "common.h"
#include "log.h"
#include "settings.h"

namespace fs = std::filesystem;

namespace {

// A temporary media directory named by KIV_MEDIA_DIR, with the shipped defaults
// loaded fresh for every test.
class SettingsTest : public ::testing::Test {
protected:
    std::string media;
    void SetUp() override {
        char tmpl[] = "/tmp/kivsettingstestXXXXXX";
        media = mkdtemp(tmpl);
        setenv("KIV_MEDIA_DIR", media.c_str(), 1);
        settings.LoadDefaults();
        settings.mode = PLAYER_MODE;
    }
    void TearDown() override {
        unsetenv("KIV_MEDIA_DIR");
        KIVLogger::INSTANCE.SetAllLevel(LOG_LEVEL_INFO);
        settings.LoadDefaults();
        settings.mode = PLAYER_MODE;
        fs::remove_all(media);
    }
    std::string settingsPath() const { return media + "/settings"; }
    void writeSettings(const std::string& text) {
        std::ofstream out(settingsPath());
        out << text;
    }
    std::vector<std::string> filesInMedia() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(media)) {
            names.push_back(e.path().filename());
        }
        return names;
    }
};

TEST_F(SettingsTest, DefaultsFromDescription) {
    std::string path = media + "/description.json";
    PutFileContents(path, R"({"settings": {
        "flag": {"type": "checkbox"},
        "count": {"type": "number"},
        "name": {"type": "text"},
        "withDefault": {"type": "text", "default": "abc"},
        "numericDefault": {"type": "number", "default": 5}
    }})");
    settings.LoadDefaults(path);
    EXPECT_EQ(getSetting("flag", "x"), "0");
    EXPECT_EQ(getSetting("count", "x"), "0");
    EXPECT_EQ(getSetting("name", "x"), "");
    EXPECT_EQ(getSetting("withDefault"), "abc");
    EXPECT_EQ(getSettingInt("numericDefault"), 5);
    EXPECT_EQ(getSetting("absent", "fallback"), "fallback");

    // A broken description leaves no defaults, and nothing throws.
    PutFileContents(path, "{\"settings\": [1, 2");
    settings.LoadDefaults(path);
    EXPECT_EQ(getSetting("flag", "x"), "x");
}

TEST_F(SettingsTest, ShippedDescriptionHasTheDefaultsReadElsewhere) {
    Json::Value info = settings.GetSettingsInfoCopy();
    ASSERT_TRUE(info["settings"].isObject()) << getKIVDDir("/www/settings.json");
    for (const auto& name : info["settings"].getMemberNames()) {
        EXPECT_TRUE(info["settings"][name]["type"].isString()) << name;
    }
    struct Case {
        const char* name;
        const char* expected;
    } cases[] = {
        {"blankBetweenSequences", "0"}, {"bridgeDataPriority", "Prioritize Bridge"},
        {"E131BridgingInterval", "50"}, {"alwaysTransmit", "0"},
        {"mediaOffset", "0"},           {"MQTTPort", "0"},
        {"MQTTHost", ""},               {"statsPublish", ""},
        {"crashReportURL", ""},         {"ShareCrashData", "3"},
        {"AudioOutput", "0"},           {"AutoEnableOutputs", "1"},
        {"DisableFakeNetworkBridges", "0"}, {"framebufferControlSocketPath", "/dev"},
        {"localOverride", "0"},         {"DisableScheduler", "0"},
        {"ScheduleDistance", "0"},      {"MQTTFrequency", "0"},
        {"MQTTStatusFrequency", "0"},   {"resumePosition", "0"},
        {"kivMode", "player"},          {"LogLevel_Sequence", "info"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(info["settings"].isMember(c.name)) << c.name;
        EXPECT_EQ(getSetting(c.name, "<unset>"), c.expected) << c.name;
    }
}

TEST_F(SettingsTest, LoadingIsLenient) {
    writeSettings("HostName = \"show1\"\n"
                  "\n"
                  "x\n"                        // no value: reported and skipped
                  " = \"nameless\"\n"          // no name: skipped
                  "Equation = a=b\n"           // a value cannot contain "="
                  "  Spaced   =   \"  v w  \"  \n"
                  "Empty = \"\"\n"
                  "LastLine = \"no newline\"");
    EXPECT_EQ(LoadSettings("kivd"), 0);
    EXPECT_EQ(getSetting("HostName"), "show1");
    EXPECT_EQ(getSetting("Equation"), "a");
    EXPECT_EQ(getSetting("Spaced"), "v w");
    EXPECT_EQ(getSetting("Empty", "x"), "");
    EXPECT_EQ(getSetting("LastLine"), "no newline");
    EXPECT_EQ(getSetting("x", "unset"), "unset");
    EXPECT_EQ(getSetting("", "fallback"), "fallback");
    EXPECT_EQ(getSetting(nullptr, "fallback"), "fallback");
    EXPECT_EQ(getSetting("SystemUUID"), "Unknown"); // no identity script in the build tree
    // Nothing to migrate: the file is left exactly as it was.
    EXPECT_EQ(filesInMedia().size(), 1u);
}

TEST_F(SettingsTest, MissingFileKeepsDefaults) {
    EXPECT_NE(LoadSettings("kivd"), 0);
    EXPECT_EQ(getSetting("bridgeDataPriority"), "Prioritize Bridge");
    EXPECT_EQ(getKIVmode(), PLAYER_MODE);
}

TEST_F(SettingsTest, LogLevelKeysSetLoggers) {
    writeSettings("LogLevel_Sequence = \"debug\"\nLogLevel_Sync = \"\"\n");
    LoadSettings("kivd");
    EXPECT_EQ(KIVLogger::INSTANCE.Sequence.level.load(), LOG_LEVEL_DEBUG);
    EXPECT_EQ(KIVLogger::INSTANCE.Sync.level.load(), LOG_LEVEL_WARN);
    EXPECT_EQ(KIVLogger::INSTANCE.General.level.load(), LOG_LEVEL_INFO);
}

TEST_F(SettingsTest, GetSettingIntTable) {
    struct Case {
        const char* value;
        int expected;
    } cases[] = {
        {"12abc", 12}, {"42", 42}, {"-5", -5}, {" 7", 7}, {"abc", 0}, {"", 0},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases) {
        SetSetting("number", c.value);
        EXPECT_EQ(getSettingInt("number", -1), c.expected) << c.value;
    }
    EXPECT_EQ(getSettingInt("missing", 77), 77);
    EXPECT_EQ(getSettingInt(std::string("number"), 5), INT_MIN);
    EXPECT_EQ(getSetting(std::string("missing"), std::string("fb")), "fb");
    EXPECT_EQ(getSettingInt("", 3), 3);
    EXPECT_TRUE(SetSetting("asInt", 1234));
    EXPECT_EQ(getSetting("asInt"), "1234");
}

TEST_F(SettingsTest, ModeMigrationsRewriteTheFile) {
    struct Case {
        std::string before, after;
        int mode;
        std::string multiSync;
    } cases[] = {
        // master: player plus MultiSync, replacing an existing MultiSyncEnabled line
        {"HostName = \"a\"\nkivMode = \"master\"\n\nMultiSyncEnabled = \"0\"\nother line\n",
         "HostName = \"a\"\nkivMode = \"player\"\nMultiSyncEnabled = \"1\"\nother line\n", PLAYER_MODE, "1"},
        // master without a MultiSyncEnabled line: appended at the end
        {"kivMode = \"master\"\nHostName = \"a\"\n",
         "kivMode = \"player\"\nHostName = \"a\"\nMultiSyncEnabled = \"1\"\n", PLAYER_MODE, "1"},
        // bridge: the line alone is rewritten
        {"kivMode = \"bridge\"\nMultiSyncEnabled = \"0\"\n",
         "kivMode = \"player\"\nMultiSyncEnabled = \"0\"\n", PLAYER_MODE, "0"},
        // current modes need no rewrite
        {"kivMode = \"remote\"\n\n", "kivMode = \"remote\"\n\n", REMOTE_MODE, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        settings.LoadDefaults();
        writeSettings(c.before);
        chmod(settingsPath().c_str(), 0640);
        EXPECT_EQ(LoadSettings("kivd"), 0);
        EXPECT_EQ(getKIVmode(), c.mode);
        EXPECT_EQ(getSetting("kivMode"), c.mode == REMOTE_MODE ? "remote" : "player");
        EXPECT_EQ(getSetting("MultiSyncEnabled"), c.multiSync);
        EXPECT_EQ(GetFileContents(settingsPath()), c.after);
        struct stat st;
        ASSERT_EQ(stat(settingsPath().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u); // the rewritten file keeps its mode
        EXPECT_EQ(filesInMedia(), std::vector<std::string>{"settings"}); // no temporary left behind
    }
}

TEST_F(SettingsTest, FailedMigrationKeepsTheOldFile) {
    const std::string before = "kivMode = \"master\"\n";
    writeSettings(before);
    // A file size limit makes writing the new file fail part-way, even for root.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit tiny = saved;
    tiny.rlim_cur = 8;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tiny);
    EXPECT_EQ(LoadSettings("kivd"), 0);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(GetFileContents(settingsPath()), before);
    EXPECT_EQ(filesInMedia(), std::vector<std::string>{"settings"});
    EXPECT_EQ(getKIVmode(), PLAYER_MODE);

    // The updates stay pending and land at the next attempt.
    UpgradeSettings();
    EXPECT_EQ(GetFileContents(settingsPath()), "kivMode = \"player\"\nMultiSyncEnabled = \"1\"\n");
}

TEST_F(SettingsTest, MigrationFollowsALinkedSettingsFile) {
    std::string real = media + "/real-settings";
    PutFileContents(real, "kivMode = \"bridge\"\n");
    ASSERT_EQ(symlink(real.c_str(), settingsPath().c_str()), 0);
    LoadSettings("kivd");
    EXPECT_TRUE(fs::is_symlink(settingsPath()));
    EXPECT_EQ(GetFileContents(real), "kivMode = \"player\"\n");
}

TEST_F(SettingsTest, InvalidModeAtRunTimeIsRefused) {
    SetSetting("kivMode", "remote");
    EXPECT_FALSE(SetSetting("kivMode", "bogus"));
    EXPECT_EQ(getKIVmode(), REMOTE_MODE);
    EXPECT_EQ(getSetting("kivMode"), "remote");
}

TEST_F(SettingsTest, InvalidModeInTheFileEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    writeSettings("kivMode = \"bogus\"\n");
    EXPECT_EXIT(LoadSettings("kivd"), ::testing::ExitedWithCode(1), "Error parsing mode");
}

TEST_F(SettingsTest, ModeNames) {
    struct Case {
        int mode;
        const char* name;
    } cases[] = {{1, "bridge"}, {2, "player"}, {6, "master"}, {8, "remote"}, {3, "unknown"}, {0, "unknown"}};
    for (const auto& c : cases) {
        char* name = modeToString(c.mode);
        EXPECT_STREQ(name, c.name);
        free(name);
    }
    settings.mode = REMOTE_MODE;
    EXPECT_EQ(getKIVmodeStr(), "remote");
    EXPECT_EQ(getKIVmodeStr(PLAYER_MODE), "player");
    EXPECT_EQ(SaveSettings(), 0);
}

TEST_F(SettingsTest, TrimWhiteSpaceTable) {
    struct Case {
        const char* text;
        int quotes;
        const char* expected;
    } cases[] = {
        {"  a b  ", 0, "a b"}, {" \"a\" ", 0, "\"a\""}, {" \"a\" ", 1, "a"},
        {"\"\"", 1, ""},        {"", 1, ""},             {nullptr, 1, ""},
    };
    for (const auto& c : cases) {
        char* t = trimwhitespace(c.text, c.quotes);
        EXPECT_STREQ(t, c.expected);
        free(t);
    }
}

TEST_F(SettingsTest, Directories) {
    // The test program lives in <build>/tests, so the installation is the build tree.
    EXPECT_EQ(fs::canonical(getKIVDDir()), fs::canonical(KIV_BUILD_DIR));
    EXPECT_EQ(getKIVDDir("/www/settings.json"), getKIVDDir() + "/www/settings.json");
    EXPECT_EQ(getKIVMediaDir("/config"), media + "/config");

    std::string root = media + "/media_root.txt";
    PutFileContents(root, "  /mnt/media\n");
    EXPECT_EQ(ResolveMediaDir(root), "/mnt/media");
    EXPECT_EQ(GetFileContents(root), "/mnt/media");
    fs::remove(root);
    EXPECT_EQ(ResolveMediaDir(root), "/home/kiv/media");
    EXPECT_EQ(GetFileContents(root), "/home/kiv/media");
}

// Readers must see an old or a new value, never a damaged one, while a writer sets.
TEST_F(SettingsTest, ConcurrentReadersAndWriter) {
    const std::string a(64, 'a');
    const std::string b(64, 'b');
    SetSetting("shared", a);
    SetSetting("count", "1");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; i++) {
        readers.emplace_back([&] {
            while (!stop) {
                std::string v = getSetting("shared");
                int n = getSettingInt("count");
                if ((v != a && v != b) || n < 1) {
                    bad++;
                }
                getSetting(("new-key-" + std::to_string(n % 50)).c_str());
            }
        });
    }
    for (int i = 0; i < 20000; i++) {
        SetSetting("shared", i % 2 ? a : b);
        SetSetting("count", i + 1);
        SetSetting("new-key-" + std::to_string(i % 50), "v"); // grows the object while readers look
    }
    stop = true;
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(bad.load(), 0);
}

} // namespace
