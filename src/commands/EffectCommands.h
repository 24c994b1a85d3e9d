#pragma once

#include "Command.h"

// Effect and sequence-as-effect commands. The player has no effect engine
// yet: each describes its arguments and answers an error saying so.
class UnavailableCommand : public Command {
public:
    UnavailableCommand(const std::string& name, const std::string& description, const std::string& missing)
        : Command(name, description), m_missing(missing) {}
    ResultPtr run(const std::vector<std::string>&) override {
        return std::make_shared<ErrorResult>(name + " is not available: " + m_missing);
    }

private:
    std::string m_missing;
};

Command* NewStartEffectCommand();
Command* NewStartTAVOAsEffectCommand();
Command* NewStopTAVOAsEffectCommand();
Command* NewStopEffectCommand();
Command* NewStopAllEffectsCommand();
// Media output is not built either.
Command* NewPlayMediaCommand();

// Arguments shared with the remote effect commands.
Command::CommandArg EffectNameArg();
Command::CommandArg SequenceNameArg();
