#include <string>
#include <vector>

#include "FrameFixture.h"
#include "frame/ExportGuard.h"
#include "frame/UniqueHandle.h"

namespace kvph::test {
namespace {

// Records the order of the calls that give handles and mutexes back.
class ReleaseOrderMachine : public TestMachine {
public:
    BoolResult releaseMutex(Handle mutex) override {
        calls.push_back("releaseMutex");
        return TestMachine::releaseMutex(mutex);
    }
    BoolResult closeHandle(Handle handle) override {
        calls.push_back("closeHandle");
        return TestMachine::closeHandle(handle);
    }
    std::vector<std::string> calls;
};

class HandleOwnershipTest : public FrameTest {
protected:
    Handle openMutex() { return machine.createMutexW(L"Local\\Test").handle; }
};

// Each handle is closed once, through the call of its kind; a moved-from owner and the values that name no
// handle close nothing.
TEST_F(HandleOwnershipTest, EachHandleIsClosedOnceThroughTheCallOfItsKind) {
    {
        UniqueHandle kept(openMutex());
        UniqueHandle moved(openMutex());
        kept = std::move(moved);
        EXPECT_EQ(calls("closeHandle"), 1);
        EXPECT_EQ(machine.openHandleCount(), 1u);
        EXPECT_FALSE(moved.valid());
        for (const Handle none : {kNullHandle, kInvalidHandle}) {
            UniqueHandle kernel(none);
            EXPECT_FALSE(kernel.valid());
        }
        UniqueNtHandle(kNullHandle).reset();
    }
    EXPECT_EQ(calls("closeHandle"), 2);
    { UniqueNtHandle link(openMutex()); }
    EXPECT_EQ(calls("ntClose"), 1);
    EXPECT_EQ(calls("closeHandle"), 2);
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

TEST(CallLockReleaseTest, TheCallLockReleasesTheMutexBeforeClosingIt) {
    ReleaseOrderMachine machine;
    ScopedPlatform installed(machine);
    {
        CallLock lock;
        ASSERT_TRUE(lock.held());
    }
    EXPECT_EQ(machine.calls, (std::vector<std::string>{"releaseMutex", "closeHandle"}));
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

}  // namespace
}  // namespace kvph::test
