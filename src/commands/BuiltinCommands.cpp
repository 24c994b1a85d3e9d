#include "BuiltinCommands.h"

#include "CommandManager.h"
#include "PresetCommands.h"
#include "RemoteCommands.h"
#include "RunScriptCommand.h"
#include "URLCommand.h"

void RegisterBuiltinCommands(CommandManager& m) {
    // Playlist commands (stop, stop gracefully, restart item, next, previous,
    // start, toggle, start at item, start at random, insert, insert now,
    // insert random item), media playback and pause/resume come with the player.
    m.addCommand(new TriggerPresetCommand(m));
    m.addCommand(new TriggerPresetInFutureCommand());
    m.addCommand(new TriggerPresetSlotCommand(m));
    m.addCommand(new TriggerMultiplePresetsCommand(m));
    m.addCommand(new TriggerMultiplePresetSlotsCommand(m));
    m.addCommand(new RunScriptCommand());
    // Effect and sequence-effect commands and volume commands come with their
    // subsystems.
    m.addCommand(new URLCommand());
    // All Lights Off comes with the channel outputs.
    m.addCommand(NewTriggerRemotePresetCommand(m));
    m.addCommand(NewTriggerRemotePresetSlotCommand(m));
    // Remote effect start and stop come with the effects.
    m.addCommand(NewRunRemoteScriptCommand(m));
    // The remote sequence-effect and playlist commands are
    // RemoteCommand instances naming their local counterparts; they follow them.
}
