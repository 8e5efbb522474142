// The data directory and the script file are made so that only SYSTEM and Administrators can change what
// diskpart runs; a data directory someone else made first is given that descriptor again, and a script is
// never written where that fails.
#include <utility>

#include "FrameFixture.h"
#include "frame/DiskpartRunner.h"
#include "frame/Folders.h"
#include "platform/WinConstants.h"

namespace kvph::test {
namespace {

constexpr wchar_t kMakerFolder[] = L"C:\\ProgramData\\Norvel";
constexpr wchar_t kDataFolder[] = L"C:\\ProgramData\\Norvel\\Quillmark";
constexpr wchar_t kEveryoneFullControl[] = L"D:(A;OICI;FA;;;WD)";
constexpr char kListScript[] = "list vdisk\r\nexit\r\n";

class ScriptFileSecurityTest : public FrameTest {
protected:
    // Runs a script and notes the script file's descriptor while diskpart is about to run.
    ScriptOutcome runScript() {
        DiskpartSettings settings;
        settings.beforeRun = [this] { scriptSecurity = machine.security(kScriptFile); };
        return RunDiskpartScript(kListScript, settings);
    }

    std::optional<std::wstring> scriptSecurity;
};

// Folders it made itself need no repair; the maker's folder may hold other programs' folders, so one that
// was there keeps its descriptor.
TEST_F(ScriptFileSecurityTest, TheDataFolderAndTheScriptGetTheProtectedDescriptor) {
    const std::pair<bool, bool> cases[] = {{false, false}, {true, false}, {true, true}};  // maker's, data
    for (const auto& [makerFolderExists, dataFolderExists] : cases) {
        SCOPED_TRACE(std::to_string(makerFolderExists) + std::to_string(dataFolderExists));
        machine.model().folders.erase(sim::Machine::pathKey(kDataFolder));
        machine.model().folders.erase(sim::Machine::pathKey(kMakerFolder));
        for (const wchar_t* folder : {kMakerFolder, kDataFolder}) {
            if (folder == kMakerFolder ? makerFolderExists : dataFolderExists) {
                machine.putFolder(folder);
                machine.setSecurity(folder, kEveryoneFullControl);
            }
        }
        machine.resetCallCounts();

        EXPECT_EQ(runScript(), ScriptOutcome::DiskpartSucceeded);
        EXPECT_EQ(machine.security(kMakerFolder),
                  std::wstring(makerFolderExists ? kEveryoneFullControl : kProtectedFolderSecurity));
        EXPECT_EQ(machine.security(kDataFolder), std::wstring(kProtectedFolderSecurity));
        EXPECT_EQ(calls("setNamedSecurityInfoW"), dataFolderExists ? 1 : 0);
        EXPECT_EQ(scriptSecurity, std::wstring(kProtectedFileSecurity));
        EXPECT_FALSE(machine.fileExists(kScriptFile));
    }
}

// A Command.txt planted with a descriptor of its own would keep it if the file were only overwritten: it
// stays as it is, as where the data folder cannot be made or protected, and nothing runs.
TEST_F(ScriptFileSecurityTest, NoScriptIsWrittenWhereTheFolderOrTheFileCannotBeProtected) {
    struct Case {
        sim::Fault fault;
        std::wstring message;
    };
    const std::string planted = "select vdisk file=\"C:\\other.vhdx\"\r\n";
    const std::vector<Case> cases = {
        {{"createDirectoryW", win::ERROR_ACCESS_DENIED_, 0, 1, L"Quillmark"},
         L"Create data directory fail.\r\n"},
        {{"setNamedSecurityInfoW", win::ERROR_ACCESS_DENIED_, 0, 1, L""},
         L"Protect data directory fail.\r\n"},
        {{"deleteFileW", win::ERROR_ACCESS_DENIED_, 0, 1, L"Command.txt"}, L"Create file fail.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault.method);
        const bool folderMade = c.fault.method != "createDirectoryW";
        machine.model().folders.erase(sim::Machine::pathKey(kDataFolder));
        if (folderMade) {
            machine.putFolder(kDataFolder);
            machine.setSecurity(kDataFolder, kEveryoneFullControl);
            machine.putFile(kScriptFile, planted);
            machine.setSecurity(kScriptFile, kEveryoneFullControl);
        }
        machine.clearLog();
        machine.clearFaults();
        machine.injectFault(c.fault);

        EXPECT_EQ(runScript(), ScriptOutcome::ScriptNotWritten);
        EXPECT_EQ(log(), std::vector<std::wstring>{L"(KvPartitionHelper)" + c.message});
        EXPECT_TRUE(machine.diskpartRuns().empty());
        EXPECT_EQ(machine.fileBytes(kScriptFile),
                  folderMade ? std::optional<std::string>(planted) : std::nullopt);
    }
}

}  // namespace
}  // namespace kvph::test
