#include <gtest/gtest.h>

#include <map>
#include <string>

#include "HostMachine.h"
#include "platform/WinConstants.h"
#include "sim/Machine.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;
using Stage = kvph::ProcessOutcome::Stage;

constexpr wchar_t kScript[] = L"C:\\Work\\Command.txt";
constexpr wchar_t kBatch[] = L"C:\\Work\\temp.bat";
constexpr wchar_t kResult[] = L"C:\\Work\\result.txt";
constexpr wchar_t kRunScript[] = L"diskpart /s \"C:\\Work\\Command.txt\"";
const std::string kBatchText =
    "chcp 65001\r\ndiskpart /s \"C:\\Work\\Command.txt\" >> \"C:\\Work\\result.txt\"\r\n";

class SimProcessesTest : public ::testing::Test {
protected:
    SimProcessesTest() {
        machine.model().letters = {L'C', L'D'};
        machine.putFolder(L"C:\\Work");
        machine.putFolder(L"D:\\vd");
    }

    kvph::ProcessOutcome runScript(const std::string& script) {
        machine.putFile(kScript, script);
        return machine.createProcessAndWait(L"", kRunScript, win::CREATE_NO_WINDOW_);
    }

    kvph::ProcessOutcome runBatch(const std::string& batch) {
        machine.putFile(kBatch, batch);
        return machine.shellExecuteAndWait(L"Open", kBatch, L"", L"C:\\Windows\\System32\\", win::SW_HIDE_);
    }

    const VirtualDisk& vdisk(std::size_t index) const { return machine.model().vdisks.at(index); }

    Machine machine;
};

TEST_F(SimProcessesTest, VirtualDiskCommandsCheckTheirPreconditions) {
    struct Case {
        const char* name;
        std::string script;
        bool succeeds;
    };
    const std::string select = "select vdisk file=\"D:\\vd\\a.vhdx\"\r\n";
    const Case cases[] = {
        {"create", "CREATE VDISK FILE=\"D:\\vd\\a.vhdx\" TYPE=FIXED MAXIMUM=50\r\nexit\r\n", true},
        {"create again", "create vdisk file=\"D:\\vd\\a.vhdx\" type=fixed maximum=50\r\n", false},
        {"create in a missing folder", "create vdisk file=\"D:\\none\\b.vhdx\" type=fixed maximum=50\r\n",
         false},
        {"create without a size", "create vdisk file=\"D:\\vd\\c.vhdx\" type=fixed\r\n", false},
        {"detach while detached", select + "detach vdisk\r\n", false},
        {"expand", select + "expand vdisk maximum=80\r\n", true},
        {"expand to a smaller size", select + "expand vdisk maximum=60\r\n", false},
        {"attach", select + "attach vdisk\r\n", true},
        {"attach twice", select + "attach vdisk\r\n", false},
        {"expand while attached", select + "expand vdisk maximum=90\r\n", false},
        {"compact while attached", select + "compact vdisk\r\n", false},
        {"detach", select + "detach vdisk\r\n", true},
        {"compact", select + "compact vdisk\r\n", true},
        {"select an unknown file", "select vdisk file=\"D:\\vd\\zzz.vhdx\"\r\n", false},
        {"attach with nothing selected", "attach vdisk\r\n", false},
        {"unknown command", "frobnicate disk\r\n", false},
        {"nothing after exit runs", "exit\r\nfrobnicate disk\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = runScript(c.script);
        EXPECT_EQ(outcome.stage, Stage::Exited);
        EXPECT_EQ(outcome.exitCode == 0, c.succeeds) << machine.diskpartRuns().back().output;
    }
    ASSERT_EQ(machine.model().vdisks.size(), 1u);
    EXPECT_FALSE(vdisk(0).expandable);
    EXPECT_EQ(vdisk(0).maximumMB, 80);
    EXPECT_FALSE(vdisk(0).attached);
}

// Without an application name the platform looks in the host program's folder and the current folder
// before the system folder, so a diskpart.exe put there runs instead of the system's.
TEST_F(SimProcessesTest, AStartWithoutAnApplicationNameRunsTheFirstDiskpartTheSearchFinds) {
    const std::wstring system = L"C:\\Windows\\System32\\diskpart.exe";
    const std::wstring inProgramFolder = L"C:\\Program Files\\Host\\diskpart.exe";
    const std::wstring inCurrentFolder = L"C:\\Work\\diskpart.exe";
    struct Case {
        const char* name;
        std::vector<std::wstring> planted;  // besides what earlier rows planted
        std::wstring applicationName;
        std::wstring ran;
    };
    const Case cases[] = {
        {"in the current folder", {inCurrentFolder}, L"", inCurrentFolder},
        {"in the program's folder first", {inProgramFolder}, L"", inProgramFolder},
        {"the system's named outright", {}, system, system},
    };
    machine.model().currentDirectory = L"C:\\Work";
    machine.putFolder(L"C:\\Program Files\\Host");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::wstring& path : c.planted) {
            machine.putFile(path, "planted");
        }
        machine.putFile(kScript, "create vdisk file=\"D:\\vd\\a.vhdx\" type=fixed maximum=50\r\n");
        const auto outcome = machine.createProcessAndWait(c.applicationName, kRunScript, 0);
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_EQ(machine.diskpartRuns().back().program, c.ran);
        // Only the system's diskpart runs the script.
        EXPECT_EQ(machine.model().vdisks.size(), c.ran == system ? 1u : 0u);
    }
}

// After "chcp 65001" what diskpart prints reaches the file as UTF-8, without it in the ANSI code page.
TEST_F(SimProcessesTest, BatchCaptureAppendsDiskpartOutputInTheConsolesCodePage) {
    machine.model().vdisks.push_back({L"D:\\vd\\Caf\u00e9.vhdx", true, 100, true, false, {}});
    machine.putFile(kScript, "list vdisk\r\nexit\r\n");
    const std::pair<std::string, std::string> cases[] = {{kBatchText, "Caf\xc3\xa9"},
                                                         {kBatchText.substr(12), "Caf\xe9"}};
    for (const auto& [batch, name] : cases) {
        machine.putFile(kResult, "earlier\r\n");
        const auto outcome = runBatch(batch);
        EXPECT_EQ(outcome.stage, Stage::Exited);
        EXPECT_EQ(outcome.exitCode, 0u);
        const std::string result = machine.fileBytes(kResult).value_or("");
        EXPECT_EQ(result.rfind("earlier\r\n", 0), 0u);
        EXPECT_NE(result.find("Attached not open     Expandable  D:\\vd\\" + name + ".vhdx\r\n"),
                  std::string::npos)
            << result;
        EXPECT_EQ(machine.diskpartRuns().back().commandLine,
                  L"diskpart /s \"C:\\Work\\Command.txt\" >> \"C:\\Work\\result.txt\"");
    }
}

// A batch line whose diskpart cannot run: the errorlevel says why, and the output's file is made before
// the program starts, if its folder is there.
TEST_F(SimProcessesTest, BatchLinesWhoseDiskpartCannotRun) {
    struct Case {
        const char* name;
        std::string line;
        bool cannotStart;
        std::uint32_t exitCode;
        bool resultMade;
        std::size_t runs;
    };
    const std::string toResult = " >> \"C:\\Work\\result.txt\"\r\n";
    const Case cases[] = {
        {"no script file", "diskpart /s \"C:\\Work\\none.txt\"" + toResult, false, 3, true, 1},
        {"diskpart cannot start", "diskpart /s \"C:\\Work\\Command.txt\"" + toResult, true, 9009, true, 0},
        {"output into a missing folder",
         "diskpart /s \"C:\\Work\\Command.txt\" >> \"C:\\Gone\\result.txt\"\r\n", false, 1, false, 0},
    };
    machine.putFile(kScript, "list vdisk\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.deleteFileW(kResult);
        machine.model().diskpart.cannotStart = c.cannotStart;
        const std::size_t runsBefore = machine.diskpartRuns().size();
        EXPECT_EQ(runBatch(c.line).exitCode, c.exitCode);
        EXPECT_EQ(machine.fileExists(kResult), c.resultMade);
        EXPECT_EQ(machine.diskpartRuns().size() - runsBefore, c.runs);
    }
}

// The attached virtual disks, and a detached one only while the run has it selected; in English exactly
// as diskpart prints them, in other words with the columns widened to fit.
TEST_F(SimProcessesTest, VdiskListShowsTheAttachedDisksAndTheSelectedOne) {
    machine.model().vdisks.push_back({L"D:\\vd\\a.vhdx", true, 100, true, false, {}});
    machine.model().vdisks.push_back({L"D:\\vd\\b.vhdx", false, 100, false, false, {}});
    machine.model().vdisks.push_back({L"D:\\vd\\two  blanks.vhdx", false, 100, true, false, {}});
    machine.model().vdisks[0].disk.number = 2;
    machine.model().vdisks[2].disk.number = 3;
    machine.putFile(L"D:\\vd\\b.vhdx", "image");
    const std::string heading =
        "  VDisk ###  Disk ###  State                 Type       File\r\n"
        "  ---------  --------  --------------------  ---------  ----\r\n";
    // The type takes 10 characters and two blanks: the path starts one column right of "File".
    const std::string a = "  VDisk 0    Disk 2    Attached not open     Expandable  D:\\vd\\a.vhdx\r\n";
    const std::string blanks = "    Disk 3    Attached not open     Fixed       D:\\vd\\two  blanks.vhdx\r\n";
    // Words no rule knows widen the Disk and Type columns.
    const std::wstring invented =
        L"  Ξολοβ ###  Φικοτρυ ###  Δερμ                  Τυπ          Ψ\r\n"
        L"  ---------  -----------  --------------------  -----------  ----\r\n"
        L"  Ξολοβ 0    Φικοτρυ 2    Ωμεγ λοκ              Ελαστοκοραξ  D:\\vd\\a.vhdx\r\n";
    struct Case {
        const char* script;
        std::map<std::wstring, std::wstring> words;
        std::string expected;
    };
    const Case cases[] = {
        {"select vdisk file=\"D:\\vd\\b.vhdx\"\r\nlist vdisk\r\n",
         {},
         heading + a +
             "* VDisk 1    Disk ---  Added                 Unknown     D:\\vd\\b.vhdx\r\n  VDisk 2" + blanks +
             "\r\n"},
        {"list vdisk\r\n", {}, heading + a + "  VDisk 1" + blanks + "\r\n"},
        {"select vdisk file=\"D:\\vd\\b.vhdx\"\r\nlist vdisk\r\n", kvph::test::inventedListWords(),
         text::toUtf8(invented)},
    };
    for (const Case& c : cases) {
        machine.model().diskpart.words = c.words;
        runScript(c.script);
        const std::string output = machine.diskpartRuns().back().output;
        EXPECT_NE(output.find("\r\n" + c.expected), std::string::npos) << output;
    }
}

TEST_F(SimProcessesTest, AttachGivesATakenLetterUp) {
    VirtualDisk vdisk{L"D:\\vd\\a.vhdx", true, 100, false, false, {}};
    vdisk.disk.volumes.push_back({2048, L'C', L"NTFS", L"", false, 0});  // C is taken meanwhile
    vdisk.disk.volumes.push_back({4096, L'V', L"NTFS", L"", false, 0});
    machine.model().vdisks.push_back(vdisk);
    machine.putFile(L"D:\\vd\\a.vhdx", "image");
    EXPECT_EQ(runScript("select vdisk file=\"D:\\vd\\a.vhdx\"\r\nattach vdisk\r\n").exitCode, 0u);
    const auto& volumes = machine.model().vdisks[0].disk.volumes;
    EXPECT_EQ(volumes[0].letter, std::optional<wchar_t>(L'E'));  // the first free letter after D
    EXPECT_EQ(volumes[1].letter, std::optional<wchar_t>(L'V'));
}

}  // namespace
}  // namespace sim
