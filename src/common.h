#pragma once

// Free helper functions shared by every program: clocks, dates, text, files, JSON,
// blocking HTTP, keyword substitution, host-specific files, interfaces and the
// shutdown hook. All of them may be called from any thread; none throws.

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <json/json.h>

class KIVLoggerInstance;

// ---- Clocks (wall clock, gettimeofday) -------------------------------------------------
long long GetTime();       // microseconds since the epoch
long long GetTimeMicros(); // the same
long long GetTimeMS();     // milliseconds since the epoch

// ---- Dates: integers YYYYMMDD (schedules may also use MMDD and DD) ---------------------
int GetCurrentDateInt(int offsetDays = 0);
// "YYYY-MM-DD" exactly (10 characters, digits and the two dashes); 0 otherwise.
int DateStrToInt(const char* text);
bool DateInRange(int date, int start, int end);
bool DateInRange(time_t when, int start, int end);
bool CurrentDateInRange(int start, int end);

// ---- Text of times ----------------------------------------------------------------------
std::string GetTimeStr(std::string format); // now, local time, strftime format
std::string GetDateStr(std::string format);
// "MM:SS", "HH:MM:SS" above an hour, "N day(s), HH:MM:SS" above a day.
std::string secondsToTime(int seconds);

// ---- Strings ----------------------------------------------------------------------------
bool startsWith(const std::string& text, const std::string& prefix);
bool endsWith(const std::string& text, const std::string& suffix);
bool contains(const std::string& text, const std::string& part);
void toUpper(std::string& text);
void toLower(std::string& text);
std::string toUpperCopy(const std::string& text);
std::string toLowerCopy(const std::string& text);
void TrimWhiteSpace(std::string& text);
// Every occurrence of `from` (an empty `from` changes nothing).
void replaceAll(std::string& text, const std::string& from, const std::string& to);
void ReplaceString(std::string& text, const std::string& from, const std::string& to);
bool replaceStart(std::string& text, const std::string& prefix, const std::string& to);
bool replaceEnd(std::string& text, const std::string& suffix, const std::string& to);
std::string tail(const std::string& text, int n);
std::string GetFileExtension(const std::string& name);
std::vector<std::string> split(const std::string& text, char delimiter);
// Quotes (either kind) protect delimiters; a piece wrapped in one kind of quote loses them.
std::vector<std::string> splitWithQuotes(const std::string& text, char delimiter);
std::string getSimpleXMLTag(const std::string& xml, const std::string& tag);
uint8_t ReverseBitsInByte(uint8_t value);
std::string base64Encode(const uint8_t* data, unsigned length);
std::vector<uint8_t> base64Decode(const std::string& text);

// ---- Files ------------------------------------------------------------------------------
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
bool Touch(const std::string& path);
std::string GetFileContents(const std::string& path); // "" when unreadable
// Replaces the file's content under an exclusive flock; false unless every byte was written.
bool PutFileContents(const std::string& path, const std::string& text);
// write() until every byte is out (retrying interrupted calls); false on any error.
bool WriteFully(int fd, const void* data, size_t length);
void SetFilePerms(const std::string& path, bool isDirectory = false);
void CloseOpenFiles();

// ---- JSON -------------------------------------------------------------------------------
bool LoadJsonFromString(const std::string& text, Json::Value& out);
Json::Value LoadJsonFromString(const std::string& text);
bool LoadJsonFromFile(const std::string& path, Json::Value& out);
Json::Value LoadJsonFromFile(const std::string& path);
// An empty indentation writes one line.
bool SaveJsonToString(const Json::Value& value, std::string& out, const std::string& indentation = "");
std::string SaveJsonToString(const Json::Value& value, const std::string& indentation = "");
bool SaveJsonToFile(const Json::Value& value, const std::string& path, const std::string& indentation = "\t");
// Objects merge member by member, recursively; anything else in `from` replaces.
void MergeJsonValues(Json::Value& into, const Json::Value& from);

// ---- Blocking HTTP (libcurl); true on a completed transfer, the body goes to response ----
bool urlGet(const std::string& url, std::string& response);
bool urlPost(const std::string& url, const std::string& data, std::string& response);
bool urlPut(const std::string& url, const std::string& data, std::string& response);
bool urlDelete(const std::string& url, const std::string& data, std::string& response);
bool urlDelete(const std::string& url, std::string& response);
bool urlHelper(const std::string& method, const std::string& url, const std::string& data, std::string& response,
               const std::vector<std::string>& extraHeaders = {}, int timeoutSeconds = 30);

// ---- Other ------------------------------------------------------------------------------
// "%key%" for every keyword, then %TIME%, %DATE%, %KIV_VERSION%, %KIV_SOURCE_VERSION%, %KIV_BRANCH%.
std::string ReplaceKeywords(std::string text, std::map<std::string, std::string>& keywords);
// Looks for base-host.ext, then base_host.ext; replaces `filename` with the first found.
bool CheckForHostSpecificFile(const std::string& hostname, std::string& filename);
// C-string form: the result is copied back only when it fits `filenameSize` bytes with its NUL.
bool CheckForHostSpecificFile(const char* hostname, char* filename, size_t filenameSize);
// Each non-null output must hold at least 16 bytes (dotted IPv4 text and its NUL). Returns 0.
int GetInterfaceAddress(const char* interfaceName, char* ip, char* netmask, char* gateway);
// The interface holding that IPv4 address, "" if none.
std::string FindInterfaceForIP(const char* ip);
void RegisterShutdownHandler(std::function<void(bool)> handler);
// Calls the registered hook (the daemon's) with `restart`; nothing happens without one.
void ShutdownKIVD(bool restart);
void HexDump(const char* title, const void* data, int length, KIVLoggerInstance& logger, int bytesPerLine = 16);
