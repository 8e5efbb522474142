#include <stdexcept>

#include "FrameFixture.h"
#include "KvPartitionHelper.h"
#include "frame/ExportGuard.h"

namespace kvph::test {
namespace {

class ThrowingMachine : public TestMachine {
public:
    std::optional<std::wstring> getModuleFileNameW(std::uint32_t) override { throw std::runtime_error("boom"); }
};

TEST(ExportFrameTest, NothingEscapesAnExport) {
    ThrowingMachine machine;
    ScopedPlatform installed(machine);
    machine.model().letters.push_back(L'C');
    machine.putFolder(L"C:\\ProgramData");

    EXPECT_EQ(PH_CheckExistVHDX(L"D:\\vd\\drive.vhdx"), 0);
    EXPECT_EQ(machine.logTexts().back(), L"(KvPartitionHelper)PH_CheckExistVHDX: stopped by an error: boom");
    // The call lock was released and closed on the way out, and no other handle stayed open.
    EXPECT_EQ(machine.openHandleCount(), 0u);
    EXPECT_EQ(machine.callCounts().at("releaseMutex"), 1);
}

TEST(ExportFrameTest, ExportsWithoutAPlatformReturnZero) {
    ASSERT_FALSE(hasPlatform());
    EXPECT_EQ(PH_CheckExistVHDX(L"D:\\vd\\drive.vhdx"), 0);
}

using CallLockTest = FrameTest;

TEST_F(CallLockTest, ExportsCallingExportsTakeTheLockAgain) {
    const int result = runExport(L"outer", [] {
        return runExport(L"inner", [] { return CallLock().held() ? 1 : 0; });
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(machine.callCounts().at("createMutexW"), 3);
    EXPECT_EQ(machine.callCounts().at("releaseMutex"), 3);
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

TEST_F(CallLockTest, AMutexThatCannotBeMadeRefusesTheCall) {
    machine.injectFault({"createMutexW", 5, 0, 1, L""});
    bool ran = false;
    EXPECT_EQ(runExport(L"PH_Test", [&] {
                  ran = true;
                  return 1;
              }),
              0);
    EXPECT_FALSE(ran);
    EXPECT_EQ(log(), std::vector<std::wstring>{L"(KvPartitionHelper)PH_Test: the call lock could not be taken."});
}

TEST_F(CallLockTest, PendingExportsSayTheyAreNotAvailable) {
    wchar_t letter[260] = L"x";
    EXPECT_EQ(PH_FindUsableLabel(letter), 0);
    EXPECT_EQ(PH_SetHidden(L"E:"), 0);
    EXPECT_EQ(log(), (std::vector<std::wstring>{L"(KvPartitionHelper)PH_FindUsableLabel: not available in this build.",
                                                L"(KvPartitionHelper)PH_SetHidden: not available in this build."}));
}

}  // namespace
}  // namespace kvph::test
