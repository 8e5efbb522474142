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
    std::wstring notReady = {};    // assigned without a ready volume: no path "X:" exists
    std::wstring unreported = {};  // in use, yet left out by GetLogicalDrives
};

// Printed by name: gtest would otherwise print the case as its bytes, padding included.
void PrintTo(const LetterCase& c, std::ostream* os) {
    *os << c.name;
}

class FreeDriveLetterTest : public FrameTest, public ::testing::WithParamInterface<LetterCase> {};

TEST_P(FreeDriveLetterTest, ProposesTheHighestFreeLetterFromZDownToC) {
    const LetterCase& c = GetParam();
    machine.model().letters.assign(c.lettersInUse.begin(), c.lettersInUse.end());
    machine.model().notReadyLetters.assign(c.notReady.begin(), c.notReady.end());
    for (wchar_t letter : c.unreported) {
        machine.unreportedLetters |= 1u << (letter - L'A');
    }
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
                                           // An empty card reader holds Z: although no path "Z:" exists.
                                           LetterCase{"ZNotReady", L"CDE", 1, L"Y:", L"Z"},
                                           LetterCase{"ZUnreported", L"CDEZ", 1, L"Y:", L"", L"Z"},
                                           // A and B are never proposed, even when free.
                                           LetterCase{"AllFromCInUse", L"CDEFGHIJKLMNOPQRSTUVWXYZ", 0, L""}),
                         [](const ::testing::TestParamInfo<LetterCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(FrameTest, FreeLetterSearchWithoutABufferOrTheLettersInUseGivesNoneWithOneLine) {
    EXPECT_EQ(PH_FindUsableLabel(nullptr), 0);
    // No letter can be shown free when GetLogicalDrives fails.
    machine.injectFault({"getLogicalDrives", 1, 0, 1, L""});
    wchar_t buffer[260] = L"junk";
    EXPECT_EQ(PH_FindUsableLabel(buffer), 0);
    EXPECT_EQ(std::wstring(buffer), L"");
    EXPECT_EQ(log(), (std::vector<std::wstring>{
                         L"(KvPartitionHelper)PH_FindUsableLabel: the output buffer is null.",
                         L"(KvPartitionHelper)GetLogicalDrives failed with 0x00000001; no drive letter is "
                         L"known to be free."}));
}

}  // namespace
}  // namespace kvph::test
