// The udev rules file shipped for the cables names each cable the executor
// searches for, in the lower-case hex that udev compares with: one rule
// for the users' access, one that keeps ftdi_sio off.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "executor/jtag_execute.h"

namespace {

std::vector<std::string> RuleLines()
{
    const std::filesystem::path file =
        std::filesystem::path(__FILE__).parent_path() / "../../resources/udev/60-orbesk-cables.rules";
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return lines;
}

bool Has(const std::string& Line, const std::string& Part)
{
    return Line.find(Part) != std::string::npos;
}

TEST(UdevRules, EachCableHasItsAccessRuleAndItsRuleAgainstTheSerialDriver)
{
    const std::vector<std::string> lines = RuleLines();
    ASSERT_FALSE(lines.empty()) << "no rules file";
    const std::pair<const char*, TCableIdentity> cables[] = {
        {"Varnel", VarnelIdentity}, {"Mirrow", MirrowIdentity}, {"Druvel", DruvelIdentity}};
    for (const auto& [name, id] : cables) {
        SCOPED_TRACE(name);
        char vid[8];
        char pid[8];
        std::snprintf(vid, sizeof vid, "%04x", id.Vid);
        std::snprintf(pid, sizeof pid, "%04x", id.Pid);
        int access = 0;
        int unbind = 0;
        for (const std::string& line : lines) {
            if (Has(line, std::string("ATTR{idVendor}==\"") + vid + "\"") &&
                Has(line, std::string("ATTR{idProduct}==\"") + pid + "\"") && Has(line, "TAG+=\"uaccess\"") &&
                Has(line, "MODE=\"0660\""))
                ++access;
            if (Has(line, "ACTION==\"bind\"") && Has(line, "DRIVER==\"ftdi_sio\"") &&
                Has(line, std::string("ATTRS{idVendor}==\"") + vid + "\"") &&
                Has(line, std::string("ATTRS{idProduct}==\"") + pid + "\"") &&
                Has(line, "/sys/bus/usb/drivers/ftdi_sio/unbind"))
                ++unbind;
        }
        EXPECT_EQ(access, 1);
        EXPECT_EQ(unbind, 1);
    }
}

} // namespace
