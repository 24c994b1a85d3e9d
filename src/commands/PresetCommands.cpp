#include "PresetCommands.h"

#include <cmath>
#include <cstdlib>

#include "CommandManager.h"
#include "Timers.h"
#include "common.h"

namespace {
constexpr int MULTIPLE = 5;  // names or slots taken by the "multiple" forms
constexpr int MAX_SLOT = 255;
} // namespace

Command::CommandArg PresetNameArg(const std::string& name, bool optional) {
    Command::CommandArg a(name, "string", "Preset Name", optional);
    a.contentListUrl = "api/commandPresets?names=true";
    a.allowBlanks = optional;
    return a;
}

Command::CommandArg PresetSlotArg(const std::string& name, bool optional) {
    Command::CommandArg a(name, "int", "Preset Slot", optional);
    a.min = 1;
    a.max = MAX_SLOT;
    return a;
}

TriggerPresetCommand::TriggerPresetCommand(CommandManager& manager)
    : Command("Trigger Preset", "Run the commands of a preset"), m_manager(manager) {
    args.push_back(PresetNameArg("Name", false));
}

Command::ResultPtr TriggerPresetCommand::run(const std::vector<std::string>& a) {
    if (a.empty()) {
        return std::make_shared<ErrorResult>("Trigger Preset needs a preset name");
    }
    if (!m_manager.TriggerPreset(a[0])) {
        return std::make_shared<ErrorResult>("No preset named " + a[0]);
    }
    return std::make_shared<Result>("Preset Triggered");
}

TriggerPresetInFutureCommand::TriggerPresetInFutureCommand()
    : Command("Trigger Preset In Future", "Run the commands of a preset after a delay") {
    args.emplace_back("ID", "string", "Timer name");
    CommandArg delay("Seconds", "float", "Delay in seconds");
    delay.min = 0;
    delay.max = MAX_DELAY_SECONDS;
    delay.defaultValue = "10";
    args.push_back(delay);
    args.push_back(PresetNameArg("Name", false));
}

Command::ResultPtr TriggerPresetInFutureCommand::run(const std::vector<std::string>& a) {
    if (a.size() < 3 || a[2].empty()) {
        return std::make_shared<ErrorResult>("Trigger Preset In Future needs a timer name, seconds and a preset name");
    }
    char* end = nullptr;
    double seconds = strtod(a[1].c_str(), &end);
    if (a[1].empty() || *end != 0 || !std::isfinite(seconds) || seconds < 0 || seconds > MAX_DELAY_SECONDS) {
        return std::make_shared<ErrorResult>("Not a delay in seconds: " + a[1]);
    }
    Timers::INSTANCE.addTimer(a[0], GetTimeMS() + (long long)std::llround(seconds * 1000.0), a[2]);
    return std::make_shared<Result>("Preset Timer Set");
}

TriggerPresetSlotCommand::TriggerPresetSlotCommand(CommandManager& manager)
    : Command("Trigger Preset Slot", "Run every preset entry of a slot"), m_manager(manager) {
    args.push_back(PresetSlotArg("Slot", false));
}

Command::ResultPtr TriggerPresetSlotCommand::run(const std::vector<std::string>& a) {
    int slot = 0;
    if (a.empty() || !CommandManager::ParseSlot(a[0], slot)) {
        return std::make_shared<ErrorResult>("Trigger Preset Slot needs a slot number");
    }
    m_manager.TriggerPreset(slot);
    return std::make_shared<Result>("Preset Slot Triggered");
}

TriggerMultiplePresetsCommand::TriggerMultiplePresetsCommand(CommandManager& manager)
    : Command("Trigger Multiple Presets", "Run several presets, in order"), m_manager(manager) {
    for (int i = 1; i <= MULTIPLE; i++) {
        args.push_back(PresetNameArg("Name" + std::to_string(i), i > 1));
    }
}

Command::ResultPtr TriggerMultiplePresetsCommand::run(const std::vector<std::string>& a) {
    std::string missing;
    for (const auto& name : a) {
        if (!name.empty() && !m_manager.TriggerPreset(name)) {
            missing += (missing.empty() ? "" : ", ") + name;
        }
    }
    if (!missing.empty()) {
        return std::make_shared<ErrorResult>("No preset named " + missing);
    }
    return std::make_shared<Result>("Presets Triggered");
}

TriggerMultiplePresetSlotsCommand::TriggerMultiplePresetSlotsCommand(CommandManager& manager)
    : Command("Trigger Multiple Preset Slots", "Run the preset entries of several slots, in order"), m_manager(manager) {
    for (int i = 1; i <= MULTIPLE; i++) {
        args.push_back(PresetSlotArg("Slot" + std::to_string(i), i > 1));
    }
}

Command::ResultPtr TriggerMultiplePresetSlotsCommand::run(const std::vector<std::string>& a) {
    for (const auto& text : a) {
        int slot = 0;
        if (text.empty()) {
            continue;
        }
        if (!CommandManager::ParseSlot(text, slot)) {
            return std::make_shared<ErrorResult>("Not a slot number: " + text);
        }
        m_manager.TriggerPreset(slot);
    }
    return std::make_shared<Result>("Preset Slots Triggered");
}
