#include "EffectCommands.h"

namespace {
const char* NO_EFFECTS = "this player has no effect engine yet";

Command* WithArgs(Command* c, std::vector<Command::CommandArg> a) {
    c->args = std::move(a);
    return c;
}

Command::CommandArg Flag(const std::string& name, const std::string& description) {
    Command::CommandArg a(name, "bool", description, true);
    a.defaultValue = "false";
    return a;
}

Command::CommandArg StartChannel() {
    Command::CommandArg a("Start Channel", "int", "Start Channel (0: the effect's own)", true);
    a.min = 0;
    a.max = 8388608;
    a.defaultValue = "0";
    return a;
}
} // namespace

Command::CommandArg EffectNameArg() {
    Command::CommandArg a("Effect", "string", "Effect Name");
    a.contentListUrl = "api/effects";
    return a;
}

Command::CommandArg SequenceNameArg() {
    Command::CommandArg a("Sequence", "string", "Sequence");
    a.contentListUrl = "api/sequence";
    return a;
}

Command* NewStartEffectCommand() {
    return WithArgs(new UnavailableCommand("Effect Start", "Start an effect sequence", NO_EFFECTS),
                    {EffectNameArg(), StartChannel(), Flag("Loop", "Loop Effect"),
                     Flag("Background", "Run in the background")});
}
Command* NewStartTAVOAsEffectCommand() {
    return WithArgs(new UnavailableCommand("TAVO Effect Start", "Start a sequence file as an effect", NO_EFFECTS),
                    {SequenceNameArg(), Flag("Loop", "Loop Sequence"), Flag("Background", "Run in the background")});
}
Command* NewStopTAVOAsEffectCommand() {
    return WithArgs(new UnavailableCommand("TAVO Effect Stop", "Stop a sequence-file effect", NO_EFFECTS),
                    {SequenceNameArg()});
}
Command* NewStopEffectCommand() {
    return WithArgs(new UnavailableCommand("Effect Stop", "Stop one effect", NO_EFFECTS), {EffectNameArg()});
}
Command* NewStopAllEffectsCommand() {
    return new UnavailableCommand("Effects Stop", "Stop all effects", NO_EFFECTS);
}

Command* NewPlayMediaCommand() {
    Command::CommandArg media("Media", "string", "Media file");
    media.contentListUrl = "api/media";
    Command::CommandArg loop("Loop Count", "int", "Times to play", true);
    loop.min = 1;
    loop.max = 100;
    loop.defaultValue = "1";
    return WithArgs(new UnavailableCommand("Play Media", "Play a media file", "this player has no media output yet"),
                    {media, loop});
}
