#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "HostMachine.h"
#include "InventoryMachines.h"
#include "KvPartitionHelper.h"
#include "inventory/PartitionInventory.h"

namespace kvph::test {
namespace {

struct ConversionCase {
    const wchar_t* text;
    std::int32_t state;
};

void PrintTo(const ConversionCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(std::wstring(c.text));
}

class ReadOnlyStateFromTextTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ReadOnlyStateFromTextTest, ReadsTheLeadingNumberAndKeepsItsLow32Bits) {
    EXPECT_EQ(inventory::ReadOnlyStateFromText(GetParam().text), GetParam().state) << GetParam().text;
}

const ConversionCase kConversionCases[] = {
    // What the listing writes.
    {L"0x00000000", 0},
    {L"0x00000001", 1},
    {L"0xffffffff", -1},
    // The default of a missing key.
    {L"0", 0},
    {L"0XFFFFFFFF", -1},
    {L"", 0},
    {L"  \t\r\n12", 12},
    {L"+7", 7},
    {L"-3.9", -3},
    {L"3.9", 3},
    {L".5", 0},
    {L"- 1", 0},
    {L"1e3", 1000},
    {L"2.5E+1x", 25},
    {L"1e+", 1},
    {L"00x5", 0},
    {L"0xg1", 0},
    {L"0x1p4", 16},
    {L"0x1P-1", 0},
    {L"0x.8p1", 1},
    {L"0xff.", 255},
    {L"-0x10", -16},
    {L"0x00000001 read-only", 1},
    {L"0x7fffffff", 2147483647},
    {L"0x100000000", 0},
    {L"0x1ffffffff", -1},
    {L"4294967297", 1},
    {L"3000000000", -1294967296},
    // Values no 64-bit integer holds end as the integer indefinite value, whose low 32 bits are 0.
    {L"9223372036854775807", 0},
    {L"-9223372036854775808", 0},
    {L"1e30", 0},
    {L"1e400", 0},
    {L"1e-400", 0},
};

INSTANTIATE_TEST_SUITE_P(Texts, ReadOnlyStateFromTextTest, ::testing::ValuesIn(kConversionCases));

constexpr wchar_t kVhdxPath[] = L"C:\\vd\\drive.vhdx";

// The host's machine: the system disk, and the VHDX drive attached as drive 1 with its volume at G:.
sim::MachineModel vhdxMachine() {
    sim::MachineModel model;
    sim::Disk system = makeDisk({0, sim::DriveType::Fixed, 11, 1, 66000}, sim::PartitionStyle::Gpt);
    addGptPartition(system, kBasicDataType, "6A4B2C10-1111-4222-8333-444455556666", 1, 65000);
    addVolume(system, {kSectorsPerMiB, L'C', std::wstring(L"NTFS"), L"System", false, 1000 * kMiB});
    model.disks.push_back(system);

    sim::VirtualDisk vdisk;
    vdisk.path = kVhdxPath;
    vdisk.maximumMB = 1024;
    vdisk.attached = true;
    vdisk.disk = makeDisk({1, sim::DriveType::Fixed, 15, std::nullopt, 1024}, sim::PartitionStyle::Mbr);
    vdisk.disk.mbr.primary[0] = mbrSlot(0x07, 2048, 1024 * kSectorsPerMiB - 2048);
    addVolume(vdisk.disk, {2048, L'G', std::wstring(L"NTFS"), L"Duskvale", false, 900 * kMiB});
    model.vdisks.push_back(vdisk);
    return model;
}

sim::Volume& vhdxVolume(sim::Machine& machine) {
    return machine.model().vdisks[0].disk.volumes[0];
}

void injectUnreachable(sim::Machine& machine, const std::wstring& root) {
    machine.injectFault({"pathFileExistsW", 5, 0, -1, root});
}

struct QueryCase {
    const char* name;
    std::function<void(sim::Machine&)> arrange;
    int labelResult;
    std::wstring letter;
    std::int32_t readOnlyState;
    const wchar_t* asked = kVhdxPath;
};

// A second virtual disk of the drive's shape and label attached as drive 1 with its volume at K:,
// read-only; the drive becomes drive 2.
sim::VirtualDisk& attachTwin(sim::Machine& m, const wchar_t* path) {
    sim::VirtualDisk other = m.model().vdisks[0];
    other.path = path;
    other.disk.volumes[0].letter = L'K';
    other.disk.volumes[0].readOnly = true;
    m.putFile(other.path, std::string(4096, '\0'));
    m.model().vdisks[0].disk.number = 2;
    m.model().vdisks.push_back(other);
    return m.model().vdisks.back();
}

// Printed by name: gtest would otherwise print the case as its bytes, unset members and padding included.
void PrintTo(const QueryCase& c, std::ostream* os) {
    *os << c.name;
}

class VolumeQueryTest : public ::testing::TestWithParam<QueryCase> {
protected:
    // A fresh machine per export, so that each sees the arrangement unchanged.
    std::unique_ptr<sim::Machine> arrangedMachine() const {
        auto machine = std::make_unique<sim::Machine>(withHostFolders(vhdxMachine()));
        machine->putFolder(L"C:\\vd");
        machine->putFile(kVhdxPath, std::string(4096, '\0'));
        GetParam().arrange(*machine);
        return machine;
    }
};

TEST_P(VolumeQueryTest, LetterAndReadOnlyStateOfTheVhdxVolume) {
    const auto machine = arrangedMachine();
    {
        ScopedPlatform installed(*machine);
        wchar_t letter[260];
        std::fill(std::begin(letter), std::end(letter), L'#');
        EXPECT_EQ(PH_GetVHDXVolumeLabel(GetParam().asked, letter), GetParam().labelResult);
        EXPECT_EQ(std::wstring(letter), GetParam().letter);
        const auto lines = machine->logTexts();
        const std::wstring reported = L"Halloway - PH_GetVHDXVolumeLabel is " + GetParam().letter;
        EXPECT_EQ(!lines.empty() && lines.back() == reported, GetParam().labelResult == 1);
    }
    const auto fresh = arrangedMachine();
    ScopedPlatform installed(*fresh);
    int state = 12345;
    EXPECT_EQ(PH_CheckVHDXReadOnly(GetParam().asked, &state), 1);
    EXPECT_EQ(state, GetParam().readOnlyState);
}

const QueryCase kQueryCases[] = {
    {"FoundAndReachable", [](sim::Machine&) {}, 1, L"G:", 0},
    {"AttachedReadOnly",
     [](sim::Machine& m) {
         m.model().vdisks[0].readOnly = true;
         vhdxVolume(m).readOnly = true;
     },
     1, L"G:", 1},
    {"NotAttached", [](sim::Machine& m) { m.model().vdisks[0].attached = false; }, 0, L"", -1},
    {"PresenceQueryFails", [](sim::Machine& m) { m.model().diskpart.exitCodes = {5}; }, 0, L"", -1},
    {"InventoryNotWritten",
     [](sim::Machine& m) {
         m.injectFault({"writePrivateProfileStringW", 5, 0, -1, L""});
     },
     0, L"", -1},
    {"NoLetteredVolume",
     [](sim::Machine& m) {
         m.model().letters.push_back(L'C');
         m.model().disks[0].volumes[0].letter.reset();
         vhdxVolume(m).letter.reset();
     },
     0, L"", -1},
    {"UnreachableButWritable", [](sim::Machine& m) { injectUnreachable(m, L"G:"); }, 0, L"", 0},
    {"UnreachableAndReadOnly",
     [](sim::Machine& m) {
         vhdxVolume(m).readOnly = true;
         injectUnreachable(m, L"G:");
     },
     0, L"", 1},
    {"UnreachableAndUndetermined",
     [](sim::Machine& m) {
         vhdxVolume(m).fileSystem.reset();
         injectUnreachable(m, L"G:");
     },
     1, L"G:", -1},
    // A section whose "Letter" could not be written gives no letter, not 1 with an empty one.
    {"LetterNotWrittenAndUndetermined",
     [](sim::Machine& m) {
         vhdxVolume(m).fileSystem.reset();
         m.injectFault({"writePrivateProfileStringW", 5, 0, -1, L"|Letter"});
     },
     0, L"", -1},
    // The section on the drive's own disk answers; each of these answered otherwise before.
    {"LowerLabelledSectionDoesNotAnswer", [](sim::Machine& m) { attachTwin(m, L"C:\\vd\\other.vhdx"); }, 1,
     L"G:", 0},
    {"AnotherAttachedVhdAnswersForItself",
     [](sim::Machine& m) { attachTwin(m, L"C:\\vd\\old.vhd").disk.volumes[0].label = L"Old"; }, 1, L"K:", 1,
     L"C:\\vd\\old.vhd"},
    {"StickWithTheDrivesLabelDoesNotAnswer",
     [](sim::Machine& m) {
         sim::Disk stick =
             makeDisk({1, sim::DriveType::Removable, 7, std::nullopt, 2048}, sim::PartitionStyle::Mbr);
         stick.mbr.primary[0] = mbrSlot(0x07, 2048, 2000 * kSectorsPerMiB);
         addVolume(stick, {2048, L'F', std::wstring(L"FAT32"), L"DUSKVALE", true, 100 * kMiB});
         m.model().disks.push_back(stick);
         m.model().vdisks[0].disk.number = 2;
     },
     1, L"G:", 0},
    // Relabelled, hidden and shown again: type 0B, neither label nor shape.
    {"ShownAgainUnderAnotherLabel",
     [](sim::Machine& m) {
         vhdxVolume(m).label = L"Vault";
         m.model().vdisks[0].disk.mbr.primary[0].type = 0x0B;
     },
     1, L"G:", 0},
    {"ListedInAnotherLanguage", [](sim::Machine& m) { m.model().diskpart.words = inventedListWords(); }, 1,
     L"G:", 0},
    // The drive's disk holds no lettered volume: no other disk's section answers for it.
    {"DrivesVolumeWithoutLetter",
     [](sim::Machine& m) {
         attachTwin(m, L"C:\\vd\\other.vhdx");
         vhdxVolume(m).letter.reset();
     },
     0, L"", -1},
};

INSTANTIATE_TEST_SUITE_P(FailureTable, VolumeQueryTest, ::testing::ValuesIn(kQueryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvph::test
