// The stand-in diskpart: runs a script's commands against the machine, one line at a time, and stops
// at the first command that fails. What it prints is kept as UTF-8 text; the console that captures it
// converts it to its own code page.
//
// Commands are handlers in tables, one table per family: Vdisk.cpp holds the "... vdisk"
// commands, Disks.cpp the disk and partition commands. To add a family, write its handlers in a
// file of its own, declare its table below next to vdiskCommands() and list it in commandTables()
// (Runner.cpp). A handler gets the script's words after the command's own and a DiskpartContext that
// reaches the machine's roles and the run's selections; it prints through the context and returns 0 or the
// exit code that ends the script.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/windows/Shared.h"

namespace sim {

class Files;
class Drives;

// What one run has selected, as diskpart keeps it between the lines of a script.
struct DiskpartSession {
    std::optional<std::wstring> vdiskKey;         // pathKey of the selected virtual disk's file
    std::optional<int> diskNumber;                // the selected physical drive (attached vdisks too)
    std::optional<std::uint64_t> partitionStart;  // start sector of the selected partition on it
};

struct DiskpartContext {
    MachineModel& model;
    Files& files;
    Drives& drives;
    DiskpartSession& session;
    std::wstring& printed;

    void print(const std::wstring& line) { printed += line + L"\r\n"; }
    // Prints a blank line and the message, and gives back the exit code.
    std::uint32_t fail(std::uint32_t code, const std::wstring& message) {
        print(L"");
        print(message);
        return code;
    }
    // A long-running command's ending: its progress line at 100 percent, then the message; exit code 0.
    std::uint32_t completed(const std::wstring& message) {
        print(L"");
        print(L"  100 percent completed");
        print(L"");
        print(message);
        return 0;
    }
};

using DiskpartArguments = std::vector<std::wstring>;
using DiskpartHandler = std::uint32_t (*)(DiskpartContext&, const DiskpartArguments&);

struct DiskpartCommand {
    // Matched without regard to case; longer commands first. The last word may carry the command's value
    // ("select disk=1", "set id=07"): that token is then handed on as the first argument.
    std::vector<std::wstring> words;
    DiskpartHandler run;
};

// Command tables.
const std::vector<DiskpartCommand>& vdiskCommands();
const std::vector<DiskpartCommand>& diskCommands();
const std::vector<DiskpartCommand>& resizeCommands();  // Resize.cpp: shrink, extend

// One partition as diskpart numbers it on a disk: the disk's partitions in disk order, an extended
// container counted before its logical drives, unallocated space not counted. Exactly one of the slot
// pointers is set.
struct DiskpartPartition {
    int number = 0;  // 1-based, the number "select partition=" takes
    std::uint64_t start = 0;
    std::uint64_t sectors = 0;
    MbrSlot* mbr = nullptr;
    GptEntry* gpt = nullptr;
    bool container = false;
    bool logical = false;
};

// Helpers for handlers.
namespace diskpart {
// Exit codes: HRESULTs of the failing operation, as diskpart returns them for service errors.
constexpr std::uint32_t kInvalidParameter = 0x80070057u;
constexpr std::uint32_t kInvalidState = 0x8007139Fu;
constexpr std::uint32_t kNotSupported = 0x80070032u;
constexpr std::uint32_t kNoSelection = 0x80042402u;
constexpr std::uint32_t kNotEnoughSpace = 0x8004240Cu;
constexpr std::uint32_t kLetterInUse = 0x8004255Cu;
constexpr std::uint32_t kProtectedDisk = 0x80042413u;
constexpr std::uint32_t hresultFromWin32(std::uint32_t error) {
    return 0x80070000u | (error & 0xFFFF);
}
// The value of "name=value" (quotes removed), if an argument gives one.
std::optional<std::wstring> parameter(const DiskpartArguments& arguments, const std::wstring& name);
bool hasWord(const DiskpartArguments& arguments, const std::wstring& word);
// A decimal number above zero of at most twelve digits.
std::optional<std::int64_t> positiveNumber(const std::optional<std::wstring>& value);

// The disk with this drive number among the model's disks and attached vdisks.
Disk* findDisk(MachineModel& model, int number);
// The disk's partitions in diskpart's numbering.
std::vector<DiskpartPartition> partitionsOf(Disk& disk);
// The selected disk, and the selected partition on it (looked up again each time, so that it follows
// changes of the table).
Disk* selectedDisk(DiskpartContext& context);
std::optional<DiskpartPartition> selectedPartition(DiskpartContext& context);
// The volume on the partition starting at this sector, if it has one.
Volume* volumeAt(Disk& disk, std::uint64_t start);
// Fails a command that would write to the selected disk when it is a virtual disk attached read-only.
// Windows refuses such writes; the message and code stand in for its own, which were not recorded.
std::optional<std::uint32_t> refusedWhenReadOnly(DiskpartContext& context);
}  // namespace diskpart

class Diskpart {
public:
    Diskpart(MachineModel& model, Files& files, Drives& drives, const CodePage& codePage)
        : model_(model), files_(files), drives_(drives), codePage_(codePage) {}

    // Runs the script (bytes in the ANSI code page) and returns its exit code, appending what it prints
    // to `output`; the run is recorded with `commandLine` and the program file that was started.
    std::uint32_t run(const std::string& script, const std::wstring& commandLine, const std::wstring& program,
                      std::string& output);
    // Records a start that could not read its script.
    void recordRun(DiskpartRun run) { runs_.push_back(std::move(run)); }
    const std::vector<DiskpartRun>& runs() const { return runs_; }

private:
    MachineModel& model_;
    Files& files_;
    Drives& drives_;
    const CodePage& codePage_;
    std::vector<DiskpartRun> runs_;
};

}  // namespace sim
