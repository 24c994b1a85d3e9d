#pragma once

// The daemon's whole life: start-up in dependency order, the main loop, shutdown in reverse,
// and the restart that replaces this process with a new kivd. Returns the exit status.
int RunKivd(int argc, char* argv[]);
