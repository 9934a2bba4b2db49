#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

// The installed rule gives base stations only (hidraw nodes of vendor 1781 /
// product 0ba4) to the seat's user, through the uaccess tag, and to the group
// plugdev, in which services run; never to everyone.
TEST(UdevRule, GivesBaseStationHidrawNodesToTheSeatUserAndPlugdevOnly) {
    std::ifstream file(LYX_UDEV_RULE_FILE);
    ASSERT_TRUE(file) << LYX_UDEV_RULE_FILE;
    std::stringstream text;
    text << file.rdbuf();
    std::string rules = text.str();
    EXPECT_NE(rules.find("SUBSYSTEM==\"hidraw\""), std::string::npos);
    EXPECT_NE(rules.find("ATTRS{idVendor}==\"1781\""), std::string::npos);
    EXPECT_NE(rules.find("ATTRS{idProduct}==\"0ba4\""), std::string::npos);
    EXPECT_NE(rules.find("TAG+=\"uaccess\""), std::string::npos);
    EXPECT_NE(rules.find("GROUP=\"plugdev\""), std::string::npos);
    // Every mode the rule sets leaves others without access.
    std::size_t modes = 0;
    for (auto at = rules.find("MODE=\""); at != std::string::npos;
         at = rules.find("MODE=\"", at + 1)) {
        const auto end = rules.find('"', at + 6);
        ASSERT_NE(end, std::string::npos);
        const std::string mode = rules.substr(at + 6, end - at - 6);
        EXPECT_EQ(mode.back(), '0') << "MODE=\"" << mode << '"';
        ++modes;
    }
    EXPECT_EQ(modes, 1u);
}
