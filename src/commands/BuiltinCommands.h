#pragma once

class CommandManager;

// Creates the built-in commands and registers them with the manager, in the
// order of the built-in command list. A subsystem's commands are added here,
// one line each, when the subsystem exists.
void RegisterBuiltinCommands(CommandManager& manager);
