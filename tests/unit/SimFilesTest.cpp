#include <gtest/gtest.h>

#include "platform/WinConstants.h"
#include "sim/Machine.h"

namespace sim {
namespace {

namespace win = kvph::win;

constexpr std::uint32_t kReadWrite = win::GENERIC_READ_ | win::GENERIC_WRITE_;

class SimFilesTest : public ::testing::Test {
protected:
    SimFilesTest() {
        machine.model().letters.push_back(L'C');
        machine.putFolder(L"C:\\Data");
        machine.putFile(L"C:\\Data\\plain.txt", "plain");
        machine.putFile(L"C:\\Data\\locked.txt", "locked", win::FILE_ATTRIBUTE_READONLY_);
        machine.putFile(L"C:\\Data\\hidden.txt", "hidden",
                        win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    }

    kvph::HandleResult create(const std::wstring& path, std::uint32_t disposition,
                              std::uint32_t attributes = win::FILE_ATTRIBUTE_NORMAL_) {
        return machine.createFileW(path, kReadWrite, 3, disposition, attributes);
    }

    Machine machine;
};

TEST_F(SimFilesTest, PathExistence) {
    struct Case {
        const wchar_t* path;
        bool exists;
    };
    const Case cases[] = {
        {L"C:", true},
        {L"c:\\", true},
        {L"C:/", true},
        {L"D:", false},
        {L"D:\\", false},
        {L"C:\\data", true},
        {L"C:\\DATA\\", true},
        {L"C:/Data//plain.TXT", true},
        {L"C:\\Data\\plain.txt\\", false},  // a trailing backslash names a folder
        {L"C:\\Data\\missing.txt", false},
        {L"Data\\plain.txt", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(machine.pathFileExistsW(c.path), c.exists) << std::string(c.path, c.path + wcslen(c.path));
    }
}

TEST_F(SimFilesTest, FilesOnADriveThatIsGoneAreNotFound) {
    machine.putFolder(L"E:\\Stored");
    machine.putFile(L"E:\\Stored\\file.txt", "x");
    EXPECT_FALSE(machine.pathFileExistsW(L"E:\\Stored\\file.txt"));
    machine.model().letters.push_back(L'E');
    EXPECT_TRUE(machine.pathFileExistsW(L"E:\\Stored\\file.txt"));
}

TEST_F(SimFilesTest, AttributeAndDeleteRules) {
    EXPECT_EQ(machine.getFileAttributesW(L"C:\\Data"), win::FILE_ATTRIBUTE_DIRECTORY_);
    EXPECT_EQ(machine.getFileAttributesW(L"C:\\Data\\missing.txt"), std::nullopt);

    const auto locked = machine.deleteFileW(L"C:\\Data\\locked.txt");
    EXPECT_FALSE(locked.ok);
    EXPECT_EQ(locked.error, win::ERROR_ACCESS_DENIED_);

    EXPECT_EQ(machine.deleteFileW(L"C:\\Data\\missing.txt").error, win::ERROR_FILE_NOT_FOUND_);
    EXPECT_EQ(machine.deleteFileW(L"C:\\Nowhere\\missing.txt").error, win::ERROR_PATH_NOT_FOUND_);
    EXPECT_EQ(machine.deleteFileW(L"C:\\Data").error, win::ERROR_ACCESS_DENIED_);

    // NORMAL next to other attributes is dropped; "none" reads back as NORMAL.
    EXPECT_TRUE(machine.setFileAttributesW(L"C:\\Data\\locked.txt", win::FILE_ATTRIBUTE_NORMAL_).ok);
    EXPECT_EQ(machine.fileAttributes(L"C:\\Data\\locked.txt"), win::FILE_ATTRIBUTE_NORMAL_);
    EXPECT_TRUE(machine.setFileAttributesW(L"C:\\Data\\plain.txt", win::FILE_ATTRIBUTE_NORMAL_ | 0x2).ok);
    EXPECT_EQ(machine.fileAttributes(L"C:\\Data\\plain.txt"), win::FILE_ATTRIBUTE_HIDDEN_);
    EXPECT_TRUE(machine.setFileAttributesW(L"C:\\Data\\plain.txt", 0).ok);
    EXPECT_EQ(machine.fileAttributes(L"C:\\Data\\plain.txt"), win::FILE_ATTRIBUTE_NORMAL_);

    EXPECT_TRUE(machine.deleteFileW(L"c:\\data\\LOCKED.txt").ok);
    EXPECT_FALSE(machine.fileExists(L"C:\\Data\\locked.txt"));
}

TEST_F(SimFilesTest, OpenFilesCannotBeDeleted) {
    const auto opened = create(L"C:\\Data\\plain.txt", win::OPEN_EXISTING_);
    ASSERT_NE(opened.handle, kvph::kInvalidHandle);
    EXPECT_EQ(machine.deleteFileW(L"C:\\Data\\plain.txt").error, 32u);  // ERROR_SHARING_VIOLATION
    EXPECT_TRUE(machine.closeHandle(opened.handle).ok);
    EXPECT_FALSE(machine.closeHandle(opened.handle).ok);
    EXPECT_EQ(machine.closeHandle(opened.handle).error, win::ERROR_INVALID_HANDLE_);
    EXPECT_TRUE(machine.deleteFileW(L"C:\\Data\\plain.txt").ok);
}

TEST_F(SimFilesTest, MakingFolders) {
    EXPECT_EQ(machine.wmkdir(L"C:\\Data\\New\\"), 0);
    EXPECT_TRUE(machine.pathFileExistsW(L"C:\\Data\\New"));
    EXPECT_EQ(machine.wmkdir(L"C:\\Data\\New"), -1);        // already there
    EXPECT_EQ(machine.wmkdir(L"C:\\Data\\plain.txt"), -1);  // a file is there
    EXPECT_EQ(machine.wmkdir(L"C:\\Missing\\Inner"), -1);   // parent missing
    EXPECT_EQ(machine.wmkdir(L"Q:\\Folder"), -1);           // drive missing
    EXPECT_EQ(machine.wmkdir(L"C:\\"), -1);
    EXPECT_FALSE(machine.pathFileExistsW(L"C:\\Missing"));
}

TEST_F(SimFilesTest, CreationDispositions) {
    struct Case {
        const char* name;
        const wchar_t* path;
        std::uint32_t disposition;
        std::uint32_t attributes;
        bool opens;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"new file", L"C:\\Data\\new.txt", win::CREATE_ALWAYS_, win::FILE_ATTRIBUTE_NORMAL_, true, 0},
        {"replace", L"C:\\Data\\plain.txt", win::CREATE_ALWAYS_, win::FILE_ATTRIBUTE_NORMAL_, true, 183},
        {"replace read-only", L"C:\\Data\\locked.txt", win::CREATE_ALWAYS_, win::FILE_ATTRIBUTE_NORMAL_,
         false, win::ERROR_ACCESS_DENIED_},
        {"replace hidden without hidden", L"C:\\Data\\hidden.txt", win::CREATE_ALWAYS_,
         win::FILE_ATTRIBUTE_NORMAL_, false, win::ERROR_ACCESS_DENIED_},
        {"replace hidden with hidden", L"C:\\Data\\hidden.txt", win::CREATE_ALWAYS_,
         win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_, true, 183},
        {"create new over existing", L"C:\\Data\\plain.txt", win::CREATE_NEW_, 0, false, 80},
        {"open missing", L"C:\\Data\\missing.txt", win::OPEN_EXISTING_, 0, false, win::ERROR_FILE_NOT_FOUND_},
        {"open read-only for writing", L"C:\\Data\\locked.txt", win::OPEN_EXISTING_, 0, false,
         win::ERROR_ACCESS_DENIED_},
        {"open always existing", L"C:\\Data\\plain.txt", win::OPEN_ALWAYS_, 0, true, 183},
        {"missing folder", L"C:\\Nowhere\\a.txt", win::CREATE_ALWAYS_, 0, false, win::ERROR_PATH_NOT_FOUND_},
        {"a folder", L"C:\\Data", win::OPEN_EXISTING_, 0, false, win::ERROR_ACCESS_DENIED_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = create(c.path, c.disposition, c.attributes);
        EXPECT_EQ(result.handle != kvph::kInvalidHandle, c.opens);
        EXPECT_EQ(result.error, c.error);
        if (c.opens) {
            machine.closeHandle(result.handle);
        }
    }
    EXPECT_EQ(machine.fileBytes(L"C:\\Data\\plain.txt"), std::string());  // CREATE_ALWAYS truncated it
    EXPECT_EQ(machine.fileAttributes(L"C:\\Data\\new.txt"), win::FILE_ATTRIBUTE_ARCHIVE_);
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

TEST_F(SimFilesTest, WritesAndReadsFollowThePosition) {
    const auto file = create(L"C:\\Data\\new.bin", win::CREATE_ALWAYS_);
    EXPECT_EQ(machine.writeFile(file.handle, {'a', 'b', 'c'}).bytesWritten, 3u);
    EXPECT_EQ(machine.writeFile(file.handle, {'d'}).bytesWritten, 1u);
    EXPECT_TRUE(machine.flushFileBuffers(file.handle).ok);
    machine.closeHandle(file.handle);
    EXPECT_EQ(machine.fileBytes(L"C:\\Data\\new.bin"), std::string("abcd"));

    const auto reader =
        machine.createFileW(L"C:\\Data\\new.bin", win::GENERIC_READ_, 1, win::OPEN_EXISTING_, 0);
    EXPECT_EQ(machine.readFile(reader.handle, 3).data, (kvph::Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(machine.readFile(reader.handle, 3).data, (kvph::Bytes{'d'}));
    EXPECT_TRUE(machine.readFile(reader.handle, 3).data.empty());
    EXPECT_EQ(machine.writeFile(reader.handle, {'x'}).error, win::ERROR_ACCESS_DENIED_);
    machine.closeHandle(reader.handle);
}

TEST_F(SimFilesTest, VolumesOfVirtualDisksComeAndGoWithTheirDisk) {
    machine.putFile(L"C:\\Data\\drive.vhdx", "image");
    VirtualDisk vdisk{L"C:\\Data\\drive.vhdx", true, 100, false, false, {}};
    vdisk.disk.volumes.push_back({2048, L'V', L"NTFS", L"Duskvale", false, 1 << 20});
    machine.model().vdisks.push_back(vdisk);
    machine.putFolder(L"V:\\Stored");
    VirtualDisk& known = machine.model().vdisks.back();

    EXPECT_FALSE(machine.pathFileExistsW(L"V:\\Stored"));
    EXPECT_EQ(machine.wmkdir(L"V:\\Other"), -1);

    known.attached = true;
    known.readOnly = true;
    EXPECT_TRUE(machine.pathFileExistsW(L"V:\\Stored"));
    EXPECT_EQ(machine.createFileW(L"V:\\Stored\\new.txt", kReadWrite, 3, win::CREATE_ALWAYS_, 0).error, 19u);
    EXPECT_EQ(machine.wmkdir(L"V:\\Other"), -1);
    EXPECT_EQ(machine.deleteFileW(L"C:\\Data\\drive.vhdx").error, 32u);  // in use while attached

    known.readOnly = false;
    EXPECT_EQ(machine.wmkdir(L"V:\\Other"), 0);

    known.attached = false;
    EXPECT_TRUE(machine.deleteFileW(L"C:\\Data\\drive.vhdx").ok);
    EXPECT_TRUE(machine.model().vdisks.empty());  // a detached disk whose file is gone is forgotten
}

}  // namespace
}  // namespace sim
