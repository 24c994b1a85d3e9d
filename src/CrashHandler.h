#pragma once

#include <string>
#include <vector>

// Crash reports: on a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE) the handler records a
// stack trace (a debugger's backtrace of every thread when "gdb" is installed, the process's
// own backtrace otherwise) in "/tmp/kivd_crash.log", packs it with the logs and the
// configuration into media dir + "/crashes" (at most 10 archives), uploads it when the
// setting "crashReportURL" names a service, and ends the process with status 255.
//
// Every wait is bounded: the debugger is killed after 20 s, the archiving after 60 s, and a
// crash handler that cannot finish ends the process by SIGALRM after 100 s. The handler reads
// no settings and takes no lock of the daemon while it writes the trace (the crashed thread
// may hold any of them): RefreshCrashHandlerSettings keeps copies of what it needs.

// First call: routes the fatal signals to the crash handler, saving their previous
// handlers, and lets children be reaped automatically. A second call restores the saved
// handlers of the fatal signals.
void InstallCrashHandlers();

// Copies the settings the handler needs (media directory, "ShareCrashData",
// "crashReportURL"). Called at start-up and from the main loop's housekeeping.
void RefreshCrashHandlerSettings();

// Writes a crash report for signal `signal` from ordinary code (SIGUSR1 and SIGQUIT ask for
// one from the main loop; the daemon then shuts down normally).
void WriteCrashReport(int signal);

// Of the archive names in the crashes folder, those to delete so that at most `keep`
// remain: the oldest first (the names carry the date, so name order is age order).
std::vector<std::string> CrashArchivesToRemove(std::vector<std::string> names, size_t keep);

// The trace file of the last crash.
constexpr const char* CRASH_LOG_FILE = "/tmp/kivd_crash.log";
