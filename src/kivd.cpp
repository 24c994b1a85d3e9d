// kivd: the show player daemon.
#include "KivdLifecycle.h"

int main(int argc, char* argv[]) { return RunKivd(argc, argv); }
