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

// Triggers a preset after a delay, through a named one-shot timer: running it
// again with the same timer name moves that timer instead of adding one.
class TriggerPresetInFutureCommand : public Command {
public:
    TriggerPresetInFutureCommand();
    ResultPtr run(const std::vector<std::string>& args) override;

    // Longest delay accepted, in seconds (one day).
    static constexpr int MAX_DELAY_SECONDS = 86400;
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
