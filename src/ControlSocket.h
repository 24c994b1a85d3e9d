#pragma once

// The daemon side of the local control socket. Not built yet: no socket is opened, so the
// main loop has nothing to watch.

// Opens the socket; its descriptor for the main loop, or -1 when there is none.
int Command_Initialize();
// Reads and answers every waiting request. Must not block.
void CommandProc();
void CloseCommand();
