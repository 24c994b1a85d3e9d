#include "playlist/Playlist.h"

#include <sys/stat.h>

#include "WarningHolder.h"
#include "common.h"
#include "log.h"
#include "playlist/PlaylistEntryFactory.h"
#include "settings.h"

bool Playlist::Load(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        LogErr(kivlog::Playlist, "Invalid playlist name '%s'\n", name.c_str());
        WarningHolder::AddWarningTimeout("Invalid playlist name '" + name + "'", 60);
        return false;
    }
    std::string path = getKIVMediaDir("/playlists/") + name + ".json";
    struct stat st;
    if (stat(path.c_str(), &st) != 0 && stat(getKIVMediaDir("/sequences/" + name).c_str(), &st) == 0 &&
        S_ISREG(st.st_mode)) {
        // A sequence file played on its own (a schedule entry with "sequence": 1): a
        // one-entry playlist under the sequence's name, so status, stops and repeat behave
        // as for any playlist.
        Json::Value root(Json::objectValue);
        Json::Value entry(Json::objectValue);
        entry["type"] = "sequence";
        entry["sequenceName"] = name;
        root["name"] = name;
        root["repeat"] = 0;
        root["mainPlaylist"].append(entry);
        if (!LoadJson(name, root)) {
            return false;
        }
        m_fileTime = st.st_mtime;
        return true;
    }
    if (stat(path.c_str(), &st) != 0) {
        LogErr(kivlog::Playlist, "Playlist %s does not exist (%s)\n", name.c_str(), path.c_str());
        WarningHolder::AddWarningTimeout("Playlist " + name + " does not exist", 60);
        return false;
    }
    Json::Value root;
    if (!LoadJsonFromFile(path, root) || !root.isObject()) {
        LogErr(kivlog::Playlist, "Playlist %s (%s) is not a valid playlist file\n", name.c_str(), path.c_str());
        WarningHolder::AddWarningTimeout("Playlist " + name + " is not a valid playlist file", 60);
        return false;
    }
    if (!LoadJson(name, root)) {
        WarningHolder::AddWarningTimeout("Playlist " + name + " is not a valid playlist file", 60);
        return false;
    }
    m_fileTime = st.st_mtime;
    return true;
}

bool Playlist::loadSection(const Json::Value& root, const char* key,
                           std::vector<std::unique_ptr<PlaylistEntryBase>>& out) {
    out.clear();
    const Json::Value& list = root[key];
    if (list.isNull()) {
        return true;
    }
    if (!list.isArray()) {
        LogErr(kivlog::Playlist, "Playlist %s: \"%s\" is not a list\n", m_name.c_str(), key);
        return false;
    }
    for (Json::ArrayIndex i = 0; i < list.size(); i++) {
        auto entry = CreatePlaylistEntry(list[i]);
        if (!entry) {
            // One bad entry does not cost the show the rest of the playlist.
            LogErr(kivlog::Playlist, "Playlist %s: entry %u of \"%s\" skipped\n", m_name.c_str(), i + 1, key);
            WarningHolder::AddWarningTimeout("Playlist " + m_name + ": entry " + std::to_string(i + 1) + " of " +
                                                 key + " cannot be played and was skipped",
                                             60);
            continue;
        }
        out.push_back(std::move(entry));
    }
    return true;
}

bool Playlist::LoadJson(const std::string& name, const Json::Value& root) {
    m_name = name;
    m_done = true;
    if (!root.isObject()) {
        return false;
    }
    m_config = root;
    const Json::Value& r = root["repeat"];
    m_repeat = r.isBool() ? (r.asBool() ? 1 : 0) : (r.isNumeric() ? (int)r.asDouble() : 0);
    return loadSection(root, "leadIn", m_leadIn) && loadSection(root, "mainPlaylist", m_main) &&
           loadSection(root, "leadOut", m_leadOut);
}

std::vector<std::unique_ptr<PlaylistEntryBase>>& Playlist::section(int s) {
    return s == LEAD_IN ? m_leadIn : s == MAIN ? m_main : m_leadOut;
}

int Playlist::GetPosition() const {
    if (m_done) {
        return 0;
    }
    int pos = (int)m_index + 1;
    if (m_section >= MAIN) {
        pos += (int)m_leadIn.size();
    }
    if (m_section >= LEAD_OUT) {
        pos += (int)m_main.size();
    }
    return pos;
}

PlaylistEntryBase* Playlist::GetCurrentEntry() {
    if (m_done) {
        return nullptr;
    }
    auto& sec = section(m_section);
    return m_index < sec.size() ? sec[m_index].get() : nullptr;
}

bool Playlist::setPosition(int position) {
    int p = position - 1;
    for (int s = LEAD_IN; s <= LEAD_OUT; s++) {
        int n = (int)section(s).size();
        if (p < n) {
            m_section = s;
            m_index = (size_t)p;
            return true;
        }
        p -= n;
    }
    return false;
}

bool Playlist::Start(int position, int repeat) {
    if (repeat >= 0) {
        m_repeat = repeat;
    }
    m_stopAfterEntry = m_stopAfterLoop = m_paused = false;
    m_failedInRow = 0;
    if (GetSize() == 0) {
        LogWarn(kivlog::Playlist, "Playlist %s has nothing to play\n", m_name.c_str());
        m_done = true;
        return false;
    }
    if (position < 1 || position > GetSize()) {
        position = 1;
    }
    setPosition(position);
    m_done = false;
    LogInfo(kivlog::Playlist, "Starting playlist %s at position %d\n", m_name.c_str(), position);
    startCurrent();
    Process();
    return true;
}

void Playlist::startCurrent() {
    PlaylistEntryBase* e = GetCurrentEntry();
    if (!e) {
        return;
    }
    LogDebug(kivlog::Playlist, "Playlist %s: starting entry %d (%s)\n", m_name.c_str(), GetPosition(),
             e->GetType().c_str());
    // Entries are reused on every loop: Init puts them back to their idle state.
    e->Init(e->GetConfig());
    if (e->StartPlaying()) {
        m_failedInRow = 0;
    } else {
        m_failedInRow++;
    }
}

void Playlist::goToSection(int s) {
    m_section = s;
    m_index = 0;
}

void Playlist::advance() {
    if (m_section == LEAD_IN) {
        if (!m_stopAfterEntry && m_index + 1 < m_leadIn.size()) {
            m_index++;
            return;
        }
        goToSection(m_stopAfterEntry ? LEAD_OUT : MAIN);
    } else if (m_section == MAIN) {
        if (m_stopAfterEntry) {
            goToSection(LEAD_OUT);
        } else if (m_index + 1 < m_main.size()) {
            m_index++;
            return;
        } else if (m_repeat && !m_stopAfterLoop) {
            m_index = 0;
            return;
        } else {
            goToSection(LEAD_OUT);
        }
    } else {
        m_index++;
    }
    // Skip empty sections; past the lead-out the playlist is done.
    while (m_section <= LEAD_OUT && m_index >= section(m_section).size()) {
        if (m_section == LEAD_OUT) {
            m_done = true;
            return;
        }
        goToSection(m_section + 1);
    }
}

void Playlist::Process() {
    // Bounded: each round either waits for a playing entry or moves past a finished one.
    for (int rounds = 0; rounds <= GetSize() + 1 && !m_done; rounds++) {
        PlaylistEntryBase* e = GetCurrentEntry();
        if (!e) {
            m_done = true;
            break;
        }
        e->Process();
        if (!e->IsFinished()) {
            return;
        }
        if (m_failedInRow >= GetSize()) {
            // Every entry failed in turn: repeating would spin without playing anything.
            LogErr(kivlog::Playlist, "Playlist %s: no entry could be played, stopping\n", m_name.c_str());
            WarningHolder::AddWarningTimeout("Playlist " + m_name + " stopped: none of its entries could be played",
                                             60);
            m_done = true;
            break;
        }
        advance();
        if (!m_done) {
            startCurrent();
        }
    }
    if (m_done) {
        LogInfo(kivlog::Playlist, "Playlist %s finished\n", m_name.c_str());
    }
}

void Playlist::StopGracefully() {
    m_stopAfterEntry = true;
}

void Playlist::StopAfterLoop() {
    m_stopAfterLoop = true;
}

void Playlist::StopNow() {
    if (PlaylistEntryBase* e = GetCurrentEntry()) {
        e->Stop();
    }
    m_done = true;
}

bool Playlist::NextItem() {
    if (m_done) {
        return false;
    }
    PlaylistEntryBase* e = GetCurrentEntry();
    int next = GetPosition() + 1;
    if (m_section == MAIN && m_index + 1 == m_main.size() && m_repeat && !m_stopAfterLoop && !m_stopAfterEntry) {
        next = (int)m_leadIn.size() + 1; // round again
    }
    if (e) {
        e->Stop();
    }
    if (next > GetSize()) {
        m_done = true;
        return true;
    }
    setPosition(next);
    startCurrent();
    return true;
}

bool Playlist::PrevItem() {
    if (m_done) {
        return false;
    }
    int prev = std::max(1, GetPosition() - 1);
    if (PlaylistEntryBase* e = GetCurrentEntry()) {
        e->Stop();
    }
    setPosition(prev);
    startCurrent();
    return true;
}

void Playlist::Pause() {
    if (PlaylistEntryBase* e = GetCurrentEntry()) {
        e->Pause();
        m_paused = true;
    }
}

void Playlist::Resume() {
    if (PlaylistEntryBase* e = GetCurrentEntry()) {
        e->Resume();
    }
    m_paused = false;
}

Json::Value Playlist::GetInfo() {
    Json::Value info;
    info["name"] = m_name;
    info["size"] = GetSize();
    info["repeat"] = m_repeat;
    info["position"] = GetPosition();
    if (PlaylistEntryBase* e = GetCurrentEntry()) {
        info["currentEntry"] = e->GetInfo();
    } else {
        info["currentEntry"] = Json::objectValue;
    }
    return info;
}
