#include "ControlSocket.h"

int Command_Initialize() { return -1; }

void CommandProc() {}

void CloseCommand() {}
