#include <gtest/gtest.h>

#include "CrashHandler.h"

TEST(CrashArchives, OldestGoFirstUntilTheLimitIsMet) {
    std::vector<std::string> names;
    for (int day = 12; day >= 1; day--) {
        char name[64];
        snprintf(name, sizeof(name), "kiv-Pi-1.0-2026-01-%02d_10-00-00.zip", day);
        names.push_back(name);
    }
    EXPECT_EQ(CrashArchivesToRemove(names, 9),
              (std::vector<std::string>{"kiv-Pi-1.0-2026-01-01_10-00-00.zip", "kiv-Pi-1.0-2026-01-02_10-00-00.zip",
                                        "kiv-Pi-1.0-2026-01-03_10-00-00.zip"}));
    EXPECT_TRUE(CrashArchivesToRemove(names, 12).empty());
    EXPECT_TRUE(CrashArchivesToRemove({}, 9).empty());
}
