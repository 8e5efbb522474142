#include <utility>

#include "FrameFixture.h"
#include "HostMachine.h"
#include "KvPartitionHelper.h"
#include "inventory/VhdxPresenceQuery.h"
#include "platform/WinConstants.h"

namespace kvph::test {
namespace {

constexpr wchar_t kDrive[] = L"D:\\vd\\drive.vhdx";
const std::wstring kCommandLine =
    L"diskpart /s \"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt\" >> \"C:\\Program "
    L"Files\\Host\\result.txt\"";

class PresenceQueryTest : public FrameTest {
protected:
    void addVdisk(const std::wstring& path, bool attached) {
        sim::VirtualDisk vdisk;
        vdisk.path = path;
        vdisk.maximumMB = 20480;
        vdisk.attached = attached;
        machine.model().vdisks.push_back(vdisk);
    }

    // The capture's own files are gone; the listing stays, hidden, when the batch file ran.
    void expectFilesLeftBehind(bool batchRan = true) {
        EXPECT_FALSE(machine.fileExists(kBatchFile));
        EXPECT_FALSE(machine.fileExists(kScriptFile));
        if (batchRan) {
            EXPECT_EQ(machine.fileAttributes(kResultFile),
                      win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
        } else {
            EXPECT_FALSE(machine.fileExists(kResultFile));
        }
    }
};

TEST_F(PresenceQueryTest, AttachedDriveThroughTheBatchCapture) {
    addVdisk(kDrive, true);
    EXPECT_EQ(PH_CheckExistVHDX(kDrive), 1);

    EXPECT_EQ(log(), (std::vector<std::wstring>{
                         kResultFile,
                         kCommandLine,
                         kBatchFile,
                         L"C:\\Windows\\System32\\",
                         L"(KvPartitionHelper)Create process OK.\r\n",
                         L"(KvPartitionHelper)diskpart list vdisk successfully.",
                     }));
    const std::string line2(kCommandLine.begin(), kCommandLine.end());
    EXPECT_EQ(machine.startedBatch, "chcp 65001\r\n" + line2 + "\r\n");
    EXPECT_EQ(machine.startedDirectory, L"C:\\Windows\\System32\\");
    EXPECT_EQ(machine.startedShowCommand, win::SW_HIDE_);
    EXPECT_TRUE(machine.processCreationFlags.empty());
    ASSERT_EQ(machine.diskpartRuns().size(), 1u);
    EXPECT_EQ(machine.diskpartRuns()[0].script, "list vdisk\r\nexit\r\n");
    expectFilesLeftBehind();
}

// The answer to each listing, and 0 with the exit code as last set when the capture fails; the capture's
// own files go either way.
TEST_F(PresenceQueryTest, ResultsOfTheQueryAndFailuresOfTheCapture) {
    using Stage = ProcessOutcome::Stage;
    struct Case {
        const char* name;
        std::wstring listed;  // empty: nothing listed
        bool attached;
        std::wstring asked;
        int result;
        std::map<std::wstring, std::wstring> words = {};  // empty: English
        std::optional<Stage> stage = std::nullopt;        // where the batch file's start ends
        std::uint32_t exitCode = 0;
        std::wstring lastLine = L"(KvPartitionHelper)diskpart list vdisk successfully.";
    };
    const std::wstring error0 = L"(KvPartitionHelper)diskpart error because of 0x00000000.";
    const std::wstring error2 = L"(KvPartitionHelper)diskpart error because of 0x00000002.";
    const std::vector<Case> cases = {
        {"attached", kDrive, true, kDrive, 1},
        {"compared in upper case", kDrive, true, L"d:\\VD\\Drive.VHDX", 1},
        {"not listed", L"", false, kDrive, 0},
        {"not a virtual disk file", L"D:\\vd\\drive.iso", true, L"D:\\vd\\drive.iso", 0},
        {"vhd extension", L"D:\\vd\\old.vhd", true, L"D:\\VD\\OLD.VHD", 1},
        // The shorter path is a prefix of the attached one, not the same file.
        {"prefix of an attached path", kDrive, true, L"D:\\vd\\drive.vhd", 0},
        {"longer than an attached path", L"D:\\vd\\drive.vhd", true, kDrive, 0},
        {"end of an attached path", kDrive, true, L"vd\\drive.vhdx", 0},
        {"attached, in another language", kDrive, true, kDrive, 1, inventedListWords()},
        {"not listed, in another language", L"", false, kDrive, 0, inventedListWords()},
        {"cannot start", kDrive, true, kDrive, 0, {}, Stage::NotStarted, 0, error0},
        {"wait fails", kDrive, true, kDrive, 0, {}, Stage::WaitFailed, 0, error0},
        {"exit code unreadable", kDrive, true, kDrive, 0, {}, Stage::ExitCodeUnreadable, 0, error0},
        {"exit code 2", kDrive, true, kDrive, 0, {}, std::nullopt, 2, error2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.model().vdisks.clear();
        machine.model().diskpart.words = c.words;
        machine.model().diskpart.exitCodes = {c.exitCode};
        machine.forcedStage = c.stage;
        if (!c.listed.empty()) {
            addVdisk(c.listed, c.attached);
        }
        machine.clearLog();
        EXPECT_EQ(PH_CheckExistVHDX(c.asked.c_str()), c.result);
        EXPECT_EQ(log().back(), c.lastLine);
        expectFilesLeftBehind(!c.stage.has_value());
    }
}

TEST_F(PresenceQueryTest, ScriptFileThatCannotBeWrittenStopsEverything) {
    addVdisk(kDrive, true);
    machine.putFile(kResultFile, "old listing", win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    machine.injectFault({"createFileW", win::ERROR_ACCESS_DENIED_, 0, 1, L"Command.txt"});
    EXPECT_EQ(PH_CheckExistVHDX(kDrive), 0);
    EXPECT_EQ(log(), std::vector<std::wstring>{L"(KvPartitionHelper)Create file fail.\r\n"});
    EXPECT_EQ(machine.fileBytes(kResultFile), std::optional<std::string>("old listing"));
    EXPECT_TRUE(machine.diskpartRuns().empty());
}

// The batch file's second line is read as UTF-8 after "chcp 65001", and cmd expands '%' there, so each is
// written twice; the listing lands in the library's own folder all the same.
TEST_F(PresenceQueryTest, LibraryFoldersReachTheBatchFileAsWritten) {
    const std::wstring drive = L"D:\\vd\\dr\u00efve \u4e2d.vhdx";
    addVdisk(drive, true);
    const std::pair<std::wstring, std::string> cases[] = {
        {L"C:\\Program Files\\H\u00f4st \u20ac", "C:\\Program Files\\H\xc3\xb4st \xe2\x82\xac"},
        {L"C:\\Program Files\\100% Host %1 %%", "C:\\Program Files\\100%% Host %%1 %%%%"},
    };
    for (const auto& [folder, written] : cases) {
        machine.putFolder(folder);
        machine.model().libraryPath = folder + L"\\KvPartitionHelper.dll";
        machine.clearLog();
        EXPECT_EQ(PH_CheckExistVHDX(drive.c_str()), 1);
        EXPECT_EQ(log().at(1), L"diskpart /s \"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt\" >> \"" +
                                   folder + L"\\result.txt\"");
        EXPECT_NE(machine.startedBatch.find(">> \"" + written + "\\result.txt\"\r\n"), std::string::npos)
            << machine.startedBatch;
        EXPECT_EQ(machine.fileAttributes(folder + L"\\result.txt"),
                  win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    }
}

TEST_F(PresenceQueryTest, CommandLineTooLongForItsBufferRunsNothingButCleansUp) {
    const std::wstring folder = L"C:\\Program Files\\" + std::wstring(190, L'h');
    machine.putFolder(folder);
    machine.model().libraryPath = folder + L"\\KvPartitionHelper.dll";
    addVdisk(kDrive, true);
    EXPECT_EQ(PH_CheckExistVHDX(kDrive), 0);
    EXPECT_TRUE(machine.diskpartRuns().empty());
    EXPECT_FALSE(machine.fileExists(folder + L"\\temp.bat"));
    EXPECT_FALSE(machine.fileExists(kScriptFile));
}

TEST(VdiskListTest, RowsInAnyLanguageAndTheirDisk) {
    TestMachine machine;
    ScopedPlatform installed(machine);
    machine.model().letters.push_back(L'C');
    const std::wstring result = L"C:\\result.txt";
    const std::string heading =
        "  VDisk ###  Disk ###  State                 Type       File\r\n"
        "  ---------  --------  --------------------  ---------  ----\r\n";
    struct Case {
        std::string bytes;
        std::wstring asked;
        bool attached;
        std::optional<int> disk;
    };
    const std::optional<int> none;
    const std::vector<Case> cases = {
        {heading + "  VDisk 1    Disk 2    Attached not open     Expandable  D:\\vd\\drive.vhdx\r\n", kDrive,
         true, 2},
        {"  VDisk 0    Disk 2    Attached not open     Expandable  D:\\vd\\drive.vhdx", kDrive, true, none},
        {"  VDisk 0    Disk 2    Attached     D:\\vd\\drive.vhdx.bak\r\n", kDrive, false, none},
        {"D:\\vd\\drive.vhdx\r\nAttached\r\n", kDrive, false, none},  // path and state on separate lines
        {"Attached  D:\\vd\\\xc3\xa9t\xc3\xa9.vhdx\r\n", L"D:\\vd\\\u00e9t\u00e9.vhdx", true, none},
        {"Attached  D:\\vd\\\xe9t\xe9.vhdx\r\n", L"D:\\vd\\\u00e9t\u00e9.vhdx", true, none},  // bytes
        // diskpart's own geometry: the focus marker in the indent, a type of 10 characters.
        {heading + "* VDisk 0    Disk 12   Attached not open     Fixed       D:\\vd\\two  blanks.vhdx\r\n",
         L"D:\\vd\\two  blanks.vhdx", true, 12},
        {heading + "  VDisk 0    Disk 2    Attached not open     Fixed       D:\\vd\\two  blanks.vhdx\r\n",
         L"D:\\vd\\two blanks.vhdx", false, none},
        // The word in the path is not the state.
        {heading + "  VDisk 0    Disk ---  Added                 Unknown     D:\\Attached\\drive.vhdx\r\n",
         L"D:\\Attached\\drive.vhdx", false, none},
        // The digits of other columns and of the path are no disk number.
        {heading + "  VDisk 7    ---       Added 2  D:\\vd\\drive.vhdx\r\n", kDrive, false, none},
        {heading + "  VDisk 0    D:\\2\\drive.vhdx\r\n", L"D:\\2\\drive.vhdx", false, none},
        {heading + "  VDisk 0    Disk 2 3  Added  D:\\vd\\drive.vhdx\r\n", kDrive, false, none},
        // Without a heading over the dashes, or without a second group of them, only the word counts.
        {"  ---------  --------\r\n  VDisk 0    Disk 2  Added  D:\\vd\\drive.vhdx\r\n", kDrive, false, none},
        {"  VDisk ###  Disk\r\n  ---------------\r\n  VDisk 0    Disk 2  Added  D:\\vd\\drive.vhdx", kDrive,
         false, none},
        {heading + "  VDisk 0    Disk 9999999999  Added   D:\\vd\\drive.vhdx\r\n", kDrive, false, none},
    };
    for (const Case& c : cases) {
        machine.putFile(result, c.bytes);
        const VdiskPresence presence = FindAttachedInVdiskList(result, c.asked);
        EXPECT_EQ(presence.attached, c.attached) << c.bytes;
        EXPECT_EQ(presence.diskNumber, c.disk) << c.bytes;
    }
    EXPECT_FALSE(FindAttachedInVdiskList(L"C:\\missing.txt", kDrive).attached);
}

}  // namespace
}  // namespace kvph::test
