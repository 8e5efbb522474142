#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include "PerTestSupport.h"
#include "platform/WinConstants.h"
#include "sim/Machine.h"
#include "sim/format/DefaultMachine.h"
#include "sim/format/MachineJson.h"

namespace sim {
namespace {

namespace win = kvph::win;
using nlohmann::json;

std::string loadError(const std::string& text) {
    try {
        machineFromJson(json::parse(text), ".");
    } catch (const MachineFormatError& error) {
        return error.what();
    }
    return "(loaded)";
}

TEST(SimMachineJsonTest, RejectsWhatTheFormatDoesNotHave) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {R"({"codepage": 1252})", "codepage: unknown key"},
        {R"({"codePage": 932})", "codePage: code page 932 is not supported"},
        {R"({"codePage": "1252"})", "codePage: expected an integer"},
        {R"({"letters": ["ZZ"]})", "letters[0]: expected a drive letter"},
        {R"({"letters": ["Z", {"letter": "G", "ready": 0}]})", "letters[1].ready: expected true or false"},
        {R"({"folders": ["relative\\path"]})", "folders[0]: expected a full Windows path"},
        {R"({"files": [{"path": "C:\\a", "colour": 1}]})", "files[0].colour: unknown key"},
        {R"({"files": [{"size": 1}]})", "files[0].path: required"},
        {R"({"files": [{"path": "C:\\a", "attributes": ["hidden", "secret"]}]})",
         "files[0].attributes[1]: unknown attribute \"secret\""},
        {R"({"files": [{"path": "C:\\a", "text": "abc", "size": 2}]})",
         "files[0].size: smaller than the text"},
        {R"({"files": [{"path": "C:\\a"}, {"path": "c:\\A"}]})", "files[1].path: the file is listed twice"},
        {R"({"registry": [{"key": "HKXX\\Software"}]})", "registry[0].key: must begin with HKLM\\ or HKCU\\"},
        {R"({"registry": [{"key": "HKLM\\S", "dwords": {"V": -1}}]})",
         "registry[0].dwords.V: must be between"},
        {R"({"vdisks": [{"path": "D:\\a.vhdx", "type": "dynamic"}]})", "vdisks[0].type: expected"},
        {R"({"vdisks": [{"path": "D:\\a.vhdx", "attached": 1}]})",
         "vdisks[0].attached: expected true or false"},
        {R"({"diskpart": {"exitCodes": [0, "5"]}})", "diskpart.exitCodes[1]: expected an integer"},
        {R"({"diskpart": {"cannotstart": true}})", "diskpart.cannotstart: unknown key"},
        {R"({"diskpart": {"words": {"Attached": "Angeh\u00e4ngt"}}})",
         "diskpart.words.Attached: not a text that \"list vdisk\" prints"},
        {R"({"diskpart": {"words": {"State": "Zu\r\nstand"}}})",
         "diskpart.words.State: expected a text of one line"},
        {R"({"disks": [{"number": 0, "sizeBytes": 1048576, "style": "mbr", "partitions": [{"sectors": 8, "type": "07"}]}]})",
         "disks[0].partitions[0].start: required"},
        {R"({"disks": [{"number": 0, "sizeBytes": 1048576, "style": "mbr", "partitions": [{"start": 8, "sectors": 8}]}]})",
         "disks[0].partitions[0].type: required"},
        {R"([1])", "(top level): expected an object"},
        {R"({"disks": [{"number": 1, "sizeBytes": 1, "colour": "red"}]})", "disks[0].colour: unknown key"},
        {R"({"disks": [{"number": 1}]})", "disks[0].sizeBytes: is required unless an image gives it"},
        {R"({"disks": [{"number": 1, "image": "a.img", "style": "mbr"}]})",
         "disks[0].style: cannot be given together with \"image\""},
        {R"({"disks": [{"number": 1, "sizeBytes": 1, "style": "mbr", "partitions": [{"start": 1, "sectors": 1,
            "type": "07", "logical": []}]}]})",
         "disks[0].partitions[0].logical: only an extended partition (type 05 or 0F) holds logical drives"},
        {R"({"disks": [{"number": 1, "sizeBytes": 1048576, "style": "mbr", "partitions": [
            {"start": 1, "sectors": 1, "type": "05"},
            {"start": 2, "sectors": 1, "type": "0F", "logical": [{"start": 3, "sectors": 1, "type": "07"}]}]}]})",
         "disks[0].partitions[1].logical: only the first extended partition holds logical drives"},
        {R"({"vdisks": [{"path": "D:\\a.vhdx", "disk": {"sizeBytes": 1, "bus": 7}}]})",
         "vdisks[0].disk.bus: unknown key"},
        {R"({"disks": [{"number": 1, "sizeBytes": 1, "style": "gpt", "partitions": [{"start": 1, "sectors": 1,
            "type": "not-a-guid"}]}]})",
         "disks[0].partitions[0].type: is not a GUID"},
    };
    for (const Case& c : cases) {
        EXPECT_NE(loadError(c.text).find(c.message), std::string::npos)
            << c.text << " -> " << loadError(c.text);
    }
}

TEST(SimMachineJsonTest, DefaultsAndContents) {
    const MachineModel model = machineFromJson(json::parse(R"({
        "letters": ["d"],
        "files": [ { "path": "D:\\vd\\notes.txt", "text": "Caf\u00e9", "size": 6, "attributes": ["readonly"] },
                   { "path": "D:\\vd\\empty.bin" } ],
        "vdisks": [ { "path": "D:\\vd\\drive.vhdx", "maximumMB": 20480, "attached": true } ]
    })"),
                                               ".");
    EXPECT_EQ(model.codePage, 1252u);
    EXPECT_EQ(model.commonAppData, L"C:\\ProgramData");
    EXPECT_EQ(model.letters, std::vector<wchar_t>{L'D'});
    const File& notes = model.files.at(L"D:\\VD\\NOTES.TXT");
    EXPECT_EQ(std::string(notes.content.begin(), notes.content.end()), std::string("Caf\xe9\0\0", 6));
    EXPECT_EQ(notes.attributes, win::FILE_ATTRIBUTE_READONLY_);
    EXPECT_EQ(model.files.at(L"D:\\VD\\EMPTY.BIN").attributes, win::FILE_ATTRIBUTE_NORMAL_);
    // The folder of listed files and the file of a listed virtual disk exist without being listed.
    EXPECT_EQ(model.folders.count(L"D:\\VD"), 1u);
    EXPECT_EQ(model.files.count(L"D:\\VD\\DRIVE.VHDX"), 1u);
    ASSERT_EQ(model.vdisks.size(), 1u);
    EXPECT_TRUE(model.vdisks[0].expandable);
    EXPECT_EQ(model.vdisks[0].disk.sizeBytes, std::uint64_t{20480} << 20);
}

TEST(SimMachineJsonTest, SavedMachinesLoadBackTheSame) {
    Machine machine(defaultMachine());
    machine.model().letters.push_back(L'Y');
    machine.model().notReadyLetters.push_back(L'G');
    machine.model().currentDirectory = L"D:\\vd";
    machine.putFolder(L"D:\\vd");
    machine.setFileAttributesW(L"D:\\vd", win::FILE_ATTRIBUTE_HIDDEN_);
    machine.putFile(L"D:\\vd\\bytes.bin", std::string("\0\x81\xff\r\n", 5), win::FILE_ATTRIBUTE_SYSTEM_);
    machine.writePrivateProfileStringW(L"Main", L"Label", L"Caf\u00e9", L"D:\\vd\\Settings.ini");
    machine.model().vdisks.push_back({L"D:\\vd\\spare.vhdx", false, 512, false, false, {}});
    machine.model().vdisks.back().disk.sizeBytes = std::uint64_t{512} << 20;
    machine.putFile(L"D:\\vd\\spare.vhdx", std::string(4096, '\0'));
    machine.model().diskpart = {{0, 5}, true, {{L"Attached not open", L"\u10e5\u10d0\u10e0\u10d8"}}};
    machine.regSetDword(kvph::RegistryRoot::CurrentUser, L"Software\\Test", L"Value", 7);

    const json saved = machineToJson(machine.model());
    const MachineModel loaded = machineFromJson(saved, ".");
    EXPECT_EQ(machineToJson(loaded), saved);
    EXPECT_EQ(loaded.files.at(L"D:\\VD\\BYTES.BIN").content,
              machine.model().files.at(L"D:\\VD\\BYTES.BIN").content);
    EXPECT_EQ(loaded.files.size(), machine.model().files.size());
    EXPECT_EQ(loaded.folders.at(L"D:\\VD").attributes,
              win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_DIRECTORY_);
    EXPECT_EQ(loaded.registry.at(L"HKCU\\SOFTWARE\\TEST").dwords.at(L"Value"), 7u);
    EXPECT_EQ(loaded.diskpart.exitCodes, (std::vector<std::uint32_t>{0, 5}));
    EXPECT_TRUE(loaded.diskpart.cannotStart);
    EXPECT_EQ(loaded.diskpart.words, machine.model().diskpart.words);
    ASSERT_EQ(loaded.vdisks.size(), machine.model().vdisks.size());
    EXPECT_FALSE(loaded.vdisks.back().expandable);
}

TEST(SimMachineJsonTest, MachineFilesAllowCommentsAndNameThemselvesInErrors) {
    const std::filesystem::path folder = kvph::test::DiskImages::scratchPath("json");
    std::filesystem::create_directories(folder);
    const std::string good = (folder / "good.json").string();
    const std::string bad = (folder / "bad.json").string();
    std::ofstream(good) << "{\n  // a comment\n  \"letters\": [\"Z\"]\n}\n";
    std::ofstream(bad) << "{ \"disks\": [], \"registry\": [ { \"key\": \"HKLM\\\\S\", \"extra\": 1 } ] }";
    EXPECT_EQ(loadMachineFile(good).letters, std::vector<wchar_t>{L'Z'});
    try {
        loadMachineFile(bad);
        ADD_FAILURE() << "loaded";
    } catch (const MachineFormatError& error) {
        EXPECT_EQ(std::string(error.what()), bad + ": registry[0].extra: unknown key");
    }
    EXPECT_THROW(loadMachineFile((folder / "missing.json").string()), MachineFormatError);
    std::filesystem::remove_all(folder);
}

// One MBR disk 0 of 1 GiB (2097152 sectors) with the given partitions and volumes, and more JSON after it.
std::string mbrMachine(const std::string& partitions, const std::string& volumes = "[]",
                       const std::string& more = "") {
    return R"({"disks": [{"number": 0, "sizeBytes": 1073741824, "style": "mbr", "partitions": )" +
           partitions + R"(, "volumes": )" + volumes + "}]" + more + "}";
}

std::string diskWith(const std::string& fields) {
    return R"({"disks": [{"number": 0, "sizeBytes": 1073741824, )" + fields + "}]}";
}

std::string imageDisk(const std::string& path, const std::string& fields = "") {
    return R"({"disks": [{"number": 0, )" + fields + R"("image": ")" + path + R"("}]})";
}

TEST(SimMachineJsonTest, ImpossibleMachinesAreRefusedWithTheirPath) {
    struct Case {
        std::string text;
        const char* message;
    };
    const std::string primary = R"({"start": 2048, "sectors": 204800, "type": "07"})";
    const std::string thirtyThreeDrives = [] {
        std::string list;
        for (int i = 0; i < 31; ++i) {
            list += R"({"number": )" + std::to_string(i) + R"(, "sizeBytes": 1048576}, )";
        }
        return R"({"disks": [)" + list + R"({"number": 31, "sizeBytes": 1048576}],)" +
               R"( "vdisks": [{"path": "D:\\a.vhdx", "maximumMB": 16, "attached": true}]})";
    }();
    // An image is read sector by sector, so its sector size is bounded before anything is read.
    const std::string anyImage = kvph::test::DiskImages::withBootRecords("any.img", {});
    const Case cases[] = {
        {diskWith(R"("geometry": {"bytesPerSector": 0})"),
         "disks[0].geometry.bytesPerSector: must be a power of two from 512 to 4096"},
        {diskWith(R"("geometry": {"bytesPerSector": 3})"), "disks[0].geometry.bytesPerSector: must be"},
        {diskWith(R"("geometry": {"bytesPerSector": 8192})"), "disks[0].geometry.bytesPerSector: must be"},
        {imageDisk(anyImage, R"("geometry": {"bytesPerSector": 256}, )"),
         "disks[0].geometry.bytesPerSector: must be a power of two from 512 to 4096"},
        {imageDisk(anyImage, R"("geometry": {"bytesPerSector": 4294967295}, )"),
         "disks[0].geometry.bytesPerSector: must be"},
        {diskWith(R"("geometry": {"sectorsPerTrack": 0})"),
         "disks[0].geometry.sectorsPerTrack: must be above zero"},
        {diskWith(R"("geometry": {"tracksPerCylinder": 0})"),
         "disks[0].geometry.tracksPerCylinder: must be above zero"},
        {mbrMachine(
             R"([{"start": 2048, "sectors": 409600, "type": "07"}, {"start": 204800, "sectors": 2048, "type": "07"}])"),
         "disks[0].partitions[1]: overlaps disks[0].partitions[0]"},
        {mbrMachine(R"([{"start": 2048, "sectors": 2097152, "type": "07"}])"),
         "disks[0].partitions[0]: lies outside the disk (2097152 sectors)"},
        {mbrMachine(R"([{"start": 2048, "sectors": 4294967296, "type": "07"}])"),
         "disks[0].partitions[0].sectors: must be at most 4294967295"},
        {mbrMachine(R"([{"start": 4294967296, "sectors": 1, "type": "07"}])"),
         "disks[0].partitions[0].start: must be at most 4294967295 on an MBR disk"},
        {mbrMachine(
             R"([{"start": 2048, "sectors": 1048576, "type": "0F", "logical": [{"start": 4096, "sectors": 2048, "type": "07"}, {"start": 5000, "sectors": 100, "type": "07"}]}])"),
         "disks[0].partitions[0].logical[1]: overlaps disks[0].partitions[0].logical[0]"},
        {mbrMachine(
             R"([{"start": 2048, "sectors": 8192, "type": "0F", "logical": [{"start": 4096, "sectors": 8192, "type": "07"}]}])"),
         "disks[0].partitions[0].logical[0]: lies outside its extended partition disks[0].partitions[0]"},
        {diskWith(
             R"("style": "gpt", "partitions": [{"start": 34, "sectors": 100, "type": "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}, {"start": 100, "sectors": 100, "type": "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}])"),
         "disks[0].partitions[1]: overlaps disks[0].partitions[0]"},
        {R"({"disks": [{"number": 0, "sizeBytes": 9223372036854775808}]})",
         "disks[0].sizeBytes: must be at most 9223372036854775807"},
        {mbrMachine("[" + primary + "]", R"([{"start": 2048, "freeBytes": 18446744073709551615}])"),
         "disks[0].volumes[0].freeBytes: must be at most 9223372036854775807"},
        {mbrMachine("[" + primary + "]", R"([{"start": 4096}])"),
         "disks[0].volumes[0].start: no partition of the disk starts at sector 4096"},
        {mbrMachine("[" + primary + "]", R"([{"start": 2048}, {"start": 2048}])"),
         "disks[0].volumes[1].start: another volume is on the partition at sector 2048"},
        {mbrMachine(
             R"([{"start": 2048, "sectors": 204800, "type": "07"}, {"start": 206848, "sectors": 204800, "type": "07"}])",
             R"([{"start": 2048, "letter": "E"}, {"start": 206848, "letter": "e"}])"),
         "disks[0].volumes[1].letter: drive letter E is already taken by disks[0].volumes[0].letter"},
        {mbrMachine("[" + primary + "]", R"([{"start": 2048, "letter": "Z"}])", R"(, "letters": ["Z"])"),
         "letters[0]: drive letter Z is already taken by disks[0].volumes[0].letter"},
        {mbrMachine("[" + primary + "]", R"([{"start": 2048, "letter": "Z"}])",
                    R"(, "letters": [{"letter": "z", "ready": false}])"),
         "drive letter Z is already taken by disks[0].volumes[0].letter"},
        {R"({"disks": [{"number": 32, "sizeBytes": 1048576}]})", "disks[0].number: must be at most 31"},
        {thirtyThreeDrives,
         "vdisks[0].attached: no physical drive number is left for it (32 drives at most)"},
        {mbrMachine("[" + primary + "]", R"([{"letter": "E"}])"), "disks[0].volumes[0].start: required"},
        // A table read from an image is held to the same rules, its entries named as a description would.
        {imageDisk(kvph::test::DiskImages::withBootRecords(
             "overlap.img", {{0, {{0x07, 2048, 409600}, {0x07, 204800, 2048}}}})),
         "disks[0].image.partitions[1]: overlaps disks[0].image.partitions[0]"},
        {imageDisk(kvph::test::DiskImages::withBootRecords("past-end.img", {{0, {{0x07, 2048, 2097152}}}})),
         "disks[0].image.partitions[0]: lies outside the disk (2097152 sectors)"},
        {imageDisk(kvph::test::DiskImages::withBootRecords(
             "outside-container.img", {{0, {{0x0F, 2048, 8192}}}, {2048, {{0x07, 2048, 8192}}}})),
         "disks[0].image.partitions[0].logical[0]: lies outside its extended partition "
         "disks[0].image.partitions[0]"},
        {imageDisk(kvph::test::DiskImages::withSgdisk("gpt.img", 1073741824, "-o -n 1:2048:+100M"),
                   R"("sizeBytes": 67108864, )"),
         "disks[0].image.partitions[0]: lies outside the disk (131072 sectors)"},
    };
    for (const Case& c : cases) {
        const std::string error = loadError(c.text);
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\n -> " << error;
    }
}

TEST(SimMachineJsonTest, PossibleEdgesStillLoad) {
    const std::string machines[] = {
        // Partitions that touch, one ending at the disk's last sector, 4 KiB sectors.
        R"({"disks": [{"number": 0, "sizeBytes": 1073741824, "style": "mbr", "partitions": [
            {"start": 2048, "sectors": 2048, "type": "07"}, {"start": 4096, "sectors": 2093056, "type": "07"}],
            "volumes": [{"start": 4096, "letter": "E"}]},
          {"number": 31, "sizeBytes": 1073741824, "geometry": {"bytesPerSector": 4096}, "style": "gpt",
           "partitions": [{"start": 6, "sectors": 262138, "type": "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}]}]})",
        // A logical drive filling its container, with an unlettered volume.
        // volume is not claimed while it is detached.
        R"({"disks": [{"number": 0, "sizeBytes": 1073741824, "style": "mbr", "partitions": [
            {"start": 2048, "sectors": 8192, "type": "0F", "logical": [{"start": 4096, "sectors": 6144, "type": "07"}]}],
            "volumes": [{"start": 4096, "letter": null}]}]})",
        // A chain of boot records as the partitioning tools write it, each link counted from the container.
        imageDisk(kvph::test::DiskImages::withSfdisk("chain.img", 1073741824,
                                                     "label: dos\nstart=2048, size=204800, type=7\n"
                                                     "start=1024000, size=1000000, type=f\n"
                                                     "start=1100000, size=100000, type=7\n"
                                                     "start=1400000, size=623999, type=83\n")),
        imageDisk(kvph::test::DiskImages::withBootRecords("big-sectors.img", {}),
                  R"("geometry": {"bytesPerSector": 4096}, )"),
    };
    for (const std::string& text : machines) {
        EXPECT_EQ(loadError(text), "(loaded)") << text;
    }
}

TEST(SimMachineJsonTest, DeclaredFileSizesAreNotHeldInMemory) {
    const MachineModel model =
        machineFromJson(json::parse(R"({"files": [{"path": "D:\\vd\\huge.vhdx", "size": 4398046511104},
                                  {"path": "D:\\vd\\notes.txt", "size": 1048577, "text": "abc"}]})"),
                        ".");
    const File& huge = model.files.at(Machine::pathKey(L"D:\\vd\\huge.vhdx"));
    EXPECT_TRUE(huge.content.empty());
    EXPECT_EQ(huge.logicalSize, std::optional<std::uint64_t>(4398046511104ull));
    const File& notes = model.files.at(Machine::pathKey(L"D:\\vd\\notes.txt"));
    EXPECT_EQ(std::string(notes.content.begin(), notes.content.end()), "abc");
    EXPECT_EQ(notes.logicalSize, std::optional<std::uint64_t>(1048577));
    const json saved = machineToJson(model);
    EXPECT_EQ(machineToJson(machineFromJson(saved, ".")), saved);
    EXPECT_EQ(saved["files"][0]["size"], 4398046511104ull);
}

// Only regular files are opened: a folder, a device or a pipe (which would block the open) is refused by
// its type, for the machine file and for a disk image alike.
TEST(SimMachineJsonTest, FoldersDevicesAndPipesAreNotOpened) {
    const std::filesystem::path folder = kvph::test::DiskImages::scratchPath("special");
    std::filesystem::create_directories(folder / "sub");
    const std::string pipe = (folder / "pipe").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const char* image : {"sub", "pipe", "/dev/null"}) {
        const std::string machine = (folder / "machine.json").string();
        std::ofstream(machine) << R"({"disks": [{"number": 0, "image": ")" << image << R"("}]})";
        try {
            loadMachineFile(machine);
            ADD_FAILURE() << image << " loaded";
        } catch (const MachineFormatError& error) {
            EXPECT_NE(std::string(error.what()).find(machine + ": disks[0].image: "), std::string::npos)
                << error.what();
            EXPECT_NE(std::string(error.what()).find("not a disk image file"), std::string::npos)
                << error.what();
        }
    }
    for (const std::string& path : {(folder / "sub").string(), pipe}) {
        try {
            loadMachineFile(path);
            ADD_FAILURE() << path << " loaded";
        } catch (const MachineFormatError& error) {
            EXPECT_EQ(std::string(error.what()), path + ": is a folder, device or pipe, not a machine file");
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace sim
