#pragma once

// Version of this build, recorded when the build tree was configured.
const char* getKIVVersion();
const char* getKIVBranch();
// "major.minor.patch" of this build (user agent, %KIV_VERSION% keyword).
const char* getKIVVersionTriplet();
// Prints the version block to standard output (the programs' -V option).
void printVersionInfo();
