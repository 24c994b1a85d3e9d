#pragma once

#include "Command.h"

class CommandManager;

// Commands that trigger presets of the registry they belong to, by name or by slot.

class TriggerPresetCommand : public Command {
public:
    explicit TriggerPresetCommand(CommandManager& manager);
    ResultPtr run(const std::vector<std::string>& args) override;

private:
    CommandManager& m_manager;
};

class TriggerPresetSlotCommand : public Command {
public:
    explicit TriggerPresetSlotCommand(CommandManager& manager);
    ResultPtr run(const std::vector<std::string>& args) override;

private:
    CommandManager& m_manager;
};

class TriggerMultiplePresetsCommand : public Command {
public:
    explicit TriggerMultiplePresetsCommand(CommandManager& manager);
    ResultPtr run(const std::vector<std::string>& args) override;

private:
    CommandManager& m_manager;
};

class TriggerMultiplePresetSlotsCommand : public Command {
public:
    explicit TriggerMultiplePresetSlotsCommand(CommandManager& manager);
    ResultPtr run(const std::vector<std::string>& args) override;

private:
    CommandManager& m_manager;
};

// Parameters shared by the preset commands and their remote forms.
Command::CommandArg PresetNameArg(const std::string& name, bool optional);
Command::CommandArg PresetSlotArg(const std::string& name, bool optional);
