#pragma once

#include "Command.h"

// Blanks the channel buffer (and any bridge data) and sends it at once. A
// sequence that is playing goes on with its next frame; stop it first for a
// lasting dark.
class AllLightsOffCommand : public Command {
public:
    AllLightsOffCommand();
    ResultPtr run(const std::vector<std::string>& args) override;
};
