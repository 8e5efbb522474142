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
    // CR LF line ends, no byte-order mark, no terminating zero: exactly 18 bytes.
    EXPECT_EQ(run.script, std::string("list vdisk\r\nexit\r\n"));
    EXPECT_EQ(run.script.size(), 18u);
    EXPECT_EQ(run.commandLine, L"diskpart /s \"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt\"");
    EXPECT_EQ(machine.processCreationFlags, std::vector<std::uint32_t>{win::CREATE_NO_WINDOW_});
    EXPECT_EQ(run.program, L"C:\\Windows\\System32\\diskpart.exe");
    // Read, write and execute access; shared for reading and writing; a new file only, after the old
    // one was deleted.
    const TestMachine::FileOpen scriptOpen{kScriptFile, 0xE0000000u, 3u, win::CREATE_NEW_, 0x80u};
    EXPECT_EQ(machine.fileOpens, std::vector<TestMachine::FileOpen>{scriptOpen});
    EXPECT_FALSE(machine.fileExists(kScriptFile));
}

TEST_F(RunnerTest, ReportsEachOutcomeWithItsMessages) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> exitCodes;
        bool scriptFileFails;
        ScriptOutcome outcome;
        std::vector<std::wstring> log;
    };
    const std::wstring exit5 = L"(KvPartitionHelper)diskpart error because of 0x00000005.";
    const std::wstring createFail = L"(KvPartitionHelper)Create file fail.\r\n";
    const std::vector<Case> cases = {
        {"success", {}, false, ScriptOutcome::DiskpartSucceeded, {L"done"}},
        {"exit code 5", {5}, false, ScriptOutcome::DiskpartFailed, {exit5}},
        {"script file", {}, true, ScriptOutcome::ScriptNotWritten, {createFail}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.clearLog();
        machine.clearFaults();
        machine.model().diskpart.exitCodes = c.exitCodes;
        if (c.scriptFileFails) {
            machine.injectFault({"createFileW", 5, 0, 1, L"Command.txt"});
        }
        DiskpartSettings settings;
        settings.successMessage = L"done";
        EXPECT_EQ(RunDiskpartScript(kTwoListScript, settings), c.outcome);
        EXPECT_EQ(log(), c.log);
        EXPECT_FALSE(machine.fileExists(kScriptFile));
    }
}

TEST_F(RunnerTest, DiskpartThatCannotStartShowsTheExitCodeAsLastSet) {
    machine.model().diskpart.cannotStart = true;
    EXPECT_EQ(RunDiskpartScript(kTwoListScript), ScriptOutcome::DiskpartFailed);
    EXPECT_EQ(log(),
              (std::vector<std::wstring>{L"(KvPartitionHelper)Create process fail.\r\n",
                                         L"(KvPartitionHelper)diskpart error because of 0x00000000."}));
    EXPECT_FALSE(machine.fileExists(kScriptFile));
}

TEST_F(RunnerTest, RetriesTheSameFileAndKeepsTheLastExitCode) {
    // First attempt exits with 5, the second cannot start diskpart, the third succeeds.
    machine.model().diskpart.exitCodes = {5};
    machine.injectFault({"createProcessAndWait", 2, 1, 1, L""});
    DiskpartSettings settings;
    settings.attempts = 3;
    settings.pauseAfterFailureMs = 1000;
    settings.errorFormat = L"(KvPartitionHelper)diskpart error because of 0x%08x";
    settings.successMessage = L"(KvPartitionHelper)diskpart format successfully";

    EXPECT_EQ(RunDiskpartScript(kTwoListScript, settings), ScriptOutcome::DiskpartSucceeded);
    EXPECT_EQ(log(), (std::vector<std::wstring>{L"(KvPartitionHelper)diskpart error because of 0x00000005",
                                                L"(KvPartitionHelper)Create process fail.\r\n",
                                                L"(KvPartitionHelper)diskpart error because of 0x00000005",
                                                L"(KvPartitionHelper)diskpart format successfully"}));
    EXPECT_EQ(machine.sleeps(), (std::vector<std::uint32_t>{1000, 1000}));
    ASSERT_EQ(machine.diskpartRuns().size(), 2u);
    EXPECT_EQ(machine.diskpartRuns()[0].script, machine.diskpartRuns()[1].script);
}

TEST_F(RunnerTest, EveryFailedAttemptPausesTheLastOneToo) {
    machine.model().diskpart.exitCodes = {7, 7, 7};
    DiskpartSettings settings;
    settings.attempts = 3;
    settings.pauseAfterFailureMs = 1000;
    EXPECT_EQ(RunDiskpartScript(kTwoListScript, settings), ScriptOutcome::DiskpartFailed);
    EXPECT_EQ(machine.sleeps(), (std::vector<std::uint32_t>{1000, 1000, 1000}));
    EXPECT_EQ(machine.diskpartRuns().size(), 3u);
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
    EXPECT_FALSE(machine.log()[0].wide);
}

TEST_F(RunnerTest, WriteFailuresDeleteTheScriptFileAndSkipTheRun) {
    struct Case {
        const char* failing;  // a seam method, or "short write"
        std::wstring message;
    };
    for (const Case& c :
         {Case{"writeFile", L"(KvPartitionHelper)Write fail."},
          Case{"short write", L"(KvPartitionHelper)Write size incorrect."},
          Case{"flushFileBuffers", L"(KvPartitionHelper)Write through fail, still in buffer."}}) {
        SCOPED_TRACE(c.failing);
        machine.clearLog();
        machine.clearFaults();
        machine.shortWrites = std::string(c.failing) == "short write";
        if (!machine.shortWrites) {
            machine.injectFault({c.failing, win::ERROR_WRITE_FAULT_, 0, 1, L""});
        }
        bool ranStepBefore = false;
        DiskpartSettings settings;
        settings.beforeRun = [&] { ranStepBefore = true; };
        EXPECT_EQ(RunDiskpartScript(kTwoListScript, settings), ScriptOutcome::ScriptNotWritten);
        EXPECT_EQ(log(), std::vector<std::wstring>{c.message});
        EXPECT_FALSE(ranStepBefore);
        EXPECT_FALSE(machine.fileExists(kScriptFile));
        EXPECT_EQ(machine.openHandleCount(), 0u);
    }
    EXPECT_TRUE(machine.diskpartRuns().empty());
}

TEST_F(RunnerTest, FailedWaitsKeepTheExitCodeOfTheAttemptBefore) {
    // The first attempt exits with 5; the wait of the second and the exit code of the third fail.
    machine.model().diskpart.exitCodes = {5};
    machine.injectFault({"processWait", win::ERROR_INVALID_HANDLE_, 1, 1, L""});
    machine.injectFault({"processExitCode", win::ERROR_INVALID_HANDLE_, 1, 1, L""});
    DiskpartSettings settings;
    settings.attempts = 3;
    EXPECT_EQ(RunDiskpartScript(kTwoListScript, settings), ScriptOutcome::DiskpartFailed);
    EXPECT_EQ(log(),
              std::vector<std::wstring>(3, L"(KvPartitionHelper)diskpart error because of 0x00000005."));
    EXPECT_EQ(machine.diskpartRuns().size(), 3u);
    EXPECT_FALSE(machine.fileExists(kScriptFile));
}

TEST_F(RunnerTest, OverlongScriptsAreRefusedBeforeAnythingIsTouched) {
    machine.putFolder(L"C:\\ProgramData\\Norvel");
    machine.putFolder(L"C:\\ProgramData\\Norvel\\Quillmark");
    machine.putFile(kScriptFile, "old script");
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

TEST_F(RunnerTest, WithoutADataDirectoryNoScriptIsWrittenAnywhere) {
    machine.injectFault({"shGetSpecialFolderPathW", win::ERROR_ACCESS_DENIED_, 0, -1, L""});
    EXPECT_EQ(RunDiskpartScript(kTwoListScript), ScriptOutcome::ScriptNotWritten);
    EXPECT_EQ(log(), std::vector<std::wstring>{L"(KvPartitionHelper)Create file fail.\r\n"});
    EXPECT_EQ(machine.callCounts().count("createFileW"), 0u);
    EXPECT_TRUE(machine.diskpartRuns().empty());
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

TEST_F(RunnerTest, ReplacesAHiddenReadOnlyLeftover) {
    machine.putFolder(L"C:\\ProgramData\\Norvel");
    machine.putFolder(L"C:\\ProgramData\\Norvel\\Quillmark");
    machine.putFile(
        kScriptFile, "old script",
        win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_READONLY_ | win::FILE_ATTRIBUTE_SYSTEM_);
    EXPECT_EQ(RunDiskpartScript(kTwoListScript), ScriptOutcome::DiskpartSucceeded);
    ASSERT_EQ(machine.diskpartRuns().size(), 1u);
    EXPECT_EQ(machine.diskpartRuns()[0].script, kTwoListScript);
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
