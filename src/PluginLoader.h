#pragma once

#include <string>
#include <vector>

// Finding and opening loadable modules (output modules now, user plugins later).
// Modules use the host program's symbols (logging, warnings, settings, the engine), so the
// host is linked with its core libraries whole and exports them.

// Directories searched, in order: each entry of the environment variable KIV_PLUGIN_DIR
// (colon-separated; lets tests and development trees point at a build), the "plugins"
// folder beside the running program (build/src/plugins in the build tree), and the
// installation's "plugins" folder (getKIVDDir).
std::vector<std::string> GetPluginSearchPath();

// A module file name must stay a plain name: letters, digits, '-', '_' and '.'.
bool IsSafeModuleName(const std::string& name);

// dlopen()s the first "<dir>/<fileName>" of the search path that exists. On success returns
// the handle and sets path; on failure returns null and sets error to a one-line reason.
void* OpenPluginModule(const std::string& fileName, std::string& path, std::string& error);

// Looks up the module's C entry point; null (with error set) when it is missing.
void* FindPluginSymbol(void* handle, const char* symbol, std::string& error);

void ClosePluginModule(void* handle);
