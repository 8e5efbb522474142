#include <ostream>
#include <string>
#include <vector>

#include "FrameFixture.h"
#include "KvPartitionHelper.h"

namespace kvph::test {
namespace {

struct LetterCase {
    const char* name;
    std::wstring lettersInUse;
    int result;
    std::wstring letter;
};

// Printed by name: gtest would otherwise print the case as its bytes, padding included.
void PrintTo(const LetterCase& c, std::ostream* os) {
    *os << c.name;
}

class FreeDriveLetterTest : public FrameTest, public ::testing::WithParamInterface<LetterCase> {};

TEST_P(FreeDriveLetterTest, ProposesTheHighestFreeLetterFromZDownToC) {
    const LetterCase& c = GetParam();
    machine.model().letters.assign(c.lettersInUse.begin(), c.lettersInUse.end());
    wchar_t buffer[260] = L"junk";

    EXPECT_EQ(PH_FindUsableLabel(buffer), c.result);
    EXPECT_EQ(std::wstring(buffer), c.letter);
    EXPECT_TRUE(machine.diskpartRuns().empty());
}

INSTANTIATE_TEST_SUITE_P(Letters, FreeDriveLetterTest,
                         ::testing::Values(LetterCase{"CDEInUse", L"CDE", 1, L"Z:"},
                                           LetterCase{"OnlyYAndZFree", L"CDEFGHIJKLMNOPQRSTUVWX", 1, L"Z:"},
                                           LetterCase{"OnlyDAndFFree", L"CEGHIJKLMNOPQRSTUVWXYZ", 1, L"F:"},
                                           LetterCase{"OnlyDFree", L"CEFGHIJKLMNOPQRSTUVWXYZ", 1, L"D:"},
                                           LetterCase{"OnlyCFree", L"ABDEFGHIJKLMNOPQRSTUVWXYZ", 1, L"C:"},
                                           // A and B are never proposed, even when free.
                                           LetterCase{"AllFromCInUse", L"CDEFGHIJKLMNOPQRSTUVWXYZ", 0, L""}),
                         [](const ::testing::TestParamInfo<LetterCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(FrameTest, FreeLetterSearchRefusesANullBufferWithOneLine) {
    EXPECT_EQ(PH_FindUsableLabel(nullptr), 0);
    EXPECT_EQ(log(), std::vector<std::wstring>{
                         L"(KvPartitionHelper)PH_FindUsableLabel: the output buffer is null."});
}

}  // namespace
}  // namespace kvph::test
