#include <gtest/gtest.h>

#include <string>

#include "inventory/PartitionInventory.h"

namespace kvph::test {
namespace {

struct ConversionCase {
    const wchar_t* text;
    std::int32_t state;
};

class ReadOnlyStateFromTextTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ReadOnlyStateFromTextTest, ReadsTheLeadingNumberAndKeepsItsLow32Bits) {
    EXPECT_EQ(inventory::ReadOnlyStateFromText(GetParam().text), GetParam().state) << GetParam().text;
}

const ConversionCase kConversionCases[] = {
    // What the listing writes.
    {L"0x00000000", 0},
    {L"0x00000001", 1},
    {L"0xffffffff", -1},
    // The default of a missing key.
    {L"0", 0},
    {L"0XFFFFFFFF", -1},
    {L"", 0},
    {L"yes", 0},
    {L"  \t\r\n12", 12},
    {L"+7", 7},
    {L"-3.9", -3},
    {L"3.9", 3},
    {L".5", 0},
    {L".", 0},
    {L"- 1", 0},
    {L"1e3", 1000},
    {L"2.5E+1x", 25},
    {L"1e", 1},
    {L"1e+", 1},
    {L"00x5", 0},
    {L"0x", 0},
    {L"0xg1", 0},
    {L"0x1p4", 16},
    {L"0x1P-1", 0},
    {L"0x.8p1", 1},
    {L"0xff.", 255},
    {L"-0x10", -16},
    {L"0x00000001 read-only", 1},
    {L"0x7fffffff", 2147483647},
    {L"0x100000000", 0},
    {L"0x1ffffffff", -1},
    {L"4294967297", 1},
    {L"3000000000", -1294967296},
    // Values no 64-bit integer holds end as the integer indefinite value, whose low 32 bits are 0.
    {L"9223372036854775807", 0},
    {L"-9223372036854775808", 0},
    {L"1e30", 0},
    {L"1e400", 0},
    {L"-1e400", 0},
    {L"1e-400", 0},
    {L"infinity", 0},
    {L"nan", 0},
};

INSTANTIATE_TEST_SUITE_P(Texts, ReadOnlyStateFromTextTest, ::testing::ValuesIn(kConversionCases));

}  // namespace
}  // namespace kvph::test
