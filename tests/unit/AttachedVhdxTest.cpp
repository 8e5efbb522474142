// The host's VHDX drive from the outside: attached by diskpart scripts, found by the presence query,
// listed in Partition.ini as a file-backed virtual disk, and answered for by the volume queries.
#include <string>

#include "FrameFixture.h"
#include "KvPartitionHelper.h"
#include "frame/DiskpartRunner.h"
#include "sim/MachineBuilder.h"

namespace kvph::test {
namespace {

constexpr wchar_t kVhdx[] = L"D:\\vd\\drive.vhdx";
constexpr std::uint64_t kSectorsPerMiB = 2048;
constexpr char kAttach[] = "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\nattach vdisk\r\nexit\r\n";
constexpr char kAttachReadOnly[] =
    "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\nattach vdisk readonly\r\nexit\r\n";
constexpr char kDetach[] = "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\ndetach vdisk\r\nexit\r\n";

sim::MachineModel hostMachine(const std::wstring& label) {
    sim::MachineModel model = sim::MachineBuilder()
                                  .gptDisk(0, 128 * sim::kGiB)
                                  .efi(2048, 200 * kSectorsPerMiB)
                                  .msr(206848, 16 * kSectorsPerMiB)
                                  .basicData(239616, 100 * sim::kGiB / 512)
                                  .volume(L'C', L"NTFS", L"")
                                  .mbrDisk(1, 64 * sim::kGiB)
                                  .primary(2048, 60 * sim::kGiB / 512, 0x07)
                                  .volume(L'D', L"NTFS", L"Data", 40 * sim::kGiB)
                                  .vhdx(kVhdx, 20480, false)
                                  .primary(2048, 20479 * kSectorsPerMiB, 0x07)
                                  .volume(L'G', L"NTFS", label, 19 * sim::kGiB)
                                  .build();
    model.folders[sim::Machine::pathKey(L"C:\\ProgramData")] = sim::File{L"C:\\ProgramData", {}, 0x10};
    model.folders[sim::Machine::pathKey(L"C:\\Program Files")] = sim::File{L"C:\\Program Files", {}, 0x10};
    model.folders[sim::Machine::pathKey(L"C:\\Program Files\\Host")] =
        sim::File{L"C:\\Program Files\\Host", {}, 0x10};
    return model;
}

class AttachedVhdxTest : public ::testing::TestWithParam<const wchar_t*> {
protected:
    AttachedVhdxTest() : machine(hostMachine(GetParam())), installed(machine) {}

    void runScript(const char* script) {
        ASSERT_EQ(RunDiskpartScript(script), ScriptOutcome::DiskpartSucceeded);
    }

    std::wstring letter() {
        wchar_t buffer[260] = L"unchanged";
        const int result = PH_GetVHDXVolumeLabel(kVhdx, buffer);
        EXPECT_EQ(result == 1, buffer[0] != L'\0');
        return buffer;
    }

    int readOnlyState() {
        int state = 42;
        EXPECT_EQ(PH_CheckVHDXReadOnly(kVhdx, &state), 1);
        return state;
    }

    std::string inventoryValue(const std::string& key) {
        const std::string text = machine.fileBytes(L"C:\\Program Files\\Host\\Partition.ini").value_or("");
        const std::size_t at = text.find("\r\n" + key + "=");
        if (at == std::string::npos) {
            return "(missing)";
        }
        const std::size_t start = at + key.size() + 3;
        return text.substr(start, text.find("\r\n", start) - start);
    }

    sim::Machine machine;
    ScopedPlatform installed;
};

TEST_P(AttachedVhdxTest, IsFoundOnlyWhileAttached) {
    EXPECT_EQ(PH_CheckExistVHDX(kVhdx), 0);
    EXPECT_EQ(letter(), L"");
    EXPECT_EQ(readOnlyState(), -1);

    runScript(kAttach);
    EXPECT_EQ(PH_CheckExistVHDX(kVhdx), 1);
    EXPECT_EQ(letter(), L"G:");
    EXPECT_EQ(machine.logTexts().back(), L"Halloway - PH_GetVHDXVolumeLabel is G:");
    EXPECT_EQ(readOnlyState(), 0);

    runScript(kDetach);
    EXPECT_EQ(letter(), L"");
    EXPECT_EQ(readOnlyState(), -1);
}

TEST_P(AttachedVhdxTest, IsListedAsAFileBackedFixedDriveAfterTheMachinesDisks) {
    runScript(kAttach);
    EXPECT_EQ(PH_ListFixedPartition(), 1);
    EXPECT_EQ(inventoryValue("Count"), "3");
    EXPECT_EQ(inventoryValue("Letter"), "C:");  // the first section
    const std::string text = machine.fileBytes(L"C:\\Program Files\\Host\\Partition.ini").value_or("");
    const std::size_t vhdxSection = text.find("[2]\r\n");
    ASSERT_NE(vhdxSection, std::string::npos);
    const std::string section = text.substr(vhdxSection, text.find("[Main]") - vhdxSection);
    for (const char* expected :
         {"Letter=G:", "Disk Type=MBR", "Partition Type=00010007-0800-0000-0000-000000000000",
          "Total MB=20479", "Free MB=19456", "Disk-Partition=2,1", "SSD=0", "BusType=15", "Drive Type=Fixed",
          "ReadOnlyVolume=0x00000000"}) {
        EXPECT_NE(section.find(std::string(expected) + "\r\n"), std::string::npos) << expected << "\n"
                                                                                   << section;
    }
}

TEST_P(AttachedVhdxTest, AttachedReadOnlyReportsAReadOnlyVolume) {
    runScript(kAttachReadOnly);
    EXPECT_EQ(letter(), L"G:");
    EXPECT_EQ(readOnlyState(), 1);
}

// Found by its label "Duskvale" in any case, and without a label by the shape of its partition.
INSTANTIATE_TEST_SUITE_P(ByLabelOrShape, AttachedVhdxTest, ::testing::Values(L"Duskvale", L"DUSKVALE", L""),
                         [](const auto& info) {
                             // The labels are ASCII.
                             std::string name = *info.param == L'\0' ? "NoLabel" : "Label";
                             for (const wchar_t* c = info.param; *c != L'\0'; ++c) {
                                 name += static_cast<char>(*c);
                             }
                             return name;
                         });

}  // namespace
}  // namespace kvph::test
