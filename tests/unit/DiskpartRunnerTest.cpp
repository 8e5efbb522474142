#include "FrameFixture.h"
#include "frame/DiskpartCommands.h"
#include "frame/DiskpartRunner.h"
#include "frame/Text.h"
#include "platform/WinConstants.h"

namespace kvph::test {
namespace {

using RunnerTest = FrameTest;

// Any script the stand-in diskpart runs without a disk behind it.
constexpr char kTwoListScript[] = "list vdisk\r\nlist vdisk\r\nexit\r\n";

TEST_F(RunnerTest, WritesTheScriptBytesAndStartsDiskpartOnIt) {
    // A search by name would run these first, with the host's rights.
    machine.model().currentDirectory = L"C:\\ProgramData";
    machine.putFile(L"C:\\Program Files\\Host\\diskpart.exe", "planted");
    machine.putFile(L"C:\\ProgramData\\diskpart.exe", "planted");
    EXPECT_EQ(RunDiskpartScript(scripts::kListVdisk), ScriptOutcome::DiskpartSucceeded);

    ASSERT_EQ(machine.diskpartRuns().size(), 1u);
    const auto& run = machine.diskpartRuns()[0];
    // CR LF line ends, no byte-order mark, no terminating zero.
    EXPECT_EQ(run.script, std::string("list vdisk\r\nexit\r\n"));
    EXPECT_EQ(run.commandLine, L"diskpart /s \"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt\"");
    EXPECT_EQ(machine.processCreationFlags, std::vector<std::uint32_t>{win::CREATE_NO_WINDOW_});
    EXPECT_EQ(run.program, L"C:\\Windows\\System32\\diskpart.exe");
    EXPECT_FALSE(machine.fileExists(kScriptFile));
}

// Up to three attempts, each failed one logged with its exit code and followed by a pause, the last one
// too: a start or wait that fails leaves the exit code as it was last set. A script file that cannot be
// written whole is deleted, and neither the step before the run nor diskpart runs.
TEST_F(RunnerTest, ReportsEachAttemptWithItsExitCodeAndPauses) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> exitCodes;
        std::vector<sim::Fault> faults;
        ScriptOutcome outcome;
        std::vector<std::wstring> log;
        std::size_t runs;
        std::size_t pauses;
        bool shortWrite = false;  // a write reports one byte fewer than it was given
    };
    const std::wstring error0 = L"error 0x00000000";
    const std::wstring error5 = L"error 0x00000005";
    const std::wstring done = L"done";
    const std::wstring notStarted = L"(KvPartitionHelper)Create process fail.\r\n";
    const std::wstring notCreated = L"(KvPartitionHelper)Create file fail.\r\n";
    const std::wstring prefix = L"(KvPartitionHelper)";
    const auto ok = ScriptOutcome::DiskpartSucceeded;
    const auto failed = ScriptOutcome::DiskpartFailed;
    const auto notWritten = ScriptOutcome::ScriptNotWritten;
    const sim::Fault noScript{"createFileW", 5, 0, 1, L"Command.txt"};
    const sim::Fault writeFails{"writeFile", win::ERROR_WRITE_FAULT_, 0, 1, L""};
    const sim::Fault flushFails{"flushFileBuffers", win::ERROR_WRITE_FAULT_, 0, 1, L""};
    const sim::Fault noDataDirectory{"shGetSpecialFolderPathW", 5, 0, -1, L""};
    const sim::Fault firstStart{"createProcessAndWait", 2, 0, 1, L""};
    const sim::Fault secondStart{"createProcessAndWait", 2, 1, 1, L""};
    const sim::Fault secondWait{"processWait", win::ERROR_INVALID_HANDLE_, 1, 1, L""};
    const sim::Fault secondExitCode{"processExitCode", win::ERROR_INVALID_HANDLE_, 1, 1, L""};
    const std::vector<Case> cases = {
        {"success", {}, {}, ok, {done}, 1, 0},
        {"script file", {}, {noScript}, notWritten, {notCreated}, 0, 0},
        {"write", {}, {writeFails}, notWritten, {prefix + L"Write fail."}, 0, 0},
        {"short write", {}, {}, notWritten, {prefix + L"Write size incorrect."}, 0, 0, true},
        {"flush", {}, {flushFails}, notWritten, {prefix + L"Write through fail, still in buffer."}, 0, 0},
        // Without the data directory no script is written anywhere.
        {"no data directory", {}, {noDataDirectory}, notWritten, {notCreated}, 0, 0},
        {"cannot start", {}, {firstStart}, ok, {notStarted, error0, done}, 1, 1},
        // Exit code 5, a start that fails, success.
        {"retried", {5}, {secondStart}, ok, {error5, notStarted, error5, done}, 2, 2},
        // Exit code 5; the wait of the second attempt and the exit code of the third fail.
        {"failed waits", {5}, {secondWait, secondExitCode}, failed, {error5, error5, error5}, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.clearLog();
        machine.clearFaults();
        machine.model().diskpart.exitCodes = c.exitCodes;
        for (const sim::Fault& fault : c.faults) {
            machine.injectFault(fault);
        }
        const std::size_t runs = machine.diskpartRuns().size();
        const std::size_t sleeps = machine.sleeps().size();
        machine.shortWrites = c.shortWrite;
        bool ranStepBefore = false;
        DiskpartSettings settings;
        settings.beforeRun = [&] { ranStepBefore = true; };
        settings.attempts = 3;
        settings.pauseAfterFailureMs = 1000;
        settings.errorFormat = L"error 0x%08x";
        settings.successMessage = L"done";
        EXPECT_EQ(RunDiskpartScript(kTwoListScript, settings), c.outcome);
        EXPECT_EQ(log(), c.log);
        EXPECT_EQ(machine.diskpartRuns().size() - runs, c.runs);
        EXPECT_EQ(std::vector<std::uint32_t>(machine.sleeps().begin() + static_cast<std::ptrdiff_t>(sleeps),
                                             machine.sleeps().end()),
                  std::vector<std::uint32_t>(c.pauses, 1000));
        EXPECT_EQ(ranStepBefore, c.outcome != notWritten);
        EXPECT_FALSE(machine.fileExists(kScriptFile));
        EXPECT_EQ(machine.openHandleCount(), 0u);
    }
}

TEST_F(RunnerTest, StepBeforeRunAndEchoComeInOrder) {
    DiskpartSettings settings;
    settings.echo = true;
    bool fileWasClosedAndPresent = false;
    settings.beforeRun = [&] {
        fileWasClosedAndPresent = machine.fileExists(kScriptFile) && machine.openHandleCount() == 0;
        platform().outputDebugStringW(L"before");
    };
    EXPECT_EQ(RunDiskpartScript(kTwoListScript, settings), ScriptOutcome::DiskpartSucceeded);
    EXPECT_TRUE(fileWasClosedAndPresent);
    EXPECT_EQ(log(), (std::vector<std::wstring>{L"list vdisk\r\nlist vdisk\r\nexit\r\n", L"before"}));
    EXPECT_FALSE(machine.log().at(0).wide);
}

// An overlong script leaves an old script file alone; one that fits replaces it, hidden and read-only too.
TEST_F(RunnerTest, OverlongScriptsAreRefusedBeforeAnythingIsTouched) {
    machine.putFolder(L"C:\\ProgramData\\Norvel");
    machine.putFolder(L"C:\\ProgramData\\Norvel\\Quillmark");
    machine.putFile(
        kScriptFile, "old script",
        win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_READONLY_ | win::FILE_ATTRIBUTE_SYSTEM_);
    const std::string exit = "\r\nexit\r\n";
    const std::string longest = "rem " + std::string(kScriptBytes - 1 - 4 - exit.size(), 'x') + exit;
    ASSERT_EQ(longest.size(), 519u);

    EXPECT_EQ(RunDiskpartScript(longest + "x"), ScriptOutcome::ScriptNotWritten);
    EXPECT_EQ(log(), std::vector<std::wstring>{L"(KvPartitionHelper)Script too long.\r\n"});
    EXPECT_EQ(machine.fileBytes(kScriptFile), std::optional<std::string>("old script"));
    EXPECT_TRUE(machine.diskpartRuns().empty());

    EXPECT_EQ(RunDiskpartScript(longest), ScriptOutcome::DiskpartSucceeded);
    ASSERT_EQ(machine.diskpartRuns().size(), 1u);
    EXPECT_EQ(machine.diskpartRuns()[0].script, longest);
}

TEST_F(RunnerTest, ScriptArgumentsInTheAnsiCodePage) {
    struct Case {
        std::wstring text;
        std::optional<std::string> ansi;
    };
    const std::vector<Case> cases = {
        {L"Duskvale \u00e9", std::string("Duskvale \xe9")},
        // Characters the code page lacks become the system's default character.
        {L"Vol \u4e2d", std::string("Vol ?")},
        {std::wstring(259, L'a'), std::string(259, 'a')},
        {std::wstring(258, L'a') + L"\u4e2d", std::string(258, 'a') + "?"},
        {std::wstring(260, L'a'), std::nullopt},
        // No best fit: look-alikes of the double quote become the default character too.
        {L"A\uFF02\u02BA\u201C", std::string("A??\x93")},
        {L"a\"b", std::nullopt},
        {L"a\rb", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size());
        EXPECT_EQ(scriptArgument(c.text), c.ansi);
    }
    // A code page that refuses the flag (UTF-8 does) is converted without it; its bytes are still checked.
    machine.injectFault({"wideToAnsi", win::ERROR_INVALID_FLAGS_, 0, 1, L""});
    EXPECT_EQ(scriptArgument(L"E:"), std::string("E:"));
    machine.injectFault({"wideToAnsi", win::ERROR_INVALID_FLAGS_, 0, 1, L""});
    EXPECT_EQ(scriptArgument(L"A\uFF02"), std::nullopt);
    machine.injectFault({"wideToAnsi", win::ERROR_INVALID_PARAMETER_, 0, 2, L""});
    EXPECT_EQ(scriptArgument(L"E:"), std::nullopt);
}

TEST_F(RunnerTest, ComposedScriptsAreRefusedWhenTheyDoNotFit) {
    const std::string label(300, 'x');
    EXPECT_FALSE(composeScript(kScriptBytes, "format quick fs=ntfs label=\"%s\"\r\n%s\r\n", label.c_str(),
                               label.c_str()));
    const auto fits = composeScript(kScriptBytes, "select disk=\"%d\"\r\nexit\r\n", -3);
    ASSERT_TRUE(fits);
    EXPECT_EQ(*fits, "select disk=\"-3\"\r\nexit\r\n");
    const std::string exact(519, 'y');
    EXPECT_TRUE(composeScript(kScriptBytes, "%s", exact.c_str()));
    EXPECT_FALSE(composeScript(kScriptBytes, "%sz", exact.c_str()));
}

}  // namespace
}  // namespace kvph::test
