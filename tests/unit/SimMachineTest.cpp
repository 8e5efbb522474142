#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "per/ByteReader.h"
#include "platform/WinConstants.h"
#include "sim/Machine.h"
#include "sim/MachineBuilder.h"
#include "sim/machine/DiskLayout.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;

TEST(SimMachineTest, AFaultWithoutACountHoldsUntilClearedAndAKillKeepsTheMachineAsTheProcessLeftIt) {
    Machine machine;
    machine.model().letters.push_back(L'C');
    machine.putFile(L"C:\\a.txt", "a");
    machine.putFile(L"C:\\b.txt", "b");
    machine.injectFault({"deleteFileW", 32, 0, -1, L""});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(machine.deleteFileW(L"C:\\a.txt").error, 32u);
    }
    machine.clearFaults();
    machine.killAtCall(4);
    EXPECT_TRUE(machine.deleteFileW(L"C:\\a.txt").ok);
    EXPECT_FALSE(machine.deleteFileW(L"C:\\b.txt").ok);  // the process is dead from this call on
    EXPECT_FALSE(machine.pathFileExistsW(L"C:\\b.txt"));
    EXPECT_EQ(machine.totalCalls(), 4u);
    ASSERT_TRUE(machine.killedModel().has_value());
    Machine after(*machine.killedModel());
    EXPECT_FALSE(after.fileExists(L"C:\\a.txt"));
    EXPECT_EQ(after.fileBytes(L"C:\\b.txt"), std::optional<std::string>("b"));
}

TEST(SimMachineTest, LogAndFolders) {
    Machine machine;
    machine.outputDebugStringW(std::wstring(L"wide\r\n\0cut", 10));
    machine.outputDebugStringA("narrow \xe9");
    ASSERT_EQ(machine.log().size(), 2u);
    EXPECT_TRUE(machine.log()[0].wide);
    EXPECT_EQ(machine.log()[0].text, L"wide\r\n");
    EXPECT_FALSE(machine.log()[1].wide);
    EXPECT_EQ(machine.log()[1].text, L"narrow \u00e9");

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
    EXPECT_EQ(text::cutToUtf16(L"ab\U0001F600c", 3), L"ab");       // a pair is never split
    EXPECT_EQ(text::toCodePage(L"\U0001F600", 1252, true), "??");  // two UTF-16 units, two characters
}

// Drive and volume answers: where no library rule reads them, as the platform gives them; and the layout
// answer, kept between queries, against the disk it describes.
kvph::Handle openDrive(sim::Machine& machine, int number) {
    return machine.createFileA("\\\\.\\PhysicalDrive" + std::to_string(number), win::GENERIC_READ_, 3, 3, 0)
        .handle;
}

TEST(SimDrives, AnswersAtTheirEdges) {
    auto machine = MachineBuilder()
                       .mbrDisk(0)
                       .withDisk([](sim::Disk& d) { d.driveType = sim::DriveType::Removable; })
                       .primary(2048, 204800, 7)
                       .volume(L'E', L"NTFS", L"", 5 * sim::kMiB)
                       .extended(206848, 100000)
                       .networkLetter(L'Z')
                       .machine();
    const kvph::Handle drive = openDrive(*machine, 0);
    EXPECT_EQ(machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, 31).error,
              win::ERROR_INSUFFICIENT_BUFFER_);
    // The data partition is recognized, the extended container is not.
    const kvph::IoResult answer =
        machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, 4096);
    const PER::ByteReader layout(answer.output);
    EXPECT_EQ(layout.u8(48 + 34), 1u);
    EXPECT_EQ(layout.u8(48 + 144 + 34), 0u);
    EXPECT_EQ(machine->getDriveTypeW(L"E:\\"), win::DRIVE_REMOVABLE_);
    EXPECT_EQ(machine->getDriveTypeW(L"Z:\\"), win::DRIVE_REMOTE_);
    EXPECT_FALSE(machine->getVolumeInformationW(L"E:").ok);  // a root needs its backslash
    EXPECT_EQ(machine->getDiskFreeSpaceExW(L"E:\\").totalBytes, 204800u * 512);
    // "E:\" and "Z:\" with their terminators and the list's own need one unit more than 8.
    EXPECT_EQ(machine->getLogicalDriveStringsW(8).result, 9u);
    EXPECT_FALSE(machine->queryDosDeviceW(L"E:", 10).has_value());
    // The container has no number: the disk's partition 2 does not exist.
    EXPECT_NE(
        machine->ntOpenSymbolicLinkObject(L"\\Device\\Harddisk0\\Partition2", 1, win::OBJ_CASE_INSENSITIVE_)
            .status,
        0);
}

// The layout answer is kept between queries; whatever changes the disk's table must change the answer.
TEST(SimDrives, LayoutAnswerFollowsEveryChangeOfTheDisk) {
    const std::vector<std::pair<const char*, std::function<void(sim::Disk&)>>> changes = {
        {"entry moved", [](sim::Disk& d) { d.gpt.entries[0].start += 8; }},
        {"entry renamed", [](sim::Disk& d) { d.gpt.entries[0].name = L"Renamed"; }},
        {"entry attributes", [](sim::Disk& d) { d.gpt.entries[1].attributes ^= 1; }},
        {"entry added", [](sim::Disk& d) { d.gpt.entries.push_back(d.gpt.entries[1]); }},
        {"entry removed", [](sim::Disk& d) { d.gpt.entries.pop_back(); }},
        {"disk id", [](sim::Disk& d) { d.gpt.diskGuid[3] ^= 0xFF; }},
        {"usable end", [](sim::Disk& d) { d.gpt.lastUsable -= 1; }},
        {"sector size", [](sim::Disk& d) { d.geometry.bytesPerSector = 4096; }},
        {"made MBR", [](sim::Disk& d) { d.style = sim::PartitionStyle::Mbr; }},
        {"MBR slot", [](sim::Disk& d) { d.mbr.primary[0].type = 0x07; }},
        {"MBR chain", [](sim::Disk& d) { d.mbr.chain.push_back({}); }},
    };
    auto machine = MachineBuilder().gptDisk(0).basicData(2048, 2048).basicData(4096, 2048).machine();
    const kvph::Handle drive = openDrive(*machine, 0);
    sim::Disk& disk = machine->model().disks[0];
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        const kvph::IoResult before =
            machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, 4096);
        change(disk);
        const kvph::IoResult after =
            machine->deviceIoControl(drive, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, 4096);
        ASSERT_TRUE(before.ok && after.ok);
        const kvph::Bytes expected = sim::layoutBytes(disk);
        ASSERT_EQ(after.bytesReturned, expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), after.output.begin()));
        EXPECT_NE(before.output, after.output);
    }
}

}  // namespace
}  // namespace sim
