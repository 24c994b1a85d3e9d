#pragma once

// Signals that ask the daemon to do something: SIGINT and SIGTERM stop it, SIGUSR2 restarts
// it, SIGUSR1 and SIGQUIT ask for a crash report and then a clean stop. The handlers only
// set flags and write a byte into a pipe that the main loop watches, so the work happens on
// the main loop. A second SIGINT or SIGTERM while stopping ends the process at once.

// Opens the wake pipe and installs the handlers; false when either failed.
bool InstallRequestSignalHandlers();

// The pipe's read end for the main loop (-1 before installation).
int SignalWakeDescriptor();
// Empties the pipe; the main loop's handler for it. Returns false (no channel data).
bool DrainSignalWake(int fd);

// The signal that asked for a crash report (0: none), cleared by the call.
int TakeCrashReportRequest();
// The last stop, restart or report signal received (0: none), cleared by the call.
int TakeReceivedSignal();
