#pragma once

#include "Command.h"

class CommandManager;

// A command that runs a command of the same arguments on another player:
// its first argument is the player's address, the rest are passed on to
// `target` there (through runRemoteCommand, so through "URL"). Each remote
// command is one instance with its own name, description and arguments.
class RemoteCommand : public Command {
public:
    RemoteCommand(CommandManager& manager, const std::string& name, const std::string& description,
                  const std::string& target, std::vector<CommandArg> targetArgs);

    ResultPtr run(const std::vector<std::string>& args) override;

    const std::string target;

private:
    CommandManager& m_manager;
};

// The remote forms of the preset and script commands.
Command* NewTriggerRemotePresetCommand(CommandManager& manager);
Command* NewTriggerRemotePresetSlotCommand(CommandManager& manager);
Command* NewRunRemoteScriptCommand(CommandManager& manager);
