#include <stdexcept>

#include "FrameFixture.h"
#include "KvPartitionHelper.h"
#include "frame/ExportGuard.h"
#include "platform/WinConstants.h"

namespace kvph::test {
namespace {

class ThrowingMachine : public TestMachine {
public:
    std::optional<std::wstring> getModuleFileNameW(std::uint32_t) override {
        throw std::runtime_error("boom");
    }
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
    // A query that stops the presence query it asks takes the VHDX as not attached.
    int state = 0;
    EXPECT_EQ(PH_CheckVHDXReadOnly(L"D:\\vd\\drive.vhdx", &state), 1);
    EXPECT_EQ(state, -1);
}

TEST(ExportFrameTest, ExportsWithoutAPlatformReturnZero) {
    ASSERT_FALSE(hasPlatform());
    EXPECT_EQ(PH_CheckExistVHDX(L"D:\\vd\\drive.vhdx"), 0);
}

using CallLockTest = FrameTest;

TEST_F(CallLockTest, ExportsCallingExportsTakeTheLockAgain) {
    const int result =
        runExport(L"outer", [] { return runExport(L"inner", [] { return CallLock().held() ? 1 : 0; }); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(machine.callCounts().at("createMutexW"), 3);
    EXPECT_EQ(machine.callCounts().at("releaseMutex"), 3);
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

class AbandonedMutexMachine : public TestMachine {
public:
    // The first wait finds the mutex left behind by an owner that died: it is owned now all the same.
    std::uint32_t waitForSingleObject(Handle handle, std::uint32_t milliseconds) override {
        const std::uint32_t result = TestMachine::waitForSingleObject(handle, milliseconds);
        if (result != win::WAIT_OBJECT_0_ || abandonedSeen) {
            return result;
        }
        abandonedSeen = true;
        return win::WAIT_ABANDONED_;
    }
    bool abandonedSeen = false;
};

TEST(CallLockAbandonedTest, AnAbandonedMutexIsTakenOver) {
    AbandonedMutexMachine machine;
    ScopedPlatform installed(machine);
    EXPECT_EQ(runExport(L"PH_Test", [] { return 1; }), 1);
    EXPECT_TRUE(machine.abandonedSeen);
    EXPECT_TRUE(machine.logTexts().empty());
    EXPECT_EQ(machine.callCounts().at("releaseMutex"), 1);
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

// The limit counts UTF-16 units: U+1F4BE takes two, however wide wchar_t is.
TEST_F(CallLockTest, TextArgumentsUpTo259Units) {
    const std::wstring twoUnits = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDCBE)}
                                                       : std::wstring(1, static_cast<wchar_t>(0x1F4BE));
    const std::wstring fits = std::wstring(257, L'a') + twoUnits;
    EXPECT_EQ(textArgument(L"PH_Test", L"the path", fits.c_str()), fits);
    EXPECT_TRUE(log().empty());
    EXPECT_FALSE(textArgument(L"PH_Test", L"the path", std::wstring(5000, L'a').c_str()));
    machine.clearLog();
    EXPECT_FALSE(textArgument(L"PH_Test", L"the path", (L'a' + fits).c_str()));
    EXPECT_EQ(log(), std::vector<std::wstring>{
                         L"(KvPartitionHelper)PH_Test: the path is longer than 259 characters."});
}

TEST_F(CallLockTest, AMutexThatCannotBeMadeRefusesTheCall) {
    machine.injectFault({"createMutexW", 5, 0, 1, L""});
    bool ran = false;
    EXPECT_EQ(runExport(L"PH_Test",
                        [&] {
                            ran = true;
                            return 1;
                        }),
              0);
    EXPECT_FALSE(ran);
    EXPECT_EQ(log(),
              std::vector<std::wstring>{L"(KvPartitionHelper)PH_Test: the call lock could not be taken."});
}

}  // namespace
}  // namespace kvph::test
