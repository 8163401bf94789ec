#include "base/varlenu.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/sysutils.h"

namespace {

std::vector<uint8_t> Bytes(const TVarLen& v)
{
    std::vector<uint8_t> out;
    for (int32_t i = 0; i < v.ByteLength(); ++i)
        out.push_back(v.GetByte(i));
    return out;
}

struct SizeCase {
    int32_t bits;
    int32_t bytes;
};

class VarLenSized : public testing::TestWithParam<SizeCase> {};

TEST_P(VarLenSized, HoldsCeilingOfBitsOverEightZeroBytes)
{
    const auto& c = GetParam();
    TVarLen v = TVarLen::CreateSized(c.bits);
    EXPECT_EQ(v.BitLength(), c.bits);
    EXPECT_EQ(v.ByteLength(), c.bytes);
    EXPECT_EQ(Bytes(v), std::vector<uint8_t>(static_cast<size_t>(c.bytes), 0));
}

INSTANTIATE_TEST_SUITE_P(Lengths, VarLenSized,
                         testing::Values(SizeCase{0, 0}, SizeCase{1, 1}, SizeCase{7, 1}, SizeCase{8, 1},
                                         SizeCase{9, 2}, SizeCase{16, 2}, SizeCase{17, 3}, SizeCase{1000, 125}),
                         [](const testing::TestParamInfo<SizeCase>& info) {
                             return "Bits" + std::to_string(info.param.bits);
                         });

TEST(VarLen, EmptyVectorReadsZeroAndIgnoresWrites)
{
    TVarLen v = TVarLen::CreateSized(0);
    EXPECT_EQ(v.GetByte(0), 0);
    v.SetByte(0, 1);
    EXPECT_EQ(v.ByteLength(), 0);
    EXPECT_EQ(v.GetByte(0), 0);
}

TEST(VarLen, OutOfRangeIndicesAreHarmless)
{
    TVarLen v = TVarLen::CreateSized(12);
    v.SetByte(0, 0x12);
    v.SetByte(1, 0x34);
    v.SetByte(v.ByteLength(), 0x55);
    v.SetByte(-1, 0x66);
    EXPECT_EQ(v.GetByte(-1), 0);
    EXPECT_EQ(v.GetByte(2), 0);
    EXPECT_EQ(Bytes(v), (std::vector<uint8_t>{0x12, 0x34}));
}

TEST(VarLen, GrowingKeepsHighBitsAndZeroesOnlyNewBytes)
{
    TVarLen v = TVarLen::CreateSized(12);
    v.SetByte(0, 0xFF);
    v.SetByte(1, 0xFF);
    v.SetBitLength(20);
    EXPECT_EQ(Bytes(v), (std::vector<uint8_t>{0xFF, 0xFF, 0x00}));
    v.SetBitLength(4);
    EXPECT_EQ(v.BitLength(), 4);
    EXPECT_EQ(Bytes(v), (std::vector<uint8_t>{0xFF}));
    // Shrinking then growing does not bring the dropped byte back.
    v.SetBitLength(16);
    EXPECT_EQ(Bytes(v), (std::vector<uint8_t>{0xFF, 0x00}));
}

TEST(VarLen, FillsCoverWholeBytesBeyondTheBitLength)
{
    TVarLen v = TVarLen::CreateSized(12);
    v.FillOnes();
    EXPECT_EQ(Bytes(v), (std::vector<uint8_t>{0xFF, 0xFF}));
    v.FillZeros();
    EXPECT_EQ(Bytes(v), (std::vector<uint8_t>{0x00, 0x00}));
}

TEST(VarLen, CopyIsIndependentOfItsSource)
{
    TVarLen empty;
    TVarLen emptyCopy = TVarLen::CreateCopy(empty);
    EXPECT_EQ(emptyCopy.BitLength(), 0);
    EXPECT_EQ(emptyCopy.ByteLength(), 0);

    TVarLen source = TVarLen::CreateSized(13);
    source.SetByte(0, 0xA5);
    source.SetByte(1, 0x1F);
    TVarLen copy = TVarLen::CreateCopy(source);
    source.SetByte(0, 0x00);
    source.SetBitLength(1);
    EXPECT_EQ(copy.BitLength(), 13);
    EXPECT_EQ(Bytes(copy), (std::vector<uint8_t>{0xA5, 0x1F}));
}

TEST(VarLen, NegativeLengthIsRefusedAndLeavesTheVectorAsItWas)
{
    EXPECT_THROW(TVarLen::CreateSized(-1), Exception);
    TVarLen v = TVarLen::CreateSized(9);
    v.SetByte(1, 0x01);
    EXPECT_THROW(v.SetBitLength(-8), Exception);
    EXPECT_EQ(v.BitLength(), 9);
    EXPECT_EQ(Bytes(v), (std::vector<uint8_t>{0x00, 0x01}));
}

} // namespace
