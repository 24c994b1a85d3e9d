// The daemon's scheduler: adapters over Player::INSTANCE and CommandManager::INSTANCE,
// and the two commands it registers.

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "Command.h"
#include "CommandManager.h"
#include "Player.h"
#include "Scheduler.h"
#include "log.h"

namespace {

class PlayerAdapter : public SchedulerPlayer {
public:
    int GetStatus() override { return Player::INSTANCE.GetStatus(); }
    bool WasScheduled() override { return Player::INSTANCE.WasScheduled(); }
    std::string GetPlaylistName() override { return Player::INSTANCE.GetPlaylistName(); }
    int GetRepeat() override { return Player::INSTANCE.GetRepeat(); }
    int GetScheduleEntry() override { return Player::INSTANCE.GetScheduleEntry(); }
    int GetPriority() override { return Player::INSTANCE.GetPriority(); }
    int GetStopMethod() override { return Player::INSTANCE.GetStopMethod(); }
    time_t GetScheduledStartTime() override { return Player::INSTANCE.GetScheduledStartTime(); }
    time_t GetActualStartTime() override { return Player::INSTANCE.GetActualStartTime(); }
    time_t GetScheduledEndTime() override { return Player::INSTANCE.GetScheduledEndTime(); }
    time_t GetActualEndTime() override { return Player::INSTANCE.GetActualEndTime(); }
    int StartScheduledPlaylist(const std::string& name, int position, int repeat, int entryIndex, int priority,
                               time_t startTime, time_t endTime, int stopMethod) override {
        return Player::INSTANCE.StartScheduledPlaylist(name, position, repeat, entryIndex, priority, startTime,
                                                       endTime, stopMethod);
    }
    void StopGracefully(int forceStop, int afterCurrentLoop) override {
        Player::INSTANCE.StopGracefully(forceStop, afterCurrentLoop);
    }
    void StopNow(int forceStop) override { Player::INSTANCE.StopNow(forceStop); }
    int AdjustPlaylistStopTime(int seconds) override { return Player::INSTANCE.AdjustPlaylistStopTime(seconds); }
};

class RegistryActions : public SchedulerActions {
public:
    void RunCommand(const Json::Value& command) override {
        // Scheduled commands may take their time (URLs, scripts): never on the main loop.
        try {
            std::thread([command] { CommandManager::INSTANCE.run(command); }).detach();
        } catch (const std::system_error& e) {
            LogErr(kivlog::Schedule, "Could not start a thread for scheduled command '%s': %s\n",
                   command["command"].asString().c_str(), e.what());
        }
    }
    bool TriggerPreset(const std::string& name, std::map<std::string, std::string>& keywords) override {
        return CommandManager::INSTANCE.TriggerPreset(name, keywords);
    }
};

// The registry owns the commands and deletes them at its Cleanup, which the daemon
// runs before it deletes the scheduler; so the commands reach the scheduler through
// this guarded pointer, cleared when the scheduler goes, rather than holding it.
std::recursive_mutex targetLock;
Scheduler* target = nullptr;

Command::ResultPtr toResult(const SchedulerCommandResult& r) {
    if (r.error) {
        return std::make_shared<Command::ErrorResult>(r.text);
    }
    return std::make_shared<Command::Result>(r.text);
}

Command::ResultPtr noScheduler() { return std::make_shared<Command::ErrorResult>("Scheduler is not running"); }

class StartNextScheduledItemCommand : public Command {
public:
    StartNextScheduledItemCommand() : Command("Start Next Scheduled Item") {}
    ResultPtr run(const std::vector<std::string>&) override {
        std::lock_guard<std::recursive_mutex> lk(targetLock);
        return target ? toResult(target->RunStartNextScheduledItem()) : noScheduler();
    }
};

class ExtendScheduleCommand : public Command {
public:
    ExtendScheduleCommand() : Command("Extend Schedule") {
        args.emplace_back("Seconds", "int", "Extend for Seconds");
        args.emplace_back("Limit", "int", "For schedule events occurring in the next x Seconds", true);
        const char* defaults[] = {"300", "0"};
        for (size_t i = 0; i < args.size(); i++) {
            args[i].min = -43200;
            args[i].max = 43200;
            args[i].defaultValue = defaults[i];
            args[i].adjustable = true;
        }
    }
    ResultPtr run(const std::vector<std::string>& a) override {
        std::lock_guard<std::recursive_mutex> lk(targetLock);
        return target ? toResult(target->RunExtendSchedule(a)) : noScheduler();
    }
};

} // namespace

Scheduler::Scheduler() : m_clock([] { return time(nullptr); }) {
    m_ownedPlayer = std::make_unique<PlayerAdapter>();
    m_ownedActions = std::make_unique<RegistryActions>();
    m_player = m_ownedPlayer.get();
    m_actions = m_ownedActions.get();
    {
        std::lock_guard<std::recursive_mutex> lk(targetLock);
        target = this;
    }
    CommandManager::INSTANCE.addCommand(new StartNextScheduledItemCommand());
    CommandManager::INSTANCE.addCommand(new ExtendScheduleCommand());
    m_unregisterCommands = [this] {
        std::lock_guard<std::recursive_mutex> lk(targetLock);
        if (target == this) {
            target = nullptr;
        }
    };
    init();
}
