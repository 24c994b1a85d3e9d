#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "CommandTestSupport.h"
#include "RunScriptCommand.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class RunScriptCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        scripts = cmdtest::MediaDir() / "scripts";
        fs::remove_all(scripts);
        fs::create_directories(scripts);
        // Writes its arguments one a line, then its working folder and open descriptors.
        std::ofstream(scripts / "args.sh") << "printf '%s\\n' \"$@\" > \"$OUT.tmp\"\n"
                                              "pwd >> \"$OUT.tmp\"\n"
                                              "ls /proc/$$/fd | wc -l | tr -d ' ' >> \"$OUT.tmp\"\n"
                                              "mv \"$OUT.tmp\" \"$OUT\"\n";
        // Written aside and moved in, so the file never appears half written.
        std::ofstream(scripts / "exec") << "#!/bin/sh\necho direct > \"$OUT.tmp\"\nmv \"$OUT.tmp\" \"$OUT\"\n";
        fs::permissions(scripts / "exec", fs::perms::owner_all);
        out = scripts / "out.txt";
        setenv("OUT", out.c_str(), 1);
    }

    // The script's output once it has finished writing it, "" after 5 s.
    std::string awaitOutput() {
        for (int i = 0; i < 500 && !fs::exists(out); i++) {
            std::this_thread::sleep_for(10ms);
        }
        std::ifstream in(out);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path scripts, out;
    RunScriptCommand cmd;
};

TEST_F(RunScriptCommandTest, ArgumentsReachTheScriptUninterpreted) {
    auto r = cmd.run({"args.sh", "a 'b c' $HOME;rm", "`x`"});
    EXPECT_TRUE(r->isDone());
    EXPECT_FALSE(r->isError()) << r->get();
    // The shell holds stdin, stdout, stderr and its script file: nothing of ours leaks in.
    EXPECT_EQ("a\nb c\n$HOME;rm\n`x`\n" + fs::canonical(scripts).string() + "\n4\n", awaitOutput());
}

TEST_F(RunScriptCommandTest, ExecutableScriptsRunDirectly) {
    EXPECT_FALSE(cmd.run({"exec"})->isError());
    EXPECT_EQ("direct\n", awaitOutput());
}

TEST_F(RunScriptCommandTest, OnlyFilesOfTheScriptsFolderRun) {
    fs::create_directories(scripts / "sub");
    std::ofstream(cmdtest::MediaDir() / "outside.sh") << "touch \"$OUT\"\n";
    for (auto args : {std::vector<std::string>{}, std::vector<std::string>{""},
                      std::vector<std::string>{"../outside.sh"}, std::vector<std::string>{".hidden"},
                      std::vector<std::string>{"sub"}, std::vector<std::string>{"missing.sh"}}) {
        auto r = cmd.run(args);
        EXPECT_TRUE(r->isError()) << (args.empty() ? "(none)" : args[0]);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(fs::exists(out));
}

} // namespace
