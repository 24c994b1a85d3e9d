#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <json/json.h>

// A temporary media directory for one test, with KIV_MEDIA_DIR pointing at it and
// KIV_PLUGIN_DIR at the test output modules; removed again by the destructor.
class TestMediaDir {
public:
    TestMediaDir() {
        char tmpl[] = "/tmp/kiv-media-XXXXXX";
        path = mkdtemp(tmpl);
        for (auto sub : {"config", "sequences", "playlists"}) {
            std::filesystem::create_directories(path + "/" + sub);
        }
        setenv("KIV_MEDIA_DIR", path.c_str(), 1);
        setenv("KIV_PLUGIN_DIR", KIV_BUILD_DIR "/tests/plugins", 1);
    }
    ~TestMediaDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        unsetenv("KIV_MEDIA_DIR");
    }

    void Write(const std::string& relative, const std::string& text) const {
        std::ofstream(path + "/" + relative) << text;
    }
    void WriteJson(const std::string& relative, const Json::Value& v) const {
        Json::StreamWriterBuilder b;
        Write(relative, Json::writeString(b, v));
    }

    std::string path;
};

// {"type": type, "enabled": 1, "startChannel": start, "channelCount": count, "name": name}
inline Json::Value OutputConfig(const std::string& type, unsigned start, unsigned count, const std::string& name) {
    Json::Value o;
    o["type"] = type;
    o["enabled"] = 1;
    o["startChannel"] = start;
    o["channelCount"] = count;
    o["name"] = name;
    return o;
}
