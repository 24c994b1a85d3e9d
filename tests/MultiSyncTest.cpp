#include <gtest/gtest.h>

#include "MultiSync.h"

// Until the synchronisation protocol exists, the only system known is this one, once per
// IPv4 address; the runtime information file is built from it.
TEST(MultiSyncSystems, ThisSystemOncePerAddressWithoutLoopback) {
    ASSERT_TRUE(MultiSync::INSTANCE.Init());
    Json::Value systems = MultiSync::INSTANCE.GetSystems(true, false);
    ASSERT_TRUE(systems["systems"].isArray());
    for (const auto& system : systems["systems"]) {
        ASSERT_TRUE(system["address"].isString());
        EXPECT_NE(system["address"].asString().rfind("127.", 0), 0u) << system["address"].asString();
        EXPECT_EQ(system["hostname"], systems["systems"][0]["hostname"]);
    }
}
