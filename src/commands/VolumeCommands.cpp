#include "VolumeCommands.h"

#include <algorithm>
#include <functional>

#include "CommandManager.h"

VolumeStore VolumeStore::INSTANCE;

int VolumeStore::Set(int volume) {
    int v = std::clamp(volume, 0, 100);
    m_volume = v;
    return v;
}

int VolumeStore::Adjust(int delta) {
    int cur = m_volume.load();
    int next;
    do {
        next = std::clamp(cur + delta, 0, 100);
    } while (!m_volume.compare_exchange_weak(cur, next));
    return next;
}

namespace {

Command::CommandArg AmountArg(const std::string& name, int min, int max, const std::string& def) {
    Command::CommandArg a(name, "int", name, false);
    a.min = min;
    a.max = max;
    a.defaultValue = def;
    a.adjustable = true;
    a.adjustableGetValueURL = "api/system/volume?simple=true";
    return a;
}

// Reads args[0] as a whole number within [lo, hi]; an error result names what is wrong.
Command::ResultPtr WithAmount(const std::vector<std::string>& args, int lo, int hi,
                              const std::function<int(int)>& apply) {
    int amount = 0;
    if (args.empty() || !CommandManager::ParseSlot(args[0], amount) || amount < lo || amount > hi) {
        return std::make_shared<Command::ErrorResult>("Invalid volume amount \"" + (args.empty() ? "" : args[0]) +
                                                      "\": a whole number from " + std::to_string(lo) + " to " +
                                                      std::to_string(hi) + " is needed");
    }
    return std::make_shared<Command::Result>("Volume Set to " + std::to_string(apply(amount)));
}

} // namespace

SetVolumeCommand::SetVolumeCommand() : Command("Volume Set", "Set the volume (0-100)") {
    args.push_back(AmountArg("Volume", 0, 100, "70"));
}
Command::ResultPtr SetVolumeCommand::run(const std::vector<std::string>& a) {
    return WithAmount(a, 0, 100, [](int v) { return VolumeStore::INSTANCE.Set(v); });
}

AdjustVolumeCommand::AdjustVolumeCommand() : Command("Volume Adjust", "Change the volume by a signed amount") {
    args.push_back(AmountArg("Volume", -100, 100, "0"));
}
Command::ResultPtr AdjustVolumeCommand::run(const std::vector<std::string>& a) {
    return WithAmount(a, -100, 100, [](int v) { return VolumeStore::INSTANCE.Adjust(v); });
}

IncreaseVolumeCommand::IncreaseVolumeCommand() : Command("Volume Increase", "Raise the volume") {
    args.push_back(AmountArg("Volume", 0, 100, "1"));
}
Command::ResultPtr IncreaseVolumeCommand::run(const std::vector<std::string>& a) {
    return WithAmount(a, 0, 100, [](int v) { return VolumeStore::INSTANCE.Adjust(v); });
}

DecreaseVolumeCommand::DecreaseVolumeCommand() : Command("Volume Decrease", "Lower the volume") {
    args.push_back(AmountArg("Volume", 0, 100, "1"));
}
Command::ResultPtr DecreaseVolumeCommand::run(const std::vector<std::string>& a) {
    return WithAmount(a, 0, 100, [](int v) { return VolumeStore::INSTANCE.Adjust(-v); });
}
