#include "AllLightsOffCommand.h"

#include "Sequence.h"
#include "channeloutput/ChannelOutputThread.h"

AllLightsOffCommand::AllLightsOffCommand() : Command("All Lights Off", "Turn all channels off") {}

Command::ResultPtr AllLightsOffCommand::run(const std::vector<std::string>&) {
    if (!sequence) {
        return std::make_shared<ErrorResult>("All Lights Off is not available: the sequence engine is not running");
    }
    sequence->BlankSequenceData(true);
    ForceChannelOutputNow();
    return std::make_shared<Result>("All Lights Off");
}
