#include "FrameFixture.h"
#include "frame/Folders.h"
#include "platform/WinConstants.h"

namespace kvph::test {
namespace {

using FoldersTest = FrameTest;

TEST_F(FoldersTest, LibraryFoldersEndWithOneBackslash) {
    EXPECT_EQ(DataDirectory(), kDataDirectory);
    EXPECT_EQ(LibraryFolder(), kLibraryFolder);

    machine.model().commonAppData = L"C:\\ProgramData\\";
    EXPECT_EQ(DataDirectory(), kDataDirectory);
}

TEST_F(FoldersTest, EnsureDirectoryOnEachKindOfPath) {
    machine.putFolder(L"C:\\Shared");
    machine.putFolder(L"C:\\Existing");
    machine.putFile(L"C:\\Blocked", "a file where a folder should be");
    machine.putFile(L"C:\\Shared.txt", "x", win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_READONLY_);
    machine.model().letters.push_back(L'D');
    struct Case {
        std::wstring path;
        int result;
        std::vector<std::wstring> existAfterwards;
        std::vector<std::wstring> missingAfterwards;
    };
    const std::vector<Case> cases = {
        // A folder path ending with a backslash is created completely.
        {L"C:\\Shared\\Norvel\\Quillmark\\",
         1,
         {L"C:\\Shared\\Norvel", L"C:\\Shared\\Norvel\\Quillmark"},
         {}},
        // An existing folder only has its attributes reset.
        {L"C:\\Existing", 1, {L"C:\\Existing"}, {}},
        // A file path gets its folders, not the file.
        {L"D:\\Drives\\disk.vhdx", 0, {L"D:\\Drives"}, {L"D:\\Drives\\disk.vhdx"}},
        // A drive that does not exist: nothing is created.
        {L"Q:\\Drives\\Deep\\", 0, {}, {L"Q:\\Drives"}},
        // A file where a folder should be: nothing is created beyond it.
        {L"C:\\Blocked\\Inner\\", 0, {}, {L"C:\\Blocked\\Inner"}},
        // An existing file has its attributes reset.
        {L"C:\\Shared.txt", 1, {L"C:\\Shared.txt"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        EXPECT_EQ(EnsureDirectory(c.path), c.result);
        for (const auto& path : c.existAfterwards) {
            EXPECT_TRUE(machine.pathFileExistsW(path));
        }
        for (const auto& path : c.missingAfterwards) {
            EXPECT_FALSE(machine.pathFileExistsW(path));
        }
    }
    EXPECT_EQ(machine.fileAttributes(L"C:\\Shared.txt"), win::FILE_ATTRIBUTE_NORMAL_);
}

}  // namespace
}  // namespace kvph::test
