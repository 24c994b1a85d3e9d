// Whole-file access, permissions and JSON files.

#include "common.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log.h"

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool DirectoryExists(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (!dir) {
        return false;
    }
    closedir(dir);
    return true;
}

bool Touch(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

std::string GetFileContents(const std::string& path) {
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in) {
        return "";
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool PutFileContents(const std::string& path, const std::string& text) {
    // Not O_TRUNC: a reader holding the lock must not see the file emptied under it.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        LogErr(kivlog::General, "ERROR: Unable to open %s for writing.\n", path.c_str());
        return false;
    }
    bool ok = flock(fd, LOCK_EX) == 0 && ftruncate(fd, 0) == 0 && WriteFully(fd, text.data(), text.size());
    if (!ok) {
        LogErr(kivlog::General, "ERROR: Unable to write %s: %s\n", path.c_str(), strerror(errno));
    }
    flock(fd, LOCK_UN);
    if (close(fd) != 0) {
        ok = false;
    }
    SetFilePerms(path, false);
    return ok;
}

bool WriteFully(int fd, const void* data, size_t length) {
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += (size_t)n;
    }
    return true;
}

void SetFilePerms(const std::string& path, bool isDirectory) {
    chmod(path.c_str(), isDirectory ? 0775 : 0664);
    struct passwd pw;
    struct passwd* found = nullptr;
    char buffer[1024];
    if (getpwnam_r("kiv", &pw, buffer, sizeof(buffer), &found) == 0 && found) {
        if (chown(path.c_str(), found->pw_uid, found->pw_gid) != 0) {
            LogDebug(kivlog::General, "Unable to change owner of %s: %s\n", path.c_str(), strerror(errno));
        }
    }
}

void CloseOpenFiles() {
    // One system call where the kernel has it; the descriptor limit may be a million.
    if (close_range(3, ~0U, 0) == 0) {
        return;
    }
    struct rlimit limit;
    long maxFd = 1024;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        maxFd = (long)limit.rlim_cur;
    }
    for (long fd = 3; fd < maxFd; fd++) {
        close((int)fd);
    }
}

bool LoadJsonFromString(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::string errors;
    bool ok = false;
    try {
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        ok = reader->parse(text.data(), text.data() + text.size(), &out, &errors);
    } catch (const std::exception& e) {
        errors = e.what();
        ok = false;
    }
    if (!ok) {
        LogErr(kivlog::General, "Error parsing JSON string in LoadJsonFromString(): '%s'\n", text.c_str());
        out = Json::Value();
        return false;
    }
    LogDebug(kivlog::General, "LoadJsonFromString() loaded: '%s'\n", text.c_str());
    return true;
}

Json::Value LoadJsonFromString(const std::string& text) {
    Json::Value value;
    LoadJsonFromString(text, value);
    return value;
}

bool LoadJsonFromFile(const std::string& path, Json::Value& out) {
    if (!FileExists(path)) {
        LogErr(kivlog::General, "JSON File %s does not exist\n", path.c_str());
        out = Json::Value();
        return false;
    }
    return LoadJsonFromString(GetFileContents(path), out);
}

Json::Value LoadJsonFromFile(const std::string& path) {
    Json::Value value;
    LoadJsonFromFile(path, value);
    return value;
}

bool SaveJsonToString(const Json::Value& value, std::string& out, const std::string& indentation) {
    try {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = indentation;
        out = Json::writeString(builder, value);
        return true;
    } catch (const std::exception& e) {
        LogErr(kivlog::General, "Error converting Json::Value to std::string()\n");
        out.clear();
        return false;
    }
}

std::string SaveJsonToString(const Json::Value& value, const std::string& indentation) {
    std::string out;
    SaveJsonToString(value, out, indentation);
    return out;
}

bool SaveJsonToFile(const Json::Value& value, const std::string& path, const std::string& indentation) {
    std::string text;
    if (!SaveJsonToString(value, text, indentation)) {
        return false;
    }
    return PutFileContents(path, text);
}

void MergeJsonValues(Json::Value& into, const Json::Value& from) {
    // jsoncpp throws on member access of non-objects: only objects merge.
    if (!from.isObject()) {
        return;
    }
    if (!into.isObject()) {
        into = Json::Value(Json::objectValue);
    }
    for (const auto& name : from.getMemberNames()) {
        const Json::Value& source = from[name];
        Json::Value& target = into[name];
        if (source.isObject() && target.isObject()) {
            MergeJsonValues(target, source);
        } else {
            target = source;
        }
    }
}
