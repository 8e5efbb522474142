#include "FrameFixture.h"
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

    std::vector<std::wstring> logAfterCapture() const {
        const auto lines = log();
        return lines.size() > 4 ? std::vector<std::wstring>(lines.begin() + 4, lines.end()) : lines;
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
    EXPECT_EQ(machine.startedVerb, L"Open");
    EXPECT_EQ(machine.startedParameters, L"");
    EXPECT_EQ(machine.startedDirectory, L"C:\\Windows\\System32\\");
    EXPECT_EQ(machine.startedShowCommand, win::SW_HIDE_);
    EXPECT_TRUE(machine.processCreationFlags.empty());
    ASSERT_EQ(machine.diskpartRuns().size(), 1u);
    EXPECT_EQ(machine.diskpartRuns()[0].script, "list vdisk\r\nexit\r\n");
    expectFilesLeftBehind();
}

TEST_F(PresenceQueryTest, ResultsOfTheQuery) {
    struct Case {
        const char* name;
        std::wstring listed;  // empty: nothing listed
        bool attached;
        std::wstring asked;
        int result;
    };
    const std::vector<Case> cases = {
        {"attached", kDrive, true, kDrive, 1},
        {"compared in upper case", kDrive, true, L"d:\\VD\\Drive.VHDX", 1},
        {"only added", kDrive, false, kDrive, 0},
        {"not listed", L"", false, kDrive, 0},
        {"not a virtual disk file", L"D:\\vd\\drive.iso", true, L"D:\\vd\\drive.iso", 0},
        {"vhd extension", L"D:\\vd\\old.vhd", true, L"D:\\VD\\OLD.VHD", 1},
        // The shorter path is a prefix of the attached one, not the same file.
        {"prefix of an attached path", kDrive, true, L"D:\\vd\\drive.vhd", 0},
        {"longer than an attached path", L"D:\\vd\\drive.vhd", true, kDrive, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.model().vdisks.clear();
        if (!c.listed.empty()) {
            addVdisk(c.listed, c.attached);
        }
        machine.clearLog();
        EXPECT_EQ(PH_CheckExistVHDX(c.asked.c_str()), c.result);
        EXPECT_EQ(logAfterCapture(),
                  (std::vector<std::wstring>{L"(KvPartitionHelper)Create process OK.\r\n",
                                             L"(KvPartitionHelper)diskpart list vdisk successfully."}));
        expectFilesLeftBehind();
    }
}

TEST_F(PresenceQueryTest, FailuresOfTheCapture) {
    struct Case {
        const char* name;
        std::optional<ProcessOutcome::Stage> stage;
        std::vector<std::uint32_t> exitCodes;
        std::vector<std::wstring> log;
    };
    using Stage = ProcessOutcome::Stage;
    const std::wstring notStarted = L"(KvPartitionHelper)Create process fail.\r\n";
    const std::wstring started = L"(KvPartitionHelper)Create process OK.\r\n";
    const std::wstring error0 = L"(KvPartitionHelper)diskpart error because of 0x00000000.";
    const std::wstring error2 = L"(KvPartitionHelper)diskpart error because of 0x00000002.";
    const std::vector<Case> cases = {
        {"cannot start", Stage::NotStarted, {}, {notStarted, error0}},
        {"wait fails", Stage::WaitFailed, {}, {started, error0}},
        {"exit code unreadable", Stage::ExitCodeUnreadable, {}, {started, error0}},
        {"exit code 2", std::nullopt, {2}, {started, error2}},
    };
    addVdisk(kDrive, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.forcedStage = c.stage;
        machine.model().diskpart.exitCodes = c.exitCodes;
        machine.clearLog();
        EXPECT_EQ(PH_CheckExistVHDX(kDrive), 0);
        EXPECT_EQ(logAfterCapture(), c.log);
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

TEST_F(PresenceQueryTest, NonAsciiFoldersAndPathsSurviveTheBatchFile) {
    machine.putFolder(L"C:\\Program Files\\H\u00f4st \u20ac");
    machine.model().libraryPath = L"C:\\Program Files\\H\u00f4st \u20ac\\KvPartitionHelper.dll";
    const std::wstring drive = L"D:\\vd\\dr\u00efve \u4e2d.vhdx";
    addVdisk(drive, true);
    EXPECT_EQ(PH_CheckExistVHDX(drive.c_str()), 1);
    EXPECT_EQ(machine.fileAttributes(L"C:\\Program Files\\H\u00f4st \u20ac\\result.txt"),
              win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    // The line after "chcp 65001" is UTF-8.
    EXPECT_NE(machine.startedBatch.find(">> \"C:\\Program Files\\H\xc3\xb4st \xe2\x82\xac\\result.txt\"\r\n"),
              std::string::npos)
        << machine.startedBatch;
}

TEST_F(PresenceQueryTest, PercentSignsInTheLibraryFolderReachTheCommandAsWritten) {
    const std::wstring folder = L"C:\\Program Files\\100% Host %1 %%";
    machine.putFolder(folder);
    machine.model().libraryPath = folder + L"\\KvPartitionHelper.dll";
    addVdisk(kDrive, true);

    EXPECT_EQ(PH_CheckExistVHDX(kDrive), 1);

    EXPECT_EQ(log()[1], L"diskpart /s \"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt\" >> \"" + folder +
                            L"\\result.txt\"");
    EXPECT_NE(machine.startedBatch.find(">> \"C:\\Program Files\\100%% Host %%1 %%%%\\result.txt\"\r\n"),
              std::string::npos)
        << machine.startedBatch;
    EXPECT_EQ(machine.fileAttributes(folder + L"\\result.txt"),
              win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
}

TEST_F(PresenceQueryTest, CommandLineTooLongForItsBufferRunsNothingButCleansUp) {
    const std::wstring folder = L"C:\\Program Files\\" + std::wstring(190, L'h');
    machine.putFolder(folder);
    machine.model().libraryPath = folder + L"\\KvPartitionHelper.dll";
    addVdisk(kDrive, true);
    EXPECT_EQ(PH_CheckExistVHDX(kDrive), 0);
    const auto lines = log();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], folder + L"\\temp.bat");
    EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 3, lines.end()),
              (std::vector<std::wstring>{L"(KvPartitionHelper)Command line too long.\r\n",
                                         L"(KvPartitionHelper)diskpart error because of 0x00000000."}));
    EXPECT_TRUE(machine.diskpartRuns().empty());
    EXPECT_FALSE(machine.fileExists(folder + L"\\temp.bat"));
    EXPECT_FALSE(machine.fileExists(kScriptFile));
}

TEST(VdiskListTest, LinesAreReadAsUtf8OrBytes) {
    TestMachine machine;
    ScopedPlatform installed(machine);
    machine.model().letters.push_back(L'C');
    const std::wstring result = L"C:\\result.txt";
    struct Case {
        std::string bytes;
        std::wstring asked;
        int found;
    };
    const std::vector<Case> cases = {
        {"  VDisk 0    Disk 2    Attached not open     Expandable  D:\\vd\\drive.vhdx\r\n", kDrive, 1},
        {"  VDisk 0    Disk 2    Attached not open     Expandable  D:\\vd\\drive.vhdx", kDrive, 1},
        {"  VDisk 0    Disk 2    Attached     D:\\vd\\drive.vhdx.bak\r\n", kDrive, 0},
        {"D:\\vd\\drive.vhdx\r\nAttached\r\n", kDrive, 0},  // path and state on separate lines
        {"Attached  D:\\vd\\\xc3\xa9t\xc3\xa9.vhdx\r\n", L"D:\\vd\\\u00e9t\u00e9.vhdx", 1},
        {"Attached  D:\\vd\\\xe9t\xe9.vhdx\r\n", L"D:\\vd\\\u00e9t\u00e9.vhdx", 1},  // not UTF-8: bytes
        // diskpart's own geometry: the focus marker in the indent, a type of 10 characters.
        {"* VDisk 0    Disk 2    Attached not open     Fixed       D:\\vd\\two  blanks.vhdx\r\n",
         L"D:\\vd\\two  blanks.vhdx", 1},
        {"  VDisk 0    Disk 2    Attached not open     Fixed       D:\\vd\\two  blanks.vhdx\r\n",
         L"D:\\vd\\two blanks.vhdx", 0},
        // The word in the path is not the state.
        {"  VDisk 0    Disk ---  Added                 Unknown     D:\\Attached\\drive.vhdx\r\n",
         L"D:\\Attached\\drive.vhdx", 0},
    };
    for (const Case& c : cases) {
        machine.putFile(result, c.bytes);
        EXPECT_EQ(FindAttachedInVdiskList(result, c.asked), c.found) << c.bytes;
    }
    EXPECT_EQ(FindAttachedInVdiskList(L"C:\\missing.txt", kDrive), 0);
}

}  // namespace
}  // namespace kvph::test
