// Vendor-written SVF files, read unchanged from the samples folder,
// played through the worker on a modelled chain.
#include <gtest/gtest.h>

#include <filesystem>

#include "svf/svf.h"
#include "support/svf_testutil.h"
#include "support/vendor_samples.h"

namespace {

using Strings = std::vector<std::string>;

// One device: an 8-bit IR capturing binary ...01; IDCODE under instruction
// 0x01, a 40-bit register under 0x3A, a bypass bit under anything else.
svftest::TFakeCable Chain(uint32_t idcode, uint8_t topByte)
{
    svftest::TFakeCable cable;
    cable.DrCapture = [idcode, topByte](uint32_t ir, int) {
        if (ir == 0x01)
            return svftest::BitsOf(idcode, 32);
        if (ir == 0x3A)
            return svftest::BitsOf(uint64_t{topByte} << 32, 40);
        return std::vector<uint8_t>{0};
    };
    return cable;
}

FileStatus Play(const char* sample, svftest::TFakeCable& cable)
{
    const std::string path = VendorSamplePath(sample);
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
    TSVFFile player(path);
    cable.Attach(player);
    EXPECT_TRUE(player.Start(1000000));
    const FileStatus status = svftest::RunToEnd(player);
    if (status == FileStatus::Succeeded) {
        EXPECT_EQ(player.GetPosition(), player.GetSize() + 8) << sample;
    }
    EXPECT_TRUE(cable.Violations.empty()) << sample;
    return status;
}

TEST(SvfSamples, CoolRunnerIdcode)
{
    ORBESK_SKIP_WITHOUT_VENDOR_SAMPLES();
    const struct {
        const char* name;
        uint32_t idcode;
        FileStatus status;
    } cases[] = {
        {"the expected IDCODE", 0xF6E5F093, FileStatus::Succeeded},
        // The mask of the first IDCODE scan stays in force for the later
        // ones of the same length, so the version nibble never counts.
        {"another version", 0x16E5F093, FileStatus::Succeeded},
        {"another part", 0xF6E5F193, FileStatus::Failed},
    };
    for (const auto& c : cases) {
        svftest::TFakeCable cable = Chain(c.idcode, 0);
        EXPECT_EQ(Play("coolrunner2_idcode.svf", cable), c.status) << c.name;
        EXPECT_EQ(cable.Count("trst 01"), 1) << c.name;
        if (c.status == FileStatus::Failed) {
            ASSERT_FALSE(cable.MessagesOf(MessageKind::Error).empty());
            EXPECT_EQ(cable.MessagesOf(MessageKind::Error).front(), "Error on SDR instruction: ");
        } else {
            EXPECT_TRUE(cable.MessagesOf(MessageKind::Error).empty()) << c.name;
        }
    }
}

TEST(SvfSamples, Ecp5PassThroughIdcode)
{
    ORBESK_SKIP_WITHOUT_VENDOR_SAMPLES();
    const struct {
        uint8_t topByte;
        FileStatus status;
    } cases[] = {{0xA8, FileStatus::Succeeded}, {0xA9, FileStatus::Failed}};
    for (const auto& c : cases) {
        svftest::TFakeCable cable = Chain(0, c.topByte);
        EXPECT_EQ(Play("ecp5_passthru_idcode.svf", cable), c.status) << int{c.topByte};
        EXPECT_EQ(cable.Count("freq 1000000 test"), 1);
        EXPECT_EQ(cable.Count("time 20000"), 3) << "RUNTEST with a count and a time waits by time";
        EXPECT_EQ(cable.MessagesOf(MessageKind::Comment).size(), 5u);
        if (c.status == FileStatus::Succeeded) {
            EXPECT_EQ(cable.State, TapState::RESET);
        }
    }
}

} // namespace
