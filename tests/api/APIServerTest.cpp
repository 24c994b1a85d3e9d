#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "APIServer.h"
#include "Player.h"
#include "channeloutput/TestMediaDir.h"
#include "commands/CommandManager.h"
#include "commands/VolumeCommands.h"
#include "httpserver/TestHttp.h"
#include "log.h"
#include "settings.h"

// The HTTP API over real HTTP on loopback, on its fixed port.
namespace {

Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::CharReaderBuilder b;
    std::string errs;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    r->parse(text.data(), text.data() + text.size(), &v, &errs);
    return v;
}

class APIServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        media = new TestMediaDir();
        media->Write("playlists/pauses.json", R"({"name": "pauses", "repeat": 0,
            "mainPlaylist": [{"type": "pause", "duration": 30}, {"type": "pause", "duration": 30}]})");
        CommandManager::INSTANCE.Init();
        server = new APIServer();
        ASSERT_TRUE(server->Init());
        ASSERT_EQ(server->Port(), APIServer::PORT);
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
        Player::INSTANCE.Cleanup();
        CommandManager::INSTANCE.Cleanup();
        delete media;
    }
    void TearDown() override { Player::INSTANCE.StopNow(1); }

    static testhttp::Reply Req(const std::string& method, const std::string& path, const std::string* body = nullptr) {
        return testhttp::request(method, "http://127.0.0.1:32322" + path, body, 10);
    }

    static TestMediaDir* media;
    static APIServer* server;
};
TestMediaDir* APIServerTest::media = nullptr;
APIServer* APIServerTest::server = nullptr;

TEST_F(APIServerTest, EndpointTable) {
    struct Case {
        const char* method;
        const char* path;
        const char* body;  // nullptr: none
        long status;
        const char* contentType;
        const char* contains;  // in the body
    } cases[] = {
        {"GET", "/kivd/status", nullptr, 200, "application/json", "\"kivd\":\"running\""},
        {"GET", "/kivd/version", nullptr, 200, "application/json", "\"kivdAPI\":\"v1\""},
        {"GET", "/kivd/log", nullptr, 200, "application/json", "\"HTTP\":"},
        {"GET", "/kivd/warnings", nullptr, 200, "application/json", "["},
        {"GET", "/kivd/effects", nullptr, 200, "application/json", "\"runningEffects\":[]"},
        {"GET", "/kivd/playlists", nullptr, 200, "application/json", "\"playlists\":[]"},
        {"GET", "/kivd/playlist/filetime", nullptr, 200, "application/json", "\"fileTime\":0"},
        {"GET", "/kivd/sequence", nullptr, 200, "application/json", "GET endpoint helper did not set result JSON"},
        {"GET", "/kivd/multiSyncSystems", nullptr, 400, "application/json", "MultiSync did not return any systems."},
        {"GET", "/kivd/schedule", nullptr, 400, "application/json", "scheduler is not running"},
        {"GET", "/kivd/volume?set=70&simple=true", nullptr, 200, "text/plain", "70"},
        {"GET", "/kivd/volume?set=loud", nullptr, 400, "application/json", "Invalid volume"},
        {"GET", "/kivd/volume", nullptr, 200, "application/json", "\"volume\":70"},
        {"GET", "/kivd/nothing", nullptr, 404, "application/json", "endpoint kivd/nothing does not exist"},
        {"POST", "/kivd/volume/55", "", 200, "application/json", "\"Message\":\"Volume set\""},
        {"POST", "/kivd/volume/x", "", 400, "application/json", "Invalid volume"},
        {"POST", "/kivd/playlists/pauses/start", "{}", 400, "application/json",
         "POST endpoint helper did not set result JSON"},
        {"POST", "/kivd/status", "{not json", 400, "text/plain", "Error parsing POST content"},
        {"POST", "/kivd/outputs", "[1,2]", 400, "application/json", "must be a JSON object"},
        {"POST", "/kivd/outputs", "\"enable\"", 400, "application/json", "must be a JSON object"},
        {"POST", "/kivd/outputs", "{}", 400, "application/json", "'command' field not specified"},
        {"POST", "/kivd/outputs", R"({"command": 5})", 400, "application/json", "did not set result JSON"},
        {"POST", "/kivd/outputs/remap", R"({"command": "reload"})", 400, "application/json", "not available"},
        {"POST", "/kivd/effects/x", R"({"command": "start"})", 400, "application/json", "effect engine"},
        {"POST", "/kivd/effects/x", "{}", 400, "application/json", "'command' field not specified"},
        {"POST", "/kivd/moltan/hardware", "", 400, "application/json", "not available"},
        {"POST", "/kivd/log/level/info", "", 200, "application/json", "Log Level Updated"},
        {"POST", "/kivd/log/level/nonsense:Nothing", "", 400, "application/json", "Invalid log level"},
        {"POST", "/kivd/schedule", R"({"command": "reload"})", 400, "application/json", "scheduler is not running"},
        {"POST", "/kivd/restart", "", 400, "application/json", "did not set result JSON"},
        {"POST", "/kivd/bogus", "", 404, "application/json", "endpoint kivd/bogus does not exist"},
        {"PUT", "/kivd/word", "", 404, "text/plain", "endpoint kivd/word does not exist"},
        {"PUT", "/kivd/playlists/x/settings", "", 400, "text/plain", "PUT endpoint helper did not set result JSON"},
        {"DELETE", "/kivd/e131stats", nullptr, 200, "text/plain", "Stats Cleared"},
        {"DELETE", "/kivd/other", nullptr, 404, "text/plain", "endpoint kivd/other does not exist"},
        {"GET", "/kivd/ports", nullptr, 404, "application/json", "output monitor"},
        {"GET", "/kivd/testing/x", nullptr, 404, "application/json", "channel tester"},
        {"GET", "/models", nullptr, 404, "application/json", "overlay models"},
        {"POST", "/overlays/x", "{}", 404, "application/json", "overlay models"},
        {"GET", "/gpio", nullptr, 404, "application/json", "GPIO"},
        {"GET", "/commands/Volume%20Set", nullptr, 200, "application/json", "\"name\" : \"Volume Set\""},
        {"GET", "/command/Volume%20Set/40", nullptr, 200, "text/plain", "Volume Set to 40"},
        {"GET", "/player/x", nullptr, 404, "application/json", "does not exist"},
    };
    for (const auto& c : cases) {
        std::string body = c.body ? c.body : "";
        auto r = Req(c.method, c.path, c.body ? &body : nullptr);
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.status, c.status) << r.body;
        EXPECT_EQ(r.contentType.substr(0, strlen(c.contentType)), c.contentType);
        EXPECT_NE(r.body.find(c.contains), std::string::npos) << r.body;
    }
    EXPECT_EQ(VolumeStore::INSTANCE.Get(), 40);
    EXPECT_FALSE(Player::INSTANCE.IsPlaying()) << "the logging-only playlist endpoint started nothing";
}

TEST_F(APIServerTest, StatusObjectKeys) {
    auto r = Req("GET", "/kivd/status");
    ASSERT_TRUE(r.ok);
    Json::Value s = Parse(r.body);
    for (const char* k : {"kivd", "uuid", "mode", "mode_name", "status", "bridging", "multisync", "status_name",
                          "volume", "time", "timeStrFull", "timeStr", "dateStr", "uptime", "uptimeTotalSeconds",
                          "uptimeSeconds", "uptimeDays", "uptimeMinutes", "uptimeHours", "uptimeStr", "MQTT",
                          "next_playlist", "scheduler"}) {
        EXPECT_TRUE(s.isMember(k)) << k;
    }
    EXPECT_EQ(s["status_name"].asString(), "idle");
    EXPECT_EQ(s["mode_name"].asString(), "player");
    EXPECT_GE(s["uptimeTotalSeconds"].asInt(), 0);

    SetSetting("kivMode", "remote");
    s = Parse(Req("GET", "/kivd/status").body);
    SetSetting("kivMode", "player");
    EXPECT_EQ(s["mode"].asInt(), 8);
    EXPECT_EQ(s["current_sequence"].asString(), "");
    EXPECT_EQ(s["seconds_elapsed"].asString(), "0");
    EXPECT_FALSE(s.isMember("next_playlist"));
}

TEST_F(APIServerTest, PlayerResourceStartsAndControlsPlaylists) {
    struct Case {
        const char* body;
        long status;
        const char* contains;
        int playerStatus;  // afterwards; -1: not checked
    } cases[] = {
        {"[]", 400, "must be a JSON object", Player::IDLE},
        {"{oops", 400, "not valid JSON", Player::IDLE},
        {"{}", 400, "'command' field not specified", Player::IDLE},
        {R"({"command": "next"})", 400, "No playlist is playing", Player::IDLE},
        {R"({"command": "start", "playlist": "missing"})", 404, "does not exist", Player::IDLE},
        {R"({"command": "start", "playlist": 7})", 400, "'playlist'", Player::IDLE},
        {R"({"command": "start", "playlist": "pauses", "repeat": "yes"})", 400, "'repeat'", Player::IDLE},
        {R"({"command": "start", "playlist": "pauses", "item": "2"})", 400, "'item'", Player::IDLE},
        {R"({"command": "start", "playlist": "pauses", "repeat": true, "item": 2})", 200, "started",
         Player::PLAYING},
        {R"({"command": "pause"})", 200, "pause", Player::PAUSED},
        {R"({"command": "resume"})", 200, "resume", Player::PLAYING},
        {R"({"command": "stopAfterLoop"})", 200, "stopAfterLoop", Player::STOPPING_AFTER_LOOP},
        {R"({"command": "dance"})", 400, "Unknown player command", -1},
    };
    for (const auto& c : cases) {
        std::string body = c.body;
        auto r = Req("POST", "/player", &body);
        SCOPED_TRACE(c.body);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.status, c.status) << r.body;
        EXPECT_EQ(r.contentType.substr(0, 16), "application/json");
        EXPECT_NE(r.body.find(c.contains), std::string::npos) << r.body;
        if (c.playerStatus >= 0) {
            EXPECT_EQ(Player::INSTANCE.GetStatus(), c.playerStatus);
        }
    }
    Json::Value s = Parse(Req("GET", "/player").body);
    EXPECT_EQ(s["Status"].asString(), "OK");
    EXPECT_EQ(s["playlist"]["name"].asString(), "pauses");
    EXPECT_EQ(Player::INSTANCE.GetPosition(), 2);
    EXPECT_EQ(Player::INSTANCE.GetRepeat(), 1);
}

TEST_F(APIServerTest, ConcurrentClientsAreAllServed) {
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 50; i++) {
        clients.emplace_back([&, i] {
            for (int n = 0; n < 10; n++) {
                auto r = i % 2 ? Req("GET", "/kivd/status") : Req("GET", "/command/Volume%20Increase/0");
                if (!r.ok || r.status != 200) {
                    failures++;
                }
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(APIServerTest, HostileClientsDoNotStallOthers) {
    // Stalled clients: half a request line, and headers that never end.
    testhttp::RawClient stalled(APIServer::PORT), endless(APIServer::PORT);
    ASSERT_TRUE(stalled.connected() && endless.connected());
    stalled.send("GET /kivd/sta");
    endless.send("GET /kivd/status HTTP/1.1\r\nHost: x\r\n");
    for (int i = 0; i < 200; i++) {
        endless.send("X-Filler-" + std::to_string(i) + ": " + std::string(200, 'a') + "\r\n");
    }
    std::string huge(3 * 1024 * 1024, '{');
    auto big = Req("POST", "/kivd/outputs", &huge);
    EXPECT_TRUE(!big.ok || big.status == 413) << big.status;
    auto longUrl = Req("GET", "/kivd/" + std::string(100000, 'a'));
    EXPECT_TRUE(!longUrl.ok || (longUrl.status >= 400 && longUrl.status < 500)) << longUrl.status;
    // Everyone else is still served.
    auto r = Req("GET", "/kivd/status");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 200);
}

} // namespace
