// The profile switch: four spellings, exact letter case, the last one wins.
#include "moncfg/CfgCommandLine.h"

#include <gtest/gtest.h>

using tarmin::moncfg::profileFromCommandLine;

TEST(MoncfgCommandLine, ProfileSwitch) {
    EXPECT_EQ(profileFromCommandLine({"tmnmoncfg", "-profile:test"}), "test");
    EXPECT_EQ(profileFromCommandLine({"tmnmoncfg", "/profile=test"}), "test");
    EXPECT_EQ(profileFromCommandLine({"tmnmoncfg", "/profile:a b", "other", "-profile=last"}), "last");
    EXPECT_EQ(profileFromCommandLine({"tmnmoncfg", "-profile="}), "");
    // Another letter case, a switch without its separator, or the program
    // name itself select nothing.
    EXPECT_EQ(profileFromCommandLine({"tmnmoncfg", "-Profile:test", "/PROFILE=x", "-profiletest"}), "");
    EXPECT_EQ(profileFromCommandLine({"-profile=self"}), "");
}
