// The stand-in diskpart's disk and partition commands: selection, partition types, drive letters,
// clean, create, format and active, on every drive the machine has now (attached virtual disks too).
#include <algorithm>
#include <cwctype>

#include "per/PartitionTypes.h"
#include "sim/diskpart/Runner.h"
#include "sim/machine/DiskLayout.h"
#include "sim/windows/Drives.h"
#include "sim/windows/Text.h"

namespace sim {
namespace diskpart {

namespace {

constexpr std::uint64_t kAlignmentBytes = 1048576;
constexpr std::uint8_t kNtfsType = 0x07;
constexpr std::size_t kMaxNtfsLabel = 32;
constexpr std::uint64_t kGptTrailingSectors = 34;
constexpr std::uint32_t kErrorWriteProtect = 19;
// diskpart refuses these as MBR partition ids: empty, the two container types and dynamic disks.
constexpr std::uint8_t kRefusedIds[] = {0x00, 0x05, 0x0F, 0x42};

// "name=N", or N as the first argument ("select disk 1").
std::optional<std::int64_t> numberArgument(const DiskpartArguments& arguments, const std::wstring& name) {
    auto value = parameter(arguments, name);
    if (!value && !arguments.empty()) {
        value = arguments.front();
    }
    if (value && *value == L"0") {
        return 0;
    }
    return positiveNumber(value);
}

std::optional<std::uint8_t> mbrId(const std::wstring& value) {
    if (value.empty() || value.size() > 2 ||
        !std::all_of(value.begin(), value.end(), [](wchar_t c) { return std::iswxdigit(c) != 0; })) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(std::stoul(value, nullptr, 16));
}

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", braces allowed.
std::optional<Guid> guidId(std::wstring value) {
    if (value.size() == 38 && value.front() == L'{' && value.back() == L'}') {
        value = value.substr(1, 36);
    }
    if (value.size() != 36) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (value[i] == L'-') || (!dash && std::iswxdigit(value[i]) == 0)) {
            return std::nullopt;
        }
    }
    const auto field = [&value](std::size_t at, std::size_t length) {
        return std::stoull(value.substr(at, length), nullptr, 16);
    };
    const std::uint64_t tail = field(24, 12);
    std::array<std::uint8_t, 8> last{static_cast<std::uint8_t>(field(19, 2)),
                                     static_cast<std::uint8_t>(field(21, 2))};
    for (std::size_t i = 0; i < 6; ++i) {
        last[2 + i] = static_cast<std::uint8_t>(tail >> (8 * (5 - i)));
    }
    return PER::guidFromFields(static_cast<std::uint32_t>(field(0, 8)),
                               static_cast<std::uint16_t>(field(9, 4)),
                               static_cast<std::uint16_t>(field(14, 4)), last);
}

// Whether Windows mounts a volume on the partition: a recognized MBR type, or a GPT basic data partition.
bool isMountable(const DiskpartPartition& partition) {
    if (partition.gpt != nullptr) {
        return partition.gpt->type == PER::kBasicDataType;
    }
    return !partition.container && isRecognizedType(partition.mbr->type);
}

std::uint64_t totalSectors(const Disk& disk) {
    return disk.sizeBytes / disk.geometry.bytesPerSector;
}

std::uint64_t alignmentSectors(const Disk& disk) {
    return std::max<std::uint64_t>(1, kAlignmentBytes / disk.geometry.bytesPerSector);
}

// Files and folders on a volume that is wiped go with it.
void eraseContents(MachineModel& model, const Volume& volume) {
    if (!volume.letter) {
        return;
    }
    const auto onVolume = [&volume](const std::wstring& key) {
        return key.size() >= 2 && key[0] == text::upper(*volume.letter) && key[1] == L':';
    };
    for (auto* tree : {&model.files, &model.folders}) {
        for (auto it = tree->begin(); it != tree->end();) {
            it = onVolume(it->first) ? tree->erase(it) : std::next(it);
        }
    }
}

bool holdsSystemVolume(const DiskpartContext& context, const Disk& disk) {
    const std::wstring& windows = context.model.windowsDirectory;
    if (windows.empty()) {
        return false;
    }
    const auto mounted = context.drives.volumeByLetter(windows[0]);
    return mounted && mounted->disk == &disk;
}

bool isSystemVolume(const DiskpartContext& context, const Volume& volume) {
    const std::wstring& windows = context.model.windowsDirectory;
    return !windows.empty() && volume.letter && text::upper(*volume.letter) == text::upper(windows[0]);
}

// The letter of "E", "E:" or "E:\".
std::optional<wchar_t> letterArgument(const std::wstring& value) {
    const bool shape = (value.size() == 1 || (value.size() >= 2 && value[1] == L':')) && value.size() <= 3 &&
                       (value.size() < 3 || value[2] == L'\\');
    if (!shape || !std::iswalpha(value[0]) || value[0] > 0x7F) {
        return std::nullopt;
    }
    return text::upper(value[0]);
}

std::optional<wchar_t> nextFreeLetter(const Drives& drives) {
    for (wchar_t letter = L'C'; letter <= L'Z'; ++letter) {
        if (!drives.letterAssigned(letter)) {
            return letter;
        }
    }
    return std::nullopt;
}

std::uint32_t noDisk(DiskpartContext& context) {
    return context.fail(kNoSelection, L"There is no disk selected. Please select a disk and try again.");
}

std::uint32_t noPartition(DiskpartContext& context) {
    return context.fail(kNoSelection,
                        L"There is no partition selected. Please select a partition and try again.");
}

// Fails a command that needs a selected partition when there is none.
std::optional<std::uint32_t> missingSelection(DiskpartContext& context) {
    if (selectedDisk(context) == nullptr) {
        return noDisk(context);
    }
    if (!selectedPartition(context)) {
        return noPartition(context);
    }
    return std::nullopt;
}

std::uint32_t selectDisk(DiskpartContext& context, const DiskpartArguments& arguments) {
    const auto number = numberArgument(arguments, L"disk");
    if (!number || findDisk(context.model, static_cast<int>(*number)) == nullptr) {
        return context.fail(kInvalidParameter, L"The disk you specified is not valid.");
    }
    context.session.diskNumber = static_cast<int>(*number);
    context.session.partitionStart.reset();
    context.print(L"");
    context.print(L"Disk " + std::to_wstring(*number) + L" is now the selected disk.");
    return 0;
}

std::uint32_t selectPartition(DiskpartContext& context, const DiskpartArguments& arguments) {
    Disk* disk = selectedDisk(context);
    if (disk == nullptr) {
        return noDisk(context);
    }
    const auto number = numberArgument(arguments, L"partition");
    for (const DiskpartPartition& partition : partitionsOf(*disk)) {
        if (number && partition.number == *number) {
            context.session.partitionStart = partition.start;
            context.print(L"");
            context.print(L"Partition " + std::to_wstring(*number) + L" is now the selected partition.");
            return 0;
        }
    }
    return context.fail(kInvalidParameter, L"The partition you specified is not valid.");
}

std::uint32_t setId(DiskpartContext& context, const DiskpartArguments& arguments) {
    if (const auto failure = missingSelection(context)) {
        return *failure;
    }
    if (const auto refused = refusedWhenReadOnly(context)) {
        return *refused;
    }
    Disk* disk = selectedDisk(context);
    auto partition = selectedPartition(context);
    const std::wstring value = parameter(arguments, L"id").value_or(L"");
    if (partition->gpt != nullptr) {
        const auto type = guidId(value);
        if (!type) {
            return context.fail(kInvalidParameter, L"The specified type is not in the correct format.");
        }
        partition->gpt->type = *type;
    } else {
        const auto type = mbrId(value);
        if (!type || partition->container ||
            std::count(std::begin(kRefusedIds), std::end(kRefusedIds), *type)) {
            return context.fail(kInvalidParameter, L"The specified type is not valid.");
        }
        partition->mbr->type = *type;
    }
    disk->image.clear();
    partition = selectedPartition(context);
    // A volume on a partition of a type Windows does not mount, a hidden one, loses its letter.
    Volume* volume = volumeAt(*disk, partition->start);
    if (volume != nullptr && !isMountable(*partition)) {
        volume->letter.reset();
    }
    context.print(L"");
    context.print(L"DiskPart successfully set the partition ID.");
    return 0;
}

std::uint32_t assignLetter(DiskpartContext& context, const DiskpartArguments& arguments) {
    if (const auto failure = missingSelection(context)) {
        return *failure;
    }
    Disk* disk = selectedDisk(context);
    const auto partition = selectedPartition(context);
    const auto given = parameter(arguments, L"letter");
    const auto letter = given ? letterArgument(*given) : nextFreeLetter(context.drives);
    if (!letter) {
        return context.fail(kInvalidParameter, L"The arguments specified for this command are not valid.");
    }
    if (!isMountable(*partition)) {
        return context.fail(kInvalidState,
                            L"The selected partition holds no volume a letter can be given to.");
    }
    Volume* volume = volumeAt(*disk, partition->start);
    const bool ownLetter = volume != nullptr && volume->letter && text::upper(*volume->letter) == *letter;
    if (!ownLetter && context.drives.letterAssigned(*letter)) {
        return context.fail(kLetterInUse, L"The specified drive letter is not free to be assigned.");
    }
    if (volume == nullptr) {
        Volume raw;  // a partition without a file system is a RAW volume: no file system to report
        raw.start = partition->start;
        disk->volumes.push_back(raw);
        volume = &disk->volumes.back();
    }
    volume->letter = *letter;
    context.print(L"");
    context.print(L"DiskPart successfully assigned the drive letter or mount point.");
    return 0;
}

std::uint32_t clean(DiskpartContext& context, const DiskpartArguments&) {
    Disk* disk = selectedDisk(context);
    if (disk == nullptr) {
        return noDisk(context);
    }
    if (holdsSystemVolume(context, *disk)) {
        return context.fail(
            kProtectedDisk,
            L"Clean is not allowed on the disk containing the current boot, system, pagefile, "
            L"crashdump or hibernation volume.");
    }
    if (const auto refused = refusedWhenReadOnly(context)) {
        return *refused;
    }
    for (const Volume& volume : disk->volumes) {
        eraseContents(context.model, volume);
    }
    // The disk keeps its partition style: a GPT disk stays GPT, with no partitions.
    disk->volumes.clear();
    disk->mbr.primary = {};
    disk->mbr.chain.clear();
    disk->gpt.entries.clear();
    disk->image.clear();
    context.session.partitionStart.reset();
    context.print(L"");
    context.print(L"DiskPart succeeded in cleaning the disk.");
    return 0;
}

struct Extent {
    std::uint64_t start = 0;
    std::uint64_t end = 0;  // exclusive
};

// The largest stretch of unallocated space between `first` and `end` outside the used extents, with
// its start rounded up to the alignment.
std::optional<Extent> largestFreeExtent(std::vector<Extent> used, std::uint64_t first, std::uint64_t end,
                                        std::uint64_t alignment) {
    std::sort(used.begin(), used.end(), [](const Extent& a, const Extent& b) { return a.start < b.start; });
    std::optional<Extent> best;
    std::uint64_t from = first;
    const auto consider = [&](std::uint64_t to) {
        const std::uint64_t aligned = (from + alignment - 1) / alignment * alignment;
        if (aligned < to && (!best || to - aligned > best->end - best->start)) {
            best = Extent{aligned, to};
        }
    };
    for (const Extent& extent : used) {
        consider(std::min(extent.start, end));
        from = std::max(from, extent.end);
    }
    consider(end);
    return best;
}

std::uint32_t createPrimaryMbr(DiskpartContext& context, Disk& disk) {
    auto freeSlot = std::find_if(disk.mbr.primary.begin(), disk.mbr.primary.end(),
                                 [](const MbrSlot& slot) { return slot.type == 0; });
    std::vector<Extent> used;
    for (const MbrSlot& slot : disk.mbr.primary) {
        if (slot.type != 0) {
            used.push_back({slot.start, slot.start + slot.sectors});
        }
    }
    const std::uint64_t alignment = alignmentSectors(disk);
    const auto extent = largestFreeExtent(used, alignment, totalSectors(disk), alignment);
    if (freeSlot == disk.mbr.primary.end() || !extent) {
        return context.fail(kNotEnoughSpace, L"There is not enough usable space for this operation.");
    }
    *freeSlot = MbrSlot{kNtfsType, false, extent->start, extent->end - extent->start};
    context.session.partitionStart = extent->start;
    return 0;
}

std::uint32_t createPrimaryGpt(DiskpartContext& context, Disk& disk) {
    std::vector<Extent> used;
    for (const GptEntry& entry : disk.gpt.entries) {
        used.push_back({entry.start, entry.start + entry.sectors});
    }
    const std::uint64_t lastUsable =
        disk.gpt.lastUsable != 0 ? disk.gpt.lastUsable : totalSectors(disk) - kGptTrailingSectors;
    const std::uint64_t alignment = alignmentSectors(disk);
    const auto extent = largestFreeExtent(used, disk.gpt.firstUsable, lastUsable + 1, alignment);
    if (disk.gpt.entries.size() >= disk.gpt.maxEntries || !extent) {
        return context.fail(kNotEnoughSpace, L"There is not enough usable space for this operation.");
    }
    GptEntry entry;
    entry.type = PER::kBasicDataType;
    entry.id =
        PER::guidFromFields(0xC0000000u + static_cast<std::uint32_t>(disk.number),
                            static_cast<std::uint16_t>(extent->start >> 11), 0x4000,
                            {0x80, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(disk.gpt.entries.size())});
    entry.start = extent->start;
    entry.sectors = extent->end - extent->start;
    entry.name = L"Basic data partition";
    const auto later = std::find_if(disk.gpt.entries.begin(), disk.gpt.entries.end(),
                                    [&entry](const GptEntry& other) { return other.start > entry.start; });
    disk.gpt.entries.insert(later, entry);
    context.session.partitionStart = entry.start;
    return 0;
}

// A disk without a partition table gets an MBR, as diskpart initializes it.
std::uint32_t createPartitionPrimary(DiskpartContext& context, const DiskpartArguments&) {
    Disk* disk = selectedDisk(context);
    if (disk == nullptr) {
        return noDisk(context);
    }
    if (const auto refused = refusedWhenReadOnly(context)) {
        return *refused;
    }
    if (disk->style == PartitionStyle::Raw) {
        disk->style = PartitionStyle::Mbr;
        disk->mbr = MbrTable{};
        disk->mbr.signature = 0x4B560000u + static_cast<std::uint32_t>(disk->number);
    }
    const std::uint32_t code = disk->style == PartitionStyle::Gpt ? createPrimaryGpt(context, *disk)
                                                                  : createPrimaryMbr(context, *disk);
    if (code != 0) {
        return code;
    }
    disk->image.clear();
    context.print(L"");
    context.print(L"DiskPart succeeded in creating the specified partition.");
    return 0;
}

std::uint32_t format(DiskpartContext& context, const DiskpartArguments& arguments) {
    if (const auto failure = missingSelection(context)) {
        return *failure;
    }
    Disk* disk = selectedDisk(context);
    const auto partition = selectedPartition(context);
    const auto fileSystem = parameter(arguments, L"fs");
    const std::wstring label = parameter(arguments, L"label").value_or(L"");
    if (!fileSystem || !text::equalsNoCase(*fileSystem, L"ntfs") || label.size() > kMaxNtfsLabel) {
        return context.fail(kInvalidParameter, L"The arguments specified for this command are not valid.");
    }
    if (!isMountable(*partition)) {
        return context.fail(kInvalidState, L"The selected partition holds no volume that can be formatted.");
    }
    if (const auto refused = refusedWhenReadOnly(context)) {
        return *refused;
    }
    Volume* volume = volumeAt(*disk, partition->start);
    if (volume != nullptr && isSystemVolume(context, *volume)) {
        return context.fail(kProtectedDisk, L"The system volume cannot be formatted.");
    }
    if (volume == nullptr) {
        disk->volumes.push_back(Volume{partition->start, std::nullopt, std::nullopt, L"", false, 0});
        volume = &disk->volumes.back();
    }
    eraseContents(context.model, *volume);
    const std::uint64_t bytes = partition->sectors * disk->geometry.bytesPerSector;
    volume->fileSystem = L"NTFS";
    volume->label = label;
    volume->readOnly = false;
    volume->freeBytes = bytes - bytes / 100;  // what the file system's own structures leave free
    return context.completed(L"DiskPart successfully formatted the volume.");
}

std::uint32_t active(DiskpartContext& context, const DiskpartArguments&) {
    if (const auto failure = missingSelection(context)) {
        return *failure;
    }
    Disk* disk = selectedDisk(context);
    const auto partition = selectedPartition(context);
    if (partition->mbr == nullptr) {
        context.fail(kNotSupported, L"The selected disk is not a fixed MBR disk.");
        context.print(L"The ACTIVE command can only be used on fixed MBR disks.");
        return kNotSupported;
    }
    if (partition->container || partition->logical) {
        return context.fail(kInvalidState, L"Only a primary partition can be marked active.");
    }
    if (const auto refused = refusedWhenReadOnly(context)) {
        return *refused;
    }
    for (MbrSlot& slot : disk->mbr.primary) {
        slot.boot = &slot == partition->mbr;
    }
    disk->image.clear();
    context.print(L"");
    context.print(L"DiskPart marked the current partition as active.");
    return 0;
}

}  // namespace

Disk* findDisk(MachineModel& model, int number) {
    for (Disk& disk : model.disks) {
        if (disk.number == number) {
            return &disk;
        }
    }
    for (VirtualDisk& vdisk : model.vdisks) {
        if (vdisk.attached && vdisk.disk.number == number) {
            return &vdisk.disk;
        }
    }
    return nullptr;
}

std::optional<std::uint32_t> refusedWhenReadOnly(DiskpartContext& context) {
    const Disk* disk = selectedDisk(context);
    for (const VirtualDisk& vdisk : context.model.vdisks) {
        if (&vdisk.disk == disk && vdisk.attached && vdisk.readOnly) {
            return context.fail(hresultFromWin32(kErrorWriteProtect), L"The media is write protected.");
        }
    }
    return std::nullopt;
}

Volume* volumeAt(Disk& disk, std::uint64_t start) {
    for (Volume& volume : disk.volumes) {
        if (volume.start == start) {
            return &volume;
        }
    }
    return nullptr;
}

std::vector<DiskpartPartition> partitionsOf(Disk& disk) {
    std::vector<DiskpartPartition> partitions;
    const auto byStart = [](std::vector<DiskpartPartition>& refs) {
        std::stable_sort(
            refs.begin(), refs.end(),
            [](const DiskpartPartition& a, const DiskpartPartition& b) { return a.start < b.start; });
    };
    if (disk.style == PartitionStyle::Gpt) {
        for (GptEntry& entry : disk.gpt.entries) {
            partitions.push_back({0, entry.start, entry.sectors, nullptr, &entry, false, false});
        }
        byStart(partitions);
    } else if (disk.style == PartitionStyle::Mbr) {
        std::vector<DiskpartPartition> primaries;
        for (MbrSlot& slot : disk.mbr.primary) {
            if (slot.type != 0) {
                primaries.push_back(
                    {0, slot.start, slot.sectors, &slot, nullptr, isContainerType(slot.type), false});
            }
        }
        byStart(primaries);
        std::vector<DiskpartPartition> logicals;
        for (MbrTable::BootRecord& record : disk.mbr.chain) {
            for (MbrSlot& slot : record.slots) {
                if (slot.type != 0 && !isContainerType(slot.type)) {
                    logicals.push_back({0, slot.start, slot.sectors, &slot, nullptr, false, true});
                }
            }
        }
        byStart(logicals);
        for (const DiskpartPartition& primary : primaries) {
            partitions.push_back(primary);
            if (primary.container) {
                partitions.insert(partitions.end(), logicals.begin(), logicals.end());
                logicals.clear();  // one extended partition holds the chain
            }
        }
    }
    for (std::size_t i = 0; i < partitions.size(); ++i) {
        partitions[i].number = static_cast<int>(i) + 1;
    }
    return partitions;
}

Disk* selectedDisk(DiskpartContext& context) {
    return context.session.diskNumber ? findDisk(context.model, *context.session.diskNumber) : nullptr;
}

std::optional<DiskpartPartition> selectedPartition(DiskpartContext& context) {
    Disk* disk = selectedDisk(context);
    if (disk == nullptr || !context.session.partitionStart) {
        return std::nullopt;
    }
    for (const DiskpartPartition& partition : partitionsOf(*disk)) {
        if (partition.start == *context.session.partitionStart) {
            return partition;
        }
    }
    return std::nullopt;
}

}  // namespace diskpart

const std::vector<DiskpartCommand>& diskCommands() {
    using namespace diskpart;
    static const std::vector<DiskpartCommand> table = {
        {{L"select", L"disk"}, selectDisk},
        {{L"select", L"partition"}, selectPartition},
        {{L"set", L"id"}, setId},
        {{L"assign"}, assignLetter},
        {{L"clean"}, clean},
        {{L"create", L"partition", L"primary"}, createPartitionPrimary},
        {{L"format"}, format},
        {{L"active"}, active},
    };
    return table;
}

}  // namespace sim
