// The stand-in diskpart's command table and what its commands share: the run's context with the
// selection state, argument helpers and exit codes. Each group of commands lives in a file of its own
// (SimDiskpart.cpp: virtual disks, SimDiskpartDisks.cpp: disks and partitions) and hands its entries to
// the table through a function declared here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Machine.h"
#include "Model.h"

namespace sim::diskpart {

// Exit codes: HRESULTs of the failing operation, as diskpart returns them for service errors, and the
// tool's own code for a line it cannot parse.
constexpr std::uint32_t kSyntaxError = 5;
constexpr std::uint32_t kInvalidParameter = 0x80070057u;
constexpr std::uint32_t kInvalidState = 0x8007139Fu;
constexpr std::uint32_t kNotSupported = 0x80070032u;
constexpr std::uint32_t kNoSelection = 0x80042402u;
constexpr std::uint32_t kNotEnoughSpace = 0x8004240Cu;
constexpr std::uint32_t kLetterInUse = 0x8004240Eu;
constexpr std::uint32_t kProtectedDisk = 0x80042413u;
constexpr std::uint32_t hresultFromWin32(std::uint32_t error) {
    return 0x80070000u | (error & 0xFFFF);
}

// One partition as diskpart numbers it on the selected disk: the disk's partitions in disk order, an
// extended container counted before its logical drives, unallocated space not counted. Exactly one of
// the slot pointers is set.
struct PartitionRef {
    int number = 0;  // 1-based, diskpart's "select partition=" number
    std::uint64_t start = 0;
    std::uint64_t sectors = 0;
    MbrSlot* mbr = nullptr;
    GptEntry* gpt = nullptr;
    bool container = false;
    bool logical = false;
};

// What one diskpart run remembers between its lines.
struct Session {
    std::optional<std::wstring> vdiskKey;         // pathKey of the selected virtual disk's file
    std::optional<int> diskNumber;                // the selected physical drive
    std::optional<std::uint64_t> partitionStart;  // start sector of the selected partition
};

using Arguments = std::vector<std::wstring>;

struct Context {
    Machine& machine;
    Session& session;
    std::wstring& printed;

    void print(const std::wstring& line) { printed += line + L"\r\n"; }
    std::uint32_t fail(std::uint32_t code, const std::wstring& message) {
        print(L"");
        print(message);
        return code;
    }

    // The selected disk, among every drive the machine has now (attached virtual disks included).
    Disk* selectedDisk();
    // The selected partition of the selected disk, looked up again each time so that it follows
    // changes of the table.
    std::optional<PartitionRef> selectedPartition();
};

using Handler = std::uint32_t (*)(Context&, const Arguments&);

struct Command {
    std::vector<std::wstring> words;
    Handler run;
};

// The disk's partitions in diskpart's numbering.
std::vector<PartitionRef> diskpartPartitions(Disk& disk);
// The mutable disk with this drive number (attached virtual disks included).
Disk* findDisk(Machine& machine, int number);
// The volume on the partition starting at this sector, if it has one.
Volume* volumeAt(Disk& disk, std::uint64_t start);

// "name=value" among the arguments (name without regard to case), without its quotes.
std::optional<std::wstring> parameter(const Arguments& arguments, const std::wstring& name);
bool hasWord(const Arguments& arguments, const std::wstring& word);
// A decimal number greater than 0.
std::optional<std::int64_t> positiveNumber(const std::optional<std::wstring>& value);

std::vector<Command> vdiskCommands();
std::vector<Command> diskCommands();
std::vector<Command> resizeCommands();

}  // namespace sim::diskpart
