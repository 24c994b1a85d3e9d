#pragma once

// Version of this build, recorded when the build tree was configured.
const char* getKIVVersion();
const char* getKIVBranch();
// Prints the version block to standard output (the programs' -V option).
void printVersionInfo();
