#pragma once

#include <atomic>

#include "Command.h"

// The player's volume (0-100), kept here until media output exists to apply
// it; media output reads it at start and on every change.
class VolumeStore {
public:
    static VolumeStore INSTANCE;

    int Get() const { return m_volume.load(); }
    // Clamps to 0-100; returns the value set.
    int Set(int volume);
    // Adds delta (negative lowers), clamped; returns the new value. Atomic
    // against concurrent adjusts.
    int Adjust(int delta);

private:
    std::atomic<int> m_volume{70};
};

class SetVolumeCommand : public Command {
public:
    SetVolumeCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

// Adds a signed amount.
class AdjustVolumeCommand : public Command {
public:
    AdjustVolumeCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class IncreaseVolumeCommand : public Command {
public:
    IncreaseVolumeCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};

class DecreaseVolumeCommand : public Command {
public:
    DecreaseVolumeCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};
