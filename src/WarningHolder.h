#pragma once

#include <list>
#include <string>

// Receives the whole current list of warnings after every change.
// Called from the notifier thread; must not block for long.
class WarningListener {
public:
    virtual ~WarningListener() = default;
    virtual void handleWarnings(const std::list<std::string>& warnings) = 0;
};

// The process-wide list of user-visible warnings, keyed by their text.
// Every operation is safe from any thread.
class WarningHolder {
public:
    static void AddWarning(const std::string& text);
    // The warning disappears after `seconds` (monotonic clock); adding it again extends it.
    static void AddWarningTimeout(const std::string& text, int seconds);
    static void RemoveWarning(const std::string& text);
    // Current warnings in the order they were first added, expired ones dropped.
    static std::list<std::string> GetWarnings();
    static void ClearWarnings();

    static void AddWarningListener(WarningListener* listener);
    static void RemoveWarningListener(WarningListener* listener);

    // The notifier thread tells listeners and rewrites the warnings file after changes
    // and when a timed warning expires.
    static void StartNotifyThread();
    static void StopNotifyThread();

    // Where the warnings file lives (a JSON array of texts); empty disables it.
    static void SetWarningsFile(const std::string& path);
    static void writeWarningsFile(const std::string& text);
    static void writeWarningsFile(const std::list<std::string>& warnings);
    static void clearWarningsFile();
};
