#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

// The installed rule gives the seat's user access to base stations only:
// hidraw nodes of vendor 1781 / product 0ba4, through the uaccess tag, never by
// opening the node to everyone.
TEST(UdevRule, TagsBaseStationHidrawNodesForTheSeatUser) {
    std::ifstream file(LYX_UDEV_RULE_FILE);
    ASSERT_TRUE(file) << LYX_UDEV_RULE_FILE;
    std::stringstream text;
    text << file.rdbuf();
    std::string rules = text.str();
    EXPECT_NE(rules.find("SUBSYSTEM==\"hidraw\""), std::string::npos);
    EXPECT_NE(rules.find("ATTRS{idVendor}==\"1781\""), std::string::npos);
    EXPECT_NE(rules.find("ATTRS{idProduct}==\"0ba4\""), std::string::npos);
    EXPECT_NE(rules.find("TAG+=\"uaccess\""), std::string::npos);
    EXPECT_EQ(rules.find("MODE"), std::string::npos);
    EXPECT_EQ(rules.find("0666"), std::string::npos);
}
