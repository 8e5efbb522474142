#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/WinConstants.h"
#include "sim/DefaultMachine.h"
#include "sim/Machine.h"
#include "sim/MachineJson.h"

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
        {R"({"disks": [{"number": 0, "sizeBytes": 1048576, "style": "mbr", "partitions": [{"sectors": 8, "type": "07"}]}]})",
         "disks[0].partitions[0].start: required"},
        {R"({"disks": [{"number": 0, "sizeBytes": 1048576, "style": "mbr", "partitions": [{"start": 8, "sectors": 8}]}]})",
         "disks[0].partitions[0].type: required"},
        {R"([1])", "(top level): expected an object"},
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
    machine.model().letters.push_back(L'D');
    machine.putFolder(L"D:\\vd");
    machine.setFileAttributesW(L"D:\\vd", win::FILE_ATTRIBUTE_HIDDEN_);
    machine.putFile(L"D:\\vd\\bytes.bin", std::string("\0\x81\xff\r\n", 5), win::FILE_ATTRIBUTE_SYSTEM_);
    machine.writePrivateProfileStringW(L"Main", L"Label", L"Caf\u00e9", L"D:\\vd\\Settings.ini");
    machine.model().vdisks.push_back({L"D:\\vd\\spare.vhdx", false, 512, false, false, {}});
    machine.model().vdisks.back().disk.sizeBytes = std::uint64_t{512} << 20;
    machine.putFile(L"D:\\vd\\spare.vhdx", std::string(4096, '\0'));
    machine.model().diskpart = {{0, 5}, true};
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
    ASSERT_EQ(loaded.vdisks.size(), machine.model().vdisks.size());
    EXPECT_FALSE(loaded.vdisks.back().expandable);
}

TEST(SimMachineJsonTest, MachineFilesAllowCommentsAndNameThemselvesInErrors) {
    const auto folder = std::filesystem::temp_directory_path() / "kvph_sim_json_test";
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

}  // namespace
}  // namespace sim
