// The kvph tool run as a process: exit statuses and messages, --json, --save, --trace, the demo, the
// check, and machines that once crashed or hung it.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& argument) {
    std::string text = "'";
    for (char c : argument) {
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return text + "'";
}

fs::path workFolder() {
    const fs::path folder =
        fs::path(KVPH_TOOL_TMP) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ToolRun kvph(const std::vector<std::string>& arguments) {
    // One file per test process: ctest runs the cases as parallel processes.
    const fs::path errors = fs::path(KVPH_TOOL_TMP) / ("stderr-" + std::to_string(getpid()) + ".txt");
    fs::create_directories(errors.parent_path());
    std::string command = quoted(KVPH_TOOL);
    for (const std::string& argument : arguments) {
        command += " " + quoted(argument);
    }
    command += " 2>" + quoted(errors.string());
    ToolRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, got);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = readText(errors);
    return run;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> objects;
    for (const std::string& line : linesOf(text)) {
        objects.push_back(json::parse(line));
    }
    return objects;
}

std::size_t widestLine(const std::string& text) {
    std::size_t widest = 0;
    for (const std::string& line : linesOf(text)) {
        widest = std::max(widest, line.size());
    }
    return widest;
}

fs::path writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* message;  // what stderr must name
};

class UsageErrorTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrorTest, ExitsWithTwoNamingTheProblemAndRunsNothing) {
    const ToolRun run = kvph(GetParam().arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Kvph, UsageErrorTest,
    ::testing::Values(
        UsageCase{"OptionAfterCommand", {"disks", "--json"}, "--json goes before the first command"},
        UsageCase{"OptionInLaterCommand", {"list", "--", "--trace", "disks"}, "--trace goes before"},
        UsageCase{"UnknownCommand", {"bogus"}, "unknown command 'bogus'"},
        UsageCase{"NoCommand", {"--json"}, "no command given"},
        UsageCase{"EmptyCommand", {"list", "--", "--", "disks"}, "empty command"},
        UsageCase{"MissingArgument", {"exists"}, "PATH"},
        UsageCase{"SurplusArgument", {"disks", "extra"}, "extra"},
        UsageCase{"NotANumber", {"create", "D:\\a.vhdx", "L", "12x"}, "MAXMB"},
        UsageCase{"NumberOutOfRange", {"create", "D:\\a.vhdx", "L", "2147483648"}, "MAXMB"},
        UsageCase{"UnknownFlag", {"attach", "D:\\a.vhdx", "--readonly"}, "--readonly"},
        UsageCase{"OptionWithoutValue", {"--machine"}, "--machine"},
        UsageCase{"LaterCommandWrong", {"list", "--", "hide"}, "LETTER"},
        UsageCase{"CheckSizeNotPositive", {"check", "--size", "0"}, "--size: Value 0 not in range"}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

TEST(KvphTest, RunTimeFailuresExitWithOneAndSayWhy) {
    const fs::path folder = workFolder();
    const ToolRun folderMachine = kvph({"--machine", folder.string(), "list"});
    EXPECT_EQ(folderMachine.status, 1);
    EXPECT_NE(folderMachine.err.find(folder.string() + ": is a folder"), std::string::npos)
        << folderMachine.err;

    const ToolRun missing = kvph({"--machine", (folder / "none.json").string(), "list"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.json: cannot be read: No such file or directory"), std::string::npos)
        << missing.err;

    const ToolRun unwritable = kvph({"--save", (folder / "no" / "such" / "m.json").string(), "free-letter"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("m.json: cannot be written: No such file or directory"), std::string::npos)
        << unwritable.err;
}

TEST(KvphTest, HelpForTheToolAndEachCommand) {
    const ToolRun tool = kvph({"--help"});
    EXPECT_EQ(tool.status, 0);
    for (const char* command : {"list", "exists", "letter", "readonly", "free-letter", "create", "attach",
                                "detach", "compact", "hide", "unhide", "format", "disks", "demo", "check"}) {
        EXPECT_NE(tool.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    }
    EXPECT_NE(tool.out.find("Exit status"), std::string::npos);
    const ToolRun create = kvph({"create", "--help"});
    EXPECT_EQ(create.status, 0);
    EXPECT_NE(create.out.find("kvph create [OPTIONS] PATH LABEL MAXMB"), std::string::npos) << create.out;
    EXPECT_NE(create.out.find("--expandable"), std::string::npos);
    const ToolRun check = kvph({"check", "--help"});
    EXPECT_NE(check.out.find("--size MB"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("--folder DIR"), std::string::npos) << check.out;
}

TEST(KvphTest, JsonGivesOneObjectPerCommandInItsShape) {
    const ToolRun run =
        kvph({"--json", "exists", "D:\\vd\\drive.vhdx", "--", "free-letter", "--", "unhide", ""});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<json> objects = jsonLines(run.out);
    ASSERT_EQ(objects.size(), 3u);
    for (const json& object : objects) {
        for (const char* key : {"command", "result", "output", "log", "diskpart"}) {
            EXPECT_TRUE(object.contains(key)) << key << " in " << object.dump();
        }
        EXPECT_TRUE(object["log"].is_array());
    }
    EXPECT_EQ(objects[0]["command"], "exists");
    EXPECT_EQ(objects[0]["result"], 0);
    ASSERT_EQ(objects[0]["diskpart"].size(), 1u);
    EXPECT_EQ(objects[0]["diskpart"][0]["script"], "list vdisk\r\nexit\r\n");
    EXPECT_EQ(objects[0]["diskpart"][0]["exitCode"], 0);
    EXPECT_EQ(objects[1]["result"], 1);
    EXPECT_EQ(objects[1]["output"], "Y:");
    EXPECT_EQ(objects[2]["arguments"], json::array({""}));
}

TEST(KvphTest, SavedMachineLoadsBackTheSame) {
    const fs::path folder = workFolder();
    const fs::path first = folder / "first.json";
    const fs::path second = folder / "second.json";
    ASSERT_EQ(kvph({"--save", first.string(), "create", "D:\\vd\\drive.vhdx", "Duskvale", "2048",
                    "--expandable", "--", "attach", "D:\\vd\\drive.vhdx"})
                  .status,
              0);
    // `disks` only reads, so the machine saved again must be the one loaded.
    const ToolRun again = kvph({"--machine", first.string(), "--save", second.string(), "disks"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("Duskvale"), std::string::npos) << again.out;
    EXPECT_EQ(json::parse(readText(first)), json::parse(readText(second)));

    // Saving over the file it was loaded from replaces it whole.
    ASSERT_EQ(kvph({"--machine", second.string(), "--save", second.string(), "disks"}).status, 0);
    EXPECT_EQ(json::parse(readText(second)), json::parse(readText(first)));
    EXPECT_FALSE(fs::exists(second.string() + ".kvph-save"));
}

TEST(KvphTest, SavedImagePathsAreRelativeToTheSavedFile) {
    const fs::path folder = workFolder();
    fs::create_directories(folder / "images");
    fs::create_directories(folder / "saved" / "deeper");
    writeFile(folder / "images" / "blank.img", std::string(1 << 20, '\0'));
    const fs::path machine = writeFile(folder / "machine.json", R"({ "disks": [
        { "number": 0, "driveType": "fixed", "bus": 11, "image": "images/blank.img" } ] })");
    const fs::path saved = folder / "saved" / "deeper" / "machine.json";
    ASSERT_EQ(kvph({"--machine", machine.string(), "--save", saved.string(), "disks"}).status, 0);
    EXPECT_EQ(json::parse(readText(saved))["disks"][0]["image"], "../../images/blank.img");
    const ToolRun reloaded = kvph({"--machine", saved.string(), "disks"});
    EXPECT_EQ(reloaded.status, 0) << reloaded.err;
    EXPECT_NE(reloaded.out.find("Disk 0  RAW"), std::string::npos) << reloaded.out;
}

// The host's whole life of the drive: each step's result and, where it has one, its output.
TEST(KvphTest, DemoRunsEveryStepToItsEnd) {
    const ToolRun run = kvph({"--json", "demo"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<json> objects = jsonLines(run.out);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0]["result"], 1);
    const json& steps = objects[0]["output"]["steps"];
    const std::vector<std::pair<std::string, json>> expected = {
        {"PH_ListFixedPartition()", nullptr},
        {"PH_CreateVHDX(L\"D:\\\\vd\\\\drive.vhdx\", L\"Duskvale\", 20480, 1)", nullptr},
        {"PH_AttachVHDX(L\"D:\\\\vd\\\\drive.vhdx\", 0)", nullptr},
        {"PH_GetVHDXVolumeLabel(L\"D:\\\\vd\\\\drive.vhdx\", letter)", "Y:"},
        {"PH_CheckVHDXReadOnly(L\"D:\\\\vd\\\\drive.vhdx\", &state)", "0"},
        {"PH_DetachVHDX(L\"D:\\\\vd\\\\drive.vhdx\", 0)", nullptr},
        {"PH_AttachVHDX(L\"D:\\\\vd\\\\drive.vhdx\", 1)", nullptr},
        {"PH_CheckVHDXReadOnly(L\"D:\\\\vd\\\\drive.vhdx\", &state)", "1"},
        {"PH_CompactThenAttachVHDX(L\"D:\\\\vd\\\\drive.vhdx\")", nullptr},
        {"PH_DetachVHDX(L\"D:\\\\vd\\\\drive.vhdx\", 1)", nullptr},
    };
    ASSERT_EQ(steps.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(steps[i]["call"], expected[i].first);
        EXPECT_EQ(steps[i]["result"], 1) << expected[i].first;
        if (!expected[i].second.is_null()) {
            EXPECT_EQ(steps[i]["output"], expected[i].second) << expected[i].first;
        }
    }
    EXPECT_NE(
        steps[1]["diskpart"][0]["script"].get<std::string>().find("create vdisk file=\"D:\\vd\\drive.vhdx\""),
        std::string::npos);
    EXPECT_EQ(steps[9]["diskpart"][0]["script"],
              "select vdisk file=\"D:\\vd\\drive.vhdx\"\r\ndetach vdisk\r\nexit\r\n");

    const ToolRun text = kvph({"demo"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Every step gave what the host expects."), std::string::npos);
    EXPECT_EQ(text.out.find("\x1b["), std::string::npos) << "colour only on a terminal";
    EXPECT_LE(widestLine(text.out), 100u);
}

TEST(KvphTest, EchoedArgumentsCannotFakeALine) {
    const ToolRun run = kvph({"exists", "D:\\a.vhdx\nresult: 1"});
    ASSERT_EQ(run.status, 0);
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "> exists \"D:\\a.vhdx\\nresult: 1\"");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "result: 0"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "result: 1"), 0);
}

TEST(KvphTest, TraceShowsEachChangeAsItHappens) {
    const ToolRun run = kvph({"--trace", "hide", "E:"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::size_t wrote = run.out.find("  trace: wrote C:\\ProgramData\\Norvel\\Quillmark\\Command.txt");
    const std::size_t ran = run.out.find("  trace: ran diskpart /s ");
    const std::size_t deleted =
        run.out.find("  trace: deleted C:\\ProgramData\\Norvel\\Quillmark\\Command.txt");
    const std::size_t result = run.out.find("result: 1");
    EXPECT_LT(wrote, ran);
    EXPECT_LT(ran, deleted);
    EXPECT_LT(deleted, result);
    EXPECT_NE(run.out.find("set id=\"1B\" override"), std::string::npos) << run.out;

    const ToolRun attach =
        kvph({"--trace", "create", "D:\\vd\\t.vhdx", "T", "1024", "--", "attach", "D:\\vd\\t.vhdx"});
    EXPECT_NE(attach.out.find("trace: registry: set HKLM\\"), std::string::npos) << attach.out;

    // With --json the trace goes to standard error and every line of the output stays JSON.
    const ToolRun traced = kvph({"--json", "--trace", "hide", "E:"});
    EXPECT_EQ(jsonLines(traced.out).size(), 1u);
    EXPECT_NE(traced.err.find("trace: ran diskpart"), std::string::npos);
}

// Machines that once made `disks` allocate without bound or run for minutes.
TEST(KvphTest, DisksStaysBoundedOnBrokenTables) {
    const fs::path folder = workFolder();
    const std::vector<std::pair<std::string, std::string>> disks = {
        {"PartitionLargerThanDisk",
         R"("partitions": [ { "start": 2048, "sectors": 4000000000, "type": "07" } ])"},
        {"HugeSectors",
         R"("geometry": { "bytesPerSector": 4294967295, "sectorsPerTrack": 63, "tracksPerCylinder": 255 },
                          "partitions": [ { "start": 2048, "sectors": 4000, "type": "07" } ])"},
    };
    for (const auto& [name, disk] : disks) {
        const fs::path machine = writeFile(folder / (name + ".json"),
                                           R"({ "disks": [ { "number": 0, "driveType": "fixed", "bus": 11,
            "sizeBytes": 1048576000, "style": "mbr", "signature": 1, )" +
                                               disk + R"(, "volumes": [] } ] })");
        const ToolRun run = kvph({"--machine", machine.string(), "disks"});
        EXPECT_LE(widestLine(run.out), 100u) << name << "\n" << run.out;
        if (run.status == 0) {
            EXPECT_NE(run.out.find("Disk 0  MBR"), std::string::npos) << name;
        } else {
            // A loader that refuses the machine names the file.
            EXPECT_EQ(run.status, 1) << name;
            EXPECT_NE(run.err.find(machine.string()), std::string::npos) << name << run.err;
        }
    }
}

// The built-in machine as a machine file, with `change` applied to its JSON.
fs::path machineFile(const fs::path& folder, const std::string& name,
                     const std::function<void(json&)>& change) {
    const fs::path base = folder / "base.json";
    if (!fs::exists(base)) {
        kvph({"--save", base.string(), "disks"});
    }
    json machine = json::parse(readText(base));
    change(machine);
    // Loaded and saved once, so that it reads as every saved machine does.
    const fs::path edited = writeFile(folder / ("edited-" + name), machine.dump(2));
    kvph({"--machine", edited.string(), "--save", (folder / name).string(), "disks"});
    return folder / name;
}

json withoutDiskpartQueue(json machine) {
    machine.erase("diskpart");
    return machine;
}

struct CheckCase {
    const char* name;
    std::vector<unsigned> exitCodes;  // queued for diskpart's runs
    std::vector<int> failingSteps;
};

class CheckTest : public ::testing::TestWithParam<CheckCase> {};

// Whatever a step gives, the machine saved after the check is the one it started on.
TEST_P(CheckTest, JudgesEachStepAndLeavesTheMachineAsItWas) {
    const CheckCase& row = GetParam();
    const fs::path folder = workFolder();
    const fs::path before = machineFile(folder, "before.json", [&](json& machine) {
        machine["diskpart"]["exitCodes"] = row.exitCodes;
        machine["files"].push_back({{"path", "C:\\ProgramData\\Norvel\\Quillmark\\UserData.ini"},
                                    {"text", "[Main]\r\nDisk=7\r\nPartition=2\r\n"}});
        machine["folders"].push_back("C:\\ProgramData\\Norvel\\Quillmark");
        machine["folders"].push_back("C:\\ProgramData\\Norvel");
    });
    const fs::path after = folder / "after.json";
    const ToolRun run = kvph({"--machine", before.string(), "--save", after.string(), "--json", "check"});
    const std::vector<json> steps = jsonLines(run.out);
    ASSERT_EQ(steps.size(), 15u) << run.out << run.err;
    std::vector<int> failed;
    for (const json& step : steps) {
        if (!step["passed"].get<bool>()) {
            failed.push_back(step["step"].get<int>());
        }
    }
    EXPECT_EQ(failed, row.failingSteps) << run.out;
    EXPECT_EQ(run.status, failed.empty() ? 0 : 1);
    EXPECT_NE(run.err.find(std::to_string(15 - failed.size()) + " passed, " + std::to_string(failed.size()) +
                           " failed"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(steps.back()["call"].get<std::string>().rfind("detach and delete the scratch drive", 0), 0u);
    EXPECT_TRUE(steps.back()["passed"].get<bool>()) << steps.back().dump();
    EXPECT_EQ(withoutDiskpartQueue(json::parse(readText(after))),
              withoutDiskpartQueue(json::parse(readText(before))));
}

INSTANTIATE_TEST_SUITE_P(
    Kvph, CheckTest,
    ::testing::Values(CheckCase{"EveryStepPasses", {}, {}},
                      // Every later step then fails on a drive that is not there, but its removal.
                      CheckCase{"CreationFails", {5}, {3, 5, 6, 7, 8, 9, 10, 11, 12}},
                      // The attach, and the detach and attach again it falls back to.
                      CheckCase{"AttachFails", {0, 0, 0, 5, 5, 5, 5, 5}, {5, 6, 7, 8, 9}},
                      // The drive stays attached until the clean-up detaches and removes it.
                      CheckCase{"RemovalFails", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}, {13, 14}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(KvphTest, CheckInTextEndsWithTheCount) {
    const ToolRun run = kvph({"check", "--size", "128"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("PH_CreateVHDX(L\"C:\\\\Windows\\\\Temp\\\\kvph-check-1\\\\KvphCheck.vhdx\", "
                           "L\"KvphCheck\", 128, 1) = 1\n    expected 1 and the file made: passed"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(linesOf(run.out).back(), "15 passed, 0 failed");
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> files;  // put on the built-in machine
    std::vector<std::string> options;
    const char* message;
};

class CheckRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(CheckRefusalTest, SaysWhyInOneLineAndTouchesNothing) {
    const fs::path folder = workFolder();
    const fs::path before = machineFile(folder, "before.json", [&](json& machine) {
        for (const std::string& path : GetParam().files) {
            machine["files"].push_back({{"path", path}, {"text", "kept"}});
        }
    });
    const fs::path after = folder / "after.json";
    std::vector<std::string> arguments = {"--machine",    before.string(), "--save",
                                          after.string(), "--json",        "check"};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const ToolRun run = kvph(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_EQ(linesOf(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_EQ(json::parse(readText(after)), json::parse(readText(before)));
}

INSTANTIATE_TEST_SUITE_P(
    Kvph, CheckRefusalTest,
    ::testing::Values(
        RefusalCase{"HostDriveInTheFolder",
                    {"C:\\Program Files\\Host\\Partition.ini"},
                    {},
                    "Partition.ini exists: a host service keeps its drive in this folder. Copy kvph.exe and "
                    "KvPartitionHelper.dll into a folder of their own"},
        RefusalCase{
            "HostDriveSizeInTheFolder", {"C:\\Program Files\\Host\\MaxSize.ini"}, {}, "MaxSize.ini exists"},
        RefusalCase{"DriveFileThere", {"D:\\vd\\KvphCheck.vhdx"}, {"--folder", "D:\\vd"}, "exists already"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

}  // namespace
