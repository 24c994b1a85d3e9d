#include <gtest/gtest.h>

#include "KivdCommandLine.h"

TEST(KivdRestartArguments, KeepModeAndLevelsAndResumeTheScheduledItem) {
    struct Case {
        bool daemonize;
        bool scheduled;
        std::string playlist;
        int position;
        std::vector<std::string> expected;
    } cases[] = {
        {false, false, "", 0, {"-f", "--log-level", "info:General", "-r"}},
        {true, false, "Show", 3, {"-d", "--log-level", "info:General", "-r"}},
        // Item 3 was playing: the new process starts at index 2, which is item 3 again.
        {false, true, "Show", 3, {"-f", "--log-level", "info:General", "-r", "-p", "Show", "-P", "2"}},
        {true, true, "Night Show", 1, {"-d", "--log-level", "info:General", "-r", "-p", "Night Show", "-P", "0"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildRestartArguments(c.daemonize, "info:General", c.scheduled, c.playlist, c.position), c.expected);
    }
}
