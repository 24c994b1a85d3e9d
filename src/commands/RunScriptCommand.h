#pragma once

#include <memory>

#include "Command.h"

// "Run Script": starts a script of the media directory's scripts/ folder with
// its arguments. The script is executed directly (a file that is not
// executable through /bin/sh as its interpreter), never as a shell command
// line, so arguments are passed as they are. The result is ready once the
// script has started; a thread of its own reaps it and logs how it ended.
class RunScriptCommand : public Command {
public:
    RunScriptCommand();
    ~RunScriptCommand() override;

    ResultPtr run(const std::vector<std::string>& args) override;

    // Scripts allowed to run at once; more are refused with an error.
    static constexpr int MAX_RUNNING = 8;

    struct Running;

private:
    std::shared_ptr<Running> m_running;
};
