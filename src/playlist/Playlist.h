#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <json/json.h>

#include "playlist/PlaylistEntryBase.h"

// A loaded playlist: "playlists/NAME.json" of the media directory,
// {"name": "NAME", "repeat": 0, "leadIn": [...], "mainPlaylist": [...], "leadOut": [...]}.
// When there is no such file but "sequences/NAME" exists, the playlist is that one
// sequence, named NAME.
// Plays the lead-in once, the main list once or repeatedly, then the lead-out.
// Positions are 1-based over lead-in, main list and lead-out in that order.
// Not thread-safe: the player serialises every call.
class Playlist {
public:
    // False, with a log line and a user warning, when the file is missing or malformed.
    bool Load(const std::string& name);
    bool LoadJson(const std::string& name, const Json::Value& root);

    // Starts at position (<= 0: the first entry). repeat < 0 keeps the file's "repeat".
    // False when there is nothing to play.
    bool Start(int position, int repeat);
    // Main-loop work: drives the current entry and moves on when it has finished.
    void Process();

    // Finish the current entry, then play the lead-out.
    void StopGracefully();
    // Finish the current loop of the main list, then play the lead-out.
    void StopAfterLoop();
    // End the current entry now; no lead-out.
    void StopNow();
    bool NextItem();
    bool PrevItem();
    void Pause();
    void Resume();

    bool IsDone() const { return m_done; }
    const std::string& GetName() const { return m_name; }
    int GetSize() const { return (int)(m_leadIn.size() + m_main.size() + m_leadOut.size()); }
    int GetPosition() const;
    int GetRepeat() const { return m_repeat; }
    PlaylistEntryBase* GetCurrentEntry();
    const Json::Value& GetConfig() const { return m_config; }
    time_t GetFileTime() const { return m_fileTime; }

    Json::Value GetInfo();

private:
    enum Section { LEAD_IN = 0, MAIN = 1, LEAD_OUT = 2 };

    std::vector<std::unique_ptr<PlaylistEntryBase>>& section(int s);
    bool loadSection(const Json::Value& root, const char* key, std::vector<std::unique_ptr<PlaylistEntryBase>>& out);
    bool setPosition(int position);
    void startCurrent();
    void advance();
    void goToSection(int s);

    std::string m_name;
    Json::Value m_config;
    time_t m_fileTime = 0;
    int m_repeat = 0;
    std::vector<std::unique_ptr<PlaylistEntryBase>> m_leadIn, m_main, m_leadOut;

    int m_section = LEAD_IN;
    size_t m_index = 0;
    bool m_done = true;
    bool m_stopAfterEntry = false;
    bool m_stopAfterLoop = false;
    bool m_paused = false;
    int m_failedInRow = 0; // entries in a row that could not start
};
