// The data directory and the script file are made so that only SYSTEM and Administrators can change what
// diskpart runs; a data directory someone else made first is given that descriptor again, and a script is
// never written where that fails.
#include "FrameFixture.h"
#include "KvPartitionHelper.h"
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

    int callCount(const std::string& method) const {
        const auto& counts = machine.callCounts();
        const auto found = counts.find(method);
        return found == counts.end() ? 0 : found->second;
    }

    std::optional<std::wstring> scriptSecurity;
};

TEST_F(ScriptFileSecurityTest, NewFoldersAndTheScriptGetTheProtectedDescriptor) {
    EXPECT_EQ(runScript(), ScriptOutcome::DiskpartSucceeded);

    EXPECT_EQ(machine.security(kMakerFolder), std::wstring(kProtectedFolderSecurity));
    EXPECT_EQ(machine.security(kDataFolder), std::wstring(kProtectedFolderSecurity));
    EXPECT_EQ(scriptSecurity, std::wstring(kProtectedFileSecurity));
    // Folders it made itself need no repair.
    EXPECT_EQ(callCount("setNamedSecurityInfoW"), 0);
    EXPECT_EQ(machine.diskpartRuns().size(), 1u);
    EXPECT_FALSE(machine.fileExists(kScriptFile));
}

TEST_F(ScriptFileSecurityTest, ExistingFoldersAreRepairedOnlyWhereTheDataLives) {
    struct Case {
        const char* name;
        bool makerFolderExists;
        bool dataFolderExists;
        std::wstring makerFolderAfter;
    };
    const std::vector<Case> cases = {
        // The maker's folder may hold other programs' folders: it keeps its descriptor.
        {"maker folder only", true, false, kEveryoneFullControl},
        {"both", true, true, kEveryoneFullControl},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.model().folders.erase(sim::Machine::pathKey(kDataFolder));
        machine.putFolder(kMakerFolder);
        machine.setSecurity(kMakerFolder, kEveryoneFullControl);
        if (c.dataFolderExists) {
            machine.putFolder(kDataFolder);
            machine.setSecurity(kDataFolder, kEveryoneFullControl);
        }
        machine.resetCallCounts();

        EXPECT_EQ(runScript(), ScriptOutcome::DiskpartSucceeded);
        EXPECT_EQ(machine.security(kMakerFolder), c.makerFolderAfter);
        EXPECT_EQ(machine.security(kDataFolder), std::wstring(kProtectedFolderSecurity));
        EXPECT_EQ(callCount("setNamedSecurityInfoW"), c.dataFolderExists ? 1 : 0);
        EXPECT_EQ(scriptSecurity, std::wstring(kProtectedFileSecurity));
    }
}

TEST_F(ScriptFileSecurityTest, NoScriptIsWrittenWhereTheFolderCannotBeProtected) {
    struct Case {
        const char* name;
        sim::Fault fault;
        std::wstring message;
    };
    const std::vector<Case> cases = {
        {"repair refused",
         {"setNamedSecurityInfoW", win::ERROR_ACCESS_DENIED_, 0, 1, L""},
         L"(KvPartitionHelper)Protect data directory fail.\r\n"},
        {"folder not made",
         {"createDirectoryW", win::ERROR_ACCESS_DENIED_, 0, 1, L"Quillmark"},
         L"(KvPartitionHelper)Create data directory fail.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine.model().folders.erase(sim::Machine::pathKey(kDataFolder));
        if (c.fault.method == "setNamedSecurityInfoW") {
            machine.putFolder(kDataFolder);
            machine.setSecurity(kDataFolder, kEveryoneFullControl);
        }
        machine.clearLog();
        machine.clearFaults();
        machine.injectFault(c.fault);

        EXPECT_EQ(runScript(), ScriptOutcome::ScriptNotWritten);
        EXPECT_EQ(log(), std::vector<std::wstring>{c.message});
        EXPECT_TRUE(machine.diskpartRuns().empty());
        EXPECT_FALSE(machine.fileExists(kScriptFile));
    }
}

TEST_F(ScriptFileSecurityTest, AScriptFileThatCannotBeRemovedIsNeitherReusedNorRun) {
    // A Command.txt planted with a descriptor of its own would keep it if the file were only overwritten.
    machine.putFolder(kMakerFolder);
    machine.putFolder(kDataFolder);
    machine.putFile(kScriptFile, "select vdisk file=\"C:\\other.vhdx\"\r\n");
    machine.setSecurity(kScriptFile, kEveryoneFullControl);
    machine.injectFault({"deleteFileW", win::ERROR_ACCESS_DENIED_, 0, 1, L"Command.txt"});

    EXPECT_EQ(runScript(), ScriptOutcome::ScriptNotWritten);
    EXPECT_EQ(log(), std::vector<std::wstring>{L"(KvPartitionHelper)Create file fail.\r\n"});
    EXPECT_TRUE(machine.diskpartRuns().empty());
    EXPECT_EQ(machine.fileBytes(kScriptFile), std::string("select vdisk file=\"C:\\other.vhdx\"\r\n"));
}

TEST_F(ScriptFileSecurityTest, ThePresenceQueryRunsItsScriptFromTheProtectedFolder) {
    machine.putFolder(kMakerFolder);
    machine.putFolder(kDataFolder);
    machine.setSecurity(kDataFolder, kEveryoneFullControl);
    machine.putFolder(L"C:\\vd");

    EXPECT_EQ(PH_CheckExistVHDX(L"C:\\vd\\drive.vhdx"), 0);
    EXPECT_EQ(machine.security(kDataFolder), std::wstring(kProtectedFolderSecurity));
    ASSERT_EQ(machine.diskpartRuns().size(), 1u);
    EXPECT_EQ(machine.diskpartRuns()[0].script, std::string(kListScript));
}

}  // namespace
}  // namespace kvph::test
