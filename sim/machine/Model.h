// The simulated Windows machine's data: what machine-format.md describes, held in memory.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

using Guid = std::array<std::uint8_t, 16>;  // in the platform's in-memory byte order

enum class DriveType { Fixed, Removable, Cdrom, Ramdisk, Unknown };
enum class PartitionStyle { Mbr, Gpt, Raw };

struct Geometry {
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerTrack = 63;
    std::uint32_t tracksPerCylinder = 255;
};

// One slot of an MBR partition table or of an extended boot record, as stored on the disk. For the
// slots of an extended boot record `start` is already absolute (sectors from the start of the disk).
struct MbrSlot {
    std::uint8_t type = 0;
    bool boot = false;
    std::uint64_t start = 0;
    std::uint64_t sectors = 0;
};

// An MBR disk as Windows sees it: the four primary slots, then the chain of extended boot records in
// chain order, each with its four slots (slot 0 the logical drive, slot 1 the link to the next record).
struct MbrTable {
    std::uint32_t signature = 0;
    std::array<MbrSlot, 4> primary{};
    struct BootRecord {
        std::uint64_t sector = 0;  // where this extended boot record lies on the disk
        std::array<MbrSlot, 4> slots{};
    };
    std::vector<BootRecord> chain;
};

struct GptEntry {
    Guid type{};
    Guid id{};
    std::uint64_t start = 0;
    std::uint64_t sectors = 0;  // first..last inclusive count
    std::uint64_t attributes = 0;
    std::wstring name;
};

struct GptTable {
    Guid diskGuid{};
    std::uint64_t firstUsable = 34;
    std::uint64_t lastUsable = 0;
    std::uint32_t maxEntries = 128;
    std::vector<GptEntry> entries;  // used entries in table order
};

// A file system on a partition, found by the partition's start sector.
struct Volume {
    std::uint64_t start = 0;
    std::optional<wchar_t> letter;           // upper case
    std::optional<std::wstring> fileSystem;  // nullopt: the volume cannot be queried
    std::wstring label;
    bool readOnly = false;
    std::uint64_t freeBytes = 0;
};

struct DiskFailures {
    bool open = false;
    bool geometry = false;
    std::uint32_t layoutError = 0;  // a Win32 error code the layout query fails with; 0: none
};

struct Disk {
    int number = 0;
    DriveType driveType = DriveType::Fixed;
    std::optional<std::uint32_t> bus = 11;          // STORAGE_BUS_TYPE; nullopt: the property query fails
    std::optional<std::uint16_t> rotationRate = 1;  // IDENTIFY word 217; nullopt: pass-through refused
    Geometry geometry;
    std::uint64_t sizeBytes = 0;
    std::string image;  // host path of a raw image as given in the machine file ("" when inline)
    PartitionStyle style = PartitionStyle::Raw;
    MbrTable mbr;
    GptTable gpt;
    std::vector<Volume> volumes;
    DiskFailures failures;
};

struct File {
    File() = default;
    File(std::wstring filePath, std::vector<std::uint8_t> bytes, std::uint32_t fileAttributes)
        : path(std::move(filePath)), content(std::move(bytes)), attributes(fileAttributes) {}

    std::wstring path;  // as created
    std::vector<std::uint8_t> content;
    std::uint32_t attributes = 0x80;  // FILE_ATTRIBUTE_NORMAL
    // Size of a file whose bytes are not kept (a virtual disk's file); nullopt: the size of `content`.
    std::optional<std::uint64_t> logicalSize;
    // The security descriptor (SDDL) the file or folder was created with or last given; empty: the one it
    // inherits from its folder.
    std::wstring security;
};

struct VirtualDisk {
    std::wstring path;
    bool expandable = true;
    std::int64_t maximumMB = 0;
    bool attached = false;
    bool readOnly = false;
    Disk disk;  // number, driveType and bus are assigned while attached
};

struct RegistryKey {
    std::map<std::wstring, std::uint32_t> dwords;  // value names as given; looked up case-insensitively
};

// The English texts that "list vdisk" prints, each of which the display language may replace: the
// column headings, the words before the numbers, the states, the types, and the message for no rows.
inline constexpr const wchar_t* kListVdiskTexts[] = {L"VDisk ###",
                                                     L"Disk ###",
                                                     L"State",
                                                     L"Type",
                                                     L"File",
                                                     L"VDisk",
                                                     L"Disk",
                                                     L"Attached not open",
                                                     L"Added",
                                                     L"Expandable",
                                                     L"Fixed",
                                                     L"Unknown",
                                                     L"There are no virtual disks to show."};

struct DiskpartSettings {
    std::vector<std::uint32_t> exitCodes;  // queue: each run takes the next code (0 = run normally)
    bool cannotStart = false;
    // Texts of kListVdiskTexts as another display language prints them; a text not given stays English.
    std::map<std::wstring, std::wstring> words;
};

// One diskpart run as the stand-in saw it.
struct DiskpartRun {
    std::wstring commandLine;  // as the process was started ("diskpart /s ...", or the batch file's line)
    std::string script;        // the script file's bytes
    std::uint32_t exitCode = 0;
    std::string output;  // what it printed (captured by the batch redirection)
    // The file that ran: the system folder's diskpart.exe, or another diskpart.exe that a start without
    // an application name found first (it runs nothing of the script and exits with 0).
    std::wstring program;
};

struct MachineModel {
    std::uint32_t codePage = 1252;
    std::wstring windowsDirectory = L"C:\\Windows";
    std::wstring commonAppData = L"C:\\ProgramData";
    std::wstring libraryPath = L"C:\\Program Files\\Host\\KvPartitionHelper.dll";
    // The host program that loaded the library, and its current folder: where a start without an
    // application name looks for the program before the system folder.
    std::wstring programPath = L"C:\\Program Files\\Host\\HostService.exe";
    std::wstring currentDirectory = L"C:\\Windows\\System32";
    std::vector<Disk> disks;
    std::vector<wchar_t> letters;  // letters that exist without a volume (network drives and the like)
    // Letters assigned without a ready volume (an empty card reader or optical drive, a mapped drive out
    // of service): GetLogicalDrives reports them, yet no path "X:" exists.
    std::vector<wchar_t> notReadyLetters;
    // Files and folders are keyed by their upper-cased full path (Machine::pathKey); each keeps the
    // path as it was created. Drive roots ("C:\\") are not folders: they exist when a volume or an
    // entry of `letters` has that letter.
    std::map<std::wstring, File> folders;  // content unused
    std::map<std::wstring, File> files;
    std::map<std::wstring, RegistryKey> registry;  // key: "HKLM\\..." upper-cased
    std::vector<VirtualDisk> vdisks;
    DiskpartSettings diskpart;
};

}  // namespace sim
