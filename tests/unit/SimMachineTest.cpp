#include <gtest/gtest.h>

#include <thread>

#include "platform/WinConstants.h"
#include "sim/Machine.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;

TEST(SimMachineTest, FaultsHitTheCallsTheyDescribe) {
    Machine machine;
    machine.model().letters.push_back(L'C');
    machine.putFile(L"C:\\a.txt", "a");
    machine.putFile(L"C:\\b.txt", "b");
    machine.injectFault({"pathFileExistsW", 5, 1, 2, L"A.TXT"});
    EXPECT_TRUE(machine.pathFileExistsW(L"C:\\b.txt"));   // other argument: not counted
    EXPECT_TRUE(machine.pathFileExistsW(L"C:\\a.txt"));   // skipped
    EXPECT_FALSE(machine.pathFileExistsW(L"C:\\a.txt"));  // hit 1
    EXPECT_FALSE(machine.pathFileExistsW(L"C:\\a.txt"));  // hit 2
    EXPECT_TRUE(machine.pathFileExistsW(L"C:\\a.txt"));   // used up
    EXPECT_EQ(machine.callCounts().at("pathFileExistsW"), 5);

    machine.injectFault({"deleteFileW", 32, 0, -1, L""});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(machine.deleteFileW(L"C:\\a.txt").error, 32u);
    }
    machine.clearFaults();
    EXPECT_TRUE(machine.deleteFileW(L"C:\\a.txt").ok);
}

TEST(SimMachineTest, AKillKeepsTheMachineAsTheProcessLeftIt) {
    Machine machine;
    machine.model().letters.push_back(L'C');
    machine.putFile(L"C:\\a.txt", "a");
    machine.putFile(L"C:\\b.txt", "b");
    machine.killAtCall(1);
    EXPECT_TRUE(machine.deleteFileW(L"C:\\a.txt").ok);
    EXPECT_FALSE(machine.deleteFileW(L"C:\\b.txt").ok);  // the process is dead from this call on
    EXPECT_FALSE(machine.pathFileExistsW(L"C:\\b.txt"));
    EXPECT_EQ(machine.totalCalls(), 1u);
    ASSERT_TRUE(machine.killedModel().has_value());
    Machine after(*machine.killedModel());
    EXPECT_FALSE(after.fileExists(L"C:\\a.txt"));
    EXPECT_EQ(after.fileBytes(L"C:\\b.txt"), std::optional<std::string>("b"));
}

TEST(SimMachineTest, LogClockAndFolders) {
    Machine machine;
    machine.outputDebugStringW(std::wstring(L"wide\r\n\0cut", 10));
    machine.outputDebugStringA("narrow \xe9");
    ASSERT_EQ(machine.log().size(), 2u);
    EXPECT_TRUE(machine.log()[0].wide);
    EXPECT_EQ(machine.log()[0].text, L"wide\r\n");
    EXPECT_FALSE(machine.log()[1].wide);
    EXPECT_EQ(machine.log()[1].text, L"narrow \u00e9");

    machine.sleep(500);
    machine.sleep(250);
    EXPECT_EQ(machine.virtualMilliseconds(), 750u);
    EXPECT_EQ(machine.sleeps(), (std::vector<std::uint32_t>{500, 250}));

    machine.model().letters.push_back(L'C');
    EXPECT_EQ(machine.getSystemDirectoryW(260), L"C:\\Windows\\System32");
    EXPECT_EQ(machine.getModuleFileNameW(260), machine.model().libraryPath);
    EXPECT_EQ(machine.getModuleFileNameW(4), L"C:\\");
    EXPECT_FALSE(machine.pathFileExistsW(L"C:\\ProgramData"));
    EXPECT_EQ(machine.shGetSpecialFolderPathW(win::CSIDL_COMMON_APPDATA_, false), L"C:\\ProgramData");
    EXPECT_FALSE(machine.pathFileExistsW(L"C:\\ProgramData"));
    EXPECT_EQ(machine.shGetSpecialFolderPathW(win::CSIDL_COMMON_APPDATA_, true), L"C:\\ProgramData");
    EXPECT_TRUE(machine.pathFileExistsW(L"C:\\ProgramData"));
}

TEST(SimMachineTest, AnsiConversionUsesCodePage1252) {
    Machine machine;
    const std::wstring text = L"Caf\u00e9 \u20ac\u2019 \u0100 \u4e2d \uff02\u02ba\u201c\uff07";
    EXPECT_EQ(machine.wideToAnsi(text, win::WC_NO_BEST_FIT_CHARS_),
              std::string("Caf\xe9 \x80\x92 ? ? ??\x93?"));
    // Best fit, as the platform does it unless told not to: look-alikes, quotes among them.
    EXPECT_EQ(machine.wideToAnsi(text, 0), std::string("Caf\xe9 \x80\x92 A ? \"\"\x93'"));
    EXPECT_EQ(machine.wideToAnsi(L"\U0001F600", 0), std::string("??"));  // two UTF-16 units, two characters
    EXPECT_EQ(machine.fromAnsi("\x80\x81\xff"), L"\u20ac\u0081\u00ff");
}

TEST(SimMachineTest, RegistryValues) {
    Machine machine;
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    const auto root = kvph::RegistryRoot::LocalMachine;
    EXPECT_EQ(machine.regQueryDword(root, key, L"NoDriveTypeAutoRun"), std::nullopt);
    EXPECT_TRUE(machine.regSetDword(root, key, L"NoDriveTypeAutoRun", 145).ok);
    EXPECT_EQ(
        machine.regQueryDword(root, L"software\\microsoft\\windows\\currentversion\\policies\\explorer\\",
                              L"nodrivetypeautorun"),
        145u);
    EXPECT_EQ(machine.regQueryDword(kvph::RegistryRoot::CurrentUser, key, L"NoDriveTypeAutoRun"),
              std::nullopt);
    EXPECT_TRUE(machine.regSetDword(root, key, L"NODRIVETYPEAUTORUN", 255).ok);
    EXPECT_EQ(machine.model().registry.at(Machine::pathKey(L"HKLM\\" + key)).dwords.size(), 1u);
    EXPECT_TRUE(machine.regDeleteValue(root, key, L"NoDriveTypeAutoRun").ok);
    EXPECT_EQ(machine.regDeleteValue(root, key, L"NoDriveTypeAutoRun").error, win::ERROR_FILE_NOT_FOUND_);
}

TEST(SimMachineTest, CallMutexIsRecursiveAndOwnedByItsThread) {
    Machine machine;
    const kvph::Handle mutex = machine.createMutexW(L"Global\\Lock").handle;
    EXPECT_EQ(machine.releaseMutex(mutex).error, 288u);  // ERROR_NOT_OWNER
    EXPECT_EQ(machine.waitForSingleObject(mutex, win::INFINITE_), win::WAIT_OBJECT_0_);
    EXPECT_EQ(machine.waitForSingleObject(mutex, win::INFINITE_), win::WAIT_OBJECT_0_);

    std::uint32_t otherRelease = 0;
    std::thread other([&] { otherRelease = machine.releaseMutex(mutex).error; });
    other.join();
    EXPECT_EQ(otherRelease, 288u);

    EXPECT_TRUE(machine.releaseMutex(mutex).ok);
    EXPECT_TRUE(machine.releaseMutex(mutex).ok);
    EXPECT_FALSE(machine.releaseMutex(mutex).ok);
    EXPECT_TRUE(machine.closeHandle(mutex).ok);
    EXPECT_EQ(machine.waitForSingleObject(mutex, win::INFINITE_), win::WAIT_FAILED_);
}

TEST(SimMachineTest, TextConversionsRoundTrip) {
    std::string every;
    for (int byte = 0; byte < 256; ++byte) {
        every += static_cast<char>(byte);
    }
    EXPECT_EQ(text::toCodePage(text::fromCodePage(every, 1252), 1252), every);
    EXPECT_EQ(text::fromUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), L"a\u00e9\u20ac\U0001F600");
    EXPECT_EQ(text::fromUtf8("\xE9t\xC3"), L"\ufffdt\ufffd");  // not UTF-8: one replacement per bad byte
    EXPECT_EQ(text::toUtf8(L"\u00e9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(text::cutToUtf16(L"ab\U0001F600c", 3), L"ab");  // a pair is never split
}

}  // namespace
}  // namespace sim
