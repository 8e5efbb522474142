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
    bool lettersUnknown = false;   // GetLogicalDrives fails
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
    if (c.lettersUnknown) {
        machine.injectFault({"getLogicalDrives", 1, 0, 1, L""});
    }
    wchar_t buffer[260] = L"junk";

    EXPECT_EQ(PH_FindUsableLabel(buffer), c.result);
    EXPECT_EQ(std::wstring(buffer), c.letter);
    EXPECT_TRUE(machine.diskpartRuns().empty());
}

const LetterCase kLetterCases[] = {
    {"CDEInUse", L"CDE", 1, L"Z:"},
    {"OnlyYAndZFree", L"CDEFGHIJKLMNOPQRSTUVWX", 1, L"Z:"},
    {"OnlyDAndFFree", L"CEGHIJKLMNOPQRSTUVWXYZ", 1, L"F:"},
    {"OnlyDFree", L"CEFGHIJKLMNOPQRSTUVWXYZ", 1, L"D:"},
    {"OnlyCFree", L"ABDEFGHIJKLMNOPQRSTUVWXYZ", 1, L"C:"},
    // An empty card reader holds Z: although no path "Z:" exists.
    {"ZNotReady", L"CDE", 1, L"Y:", L"Z"},
    {"ZUnreported", L"CDEZ", 1, L"Y:", L"", L"Z"},
    // A and B are never proposed, even when free.
    {"AllFromCInUse", L"CDEFGHIJKLMNOPQRSTUVWXYZ", 0, L""},
    // No letter can be shown free when the letters in use are unknown.
    {"LettersInUseUnknown", L"CDE", 0, L"", L"", L"", true},
};

INSTANTIATE_TEST_SUITE_P(Letters, FreeDriveLetterTest, ::testing::ValuesIn(kLetterCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvph::test
