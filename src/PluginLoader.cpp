#include "PluginLoader.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "log.h"
#include "settings.h"

namespace {

std::string programDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return "";
    }
    buf[n] = 0;
    std::string p(buf);
    auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

bool isFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::vector<std::string> GetPluginSearchPath() {
    std::vector<std::string> dirs;
    if (const char* env = getenv("KIV_PLUGIN_DIR"); env && *env) {
        std::string list(env);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) {
                end = list.size();
            }
            if (end > start) {
                dirs.push_back(list.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    std::string dir = programDir();
    if (!dir.empty()) {
        dirs.push_back(dir + "/plugins");
    }
    std::string installed = getKIVDDir("/plugins");
    if (std::find(dirs.begin(), dirs.end(), installed) == dirs.end()) {
        dirs.push_back(installed);
    }
    return dirs;
}

bool IsSafeModuleName(const std::string& name) {
    if (name.empty() || name[0] == '.') {
        return false;
    }
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                  c == '_' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

void* OpenPluginModule(const std::string& fileName, std::string& path, std::string& error) {
    if (!IsSafeModuleName(fileName)) {
        error = "invalid module name '" + fileName + "'";
        return nullptr;
    }
    for (auto& dir : GetPluginSearchPath()) {
        std::string candidate = dir + "/" + fileName;
        if (!isFile(candidate)) {
            continue;
        }
        dlerror();
        void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            error = std::string("cannot load ") + candidate + ": " + (why ? why : "unknown error");
            return nullptr;
        }
        LogDebug(kivlog::Plugin, "Loaded module %s\n", candidate.c_str());
        path = candidate;
        return handle;
    }
    error = "module " + fileName + " not found";
    return nullptr;
}

void* FindPluginSymbol(void* handle, const char* symbol, std::string& error) {
    dlerror();
    void* sym = dlsym(handle, symbol);
    if (!sym) {
        const char* why = dlerror();
        error = std::string("no ") + symbol + " entry point" + (why ? std::string(": ") + why : "");
    }
    return sym;
}

void ClosePluginModule(void* handle) {
    if (handle) {
        dlclose(handle);
    }
}
