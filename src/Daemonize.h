#pragma once

// Detaches the process from its terminal: fork (the parent exits 0), new session, fork again
// (that parent exits 0). Standard input, output and error are reopened on /dev/null rather
// than left closed, so no file or socket opened later becomes descriptor 0, 1 or 2 and
// catches stray writes. A failing fork or setsid ends the process with status 1.
void Daemonize();

// Points descriptors 0, 1 and 2 at /dev/null; false when /dev/null could not be opened.
bool RedirectStandardStreamsToNull();
