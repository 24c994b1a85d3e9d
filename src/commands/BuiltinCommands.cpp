#include "BuiltinCommands.h"

#include "AllLightsOffCommand.h"
#include "CommandManager.h"
#include "EffectCommands.h"
#include "PlaylistCommands.h"
#include "PresetCommands.h"
#include "RemoteCommands.h"
#include "RunScriptCommand.h"
#include "URLCommand.h"
#include "VolumeCommands.h"

void RegisterBuiltinCommands(CommandManager& m) {
    m.addCommand(new StopPlaylistCommand());
    m.addCommand(new StopGracefullyPlaylistCommand());
    m.addCommand(new RestartPlaylistCommand());
    m.addCommand(new NextPlaylistCommand());
    m.addCommand(new PrevPlaylistCommand());
    m.addCommand(new StartPlaylistCommand());
    m.addCommand(new TogglePlaylistCommand());
    m.addCommand(new StartPlaylistAtCommand());
    m.addCommand(new StartPlaylistAtRandomCommand());
    m.addCommand(new InsertPlaylistCommand());
    m.addCommand(new InsertPlaylistImmediate());
    m.addCommand(new InsertRandomItemFromPlaylistCommand());
    m.addCommand(NewPlayMediaCommand());
    m.addCommand(new PlaylistPauseCommand());
    m.addCommand(new PlaylistResumeCommand());
    m.addCommand(new TriggerPresetCommand(m));
    m.addCommand(new TriggerPresetInFutureCommand());
    m.addCommand(new TriggerPresetSlotCommand(m));
    m.addCommand(new TriggerMultiplePresetsCommand(m));
    m.addCommand(new TriggerMultiplePresetSlotsCommand(m));
    m.addCommand(new RunScriptCommand());
    m.addCommand(NewStartEffectCommand());
    m.addCommand(NewStartTAVOAsEffectCommand());
    m.addCommand(NewStopTAVOAsEffectCommand());
    m.addCommand(NewStopEffectCommand());
    m.addCommand(NewStopAllEffectsCommand());
    m.addCommand(new SetVolumeCommand());
    m.addCommand(new AdjustVolumeCommand());
    m.addCommand(new IncreaseVolumeCommand());
    m.addCommand(new DecreaseVolumeCommand());
    m.addCommand(new URLCommand());
    m.addCommand(new AllLightsOffCommand());
    m.addCommand(NewTriggerRemotePresetCommand(m));
    m.addCommand(NewTriggerRemotePresetSlotCommand(m));
    m.addCommand(NewStartRemoteEffectCommand(m));
    m.addCommand(NewStopRemoteEffectCommand(m));
    m.addCommand(NewRunRemoteScriptCommand(m));
    m.addCommand(NewStartRemoteTAVOEffectCommand(m));
    m.addCommand(NewStartRemotePlaylistCommand(m));
}
