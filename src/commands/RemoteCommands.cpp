#include "RemoteCommands.h"

#include "CommandManager.h"
#include "PresetCommands.h"

RemoteCommand::RemoteCommand(CommandManager& manager, const std::string& name,
                             const std::string& description, const std::string& target,
                             std::vector<CommandArg> targetArgs)
    : Command(name, description), target(target), m_manager(manager) {
    args.emplace_back("Remote IP", "string", "Remote IP");
    args.insert(args.end(), targetArgs.begin(), targetArgs.end());
}

Command::ResultPtr RemoteCommand::run(const std::vector<std::string>& a) {
    if (a.empty() || a[0].empty()) {
        return std::make_shared<ErrorResult>(name + " needs the address of the remote player");
    }
    return m_manager.runRemoteCommand(a[0], target, std::vector<std::string>(a.begin() + 1, a.end()));
}

Command* NewTriggerRemotePresetCommand(CommandManager& manager) {
    return new RemoteCommand(manager, "Remote Trigger Preset", "Trigger a preset on another player",
                             "Trigger Preset", {PresetNameArg("Name", false)});
}

Command* NewTriggerRemotePresetSlotCommand(CommandManager& manager) {
    return new RemoteCommand(manager, "Remote Trigger Preset Slot",
                             "Trigger a preset slot on another player", "Trigger Preset Slot",
                             {PresetSlotArg("Slot", false)});
}

Command* NewRunRemoteScriptCommand(CommandManager& manager) {
    Command::CommandArg script("Script", "string", "Script");
    Command::CommandArg arguments("Arguments", "string", "Script arguments (quote those with blanks)", true);
    return new RemoteCommand(manager, "Remote Run Script", "Run a script on another player", "Run Script",
                             {script, arguments});
}
