// The "... vdisk" commands of the stand-in diskpart: virtual disk files and their attachment.
#include <algorithm>

#include "platform/WinConstants.h"
#include "sim/diskpart/Runner.h"
#include "sim/windows/Drives.h"
#include "sim/windows/Files.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;
using namespace diskpart;

bool hasVdiskExtension(const std::wstring& key) {
    const auto endsWith = [&](const std::wstring& suffix) {
        return key.size() > suffix.size() &&
               key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    return endsWith(L".VHDX") || endsWith(L".VHD");
}

constexpr std::uint32_t kErrorDiskFull = 112;

// The mounted volume that holds a file, by the drive letter of its path.
Volume* holdingVolume(const Drives& drives, const std::wstring& path) {
    if (path.size() < 2 || path[1] != L':') {
        return nullptr;
    }
    const auto mounted = drives.volumeByLetter(path[0]);
    return mounted ? const_cast<Volume*>(mounted->volume) : nullptr;
}

void chargeHolder(Volume* holder, std::uint64_t bytes) {
    if (holder != nullptr) {
        holder->freeBytes -= std::min(holder->freeBytes, bytes);
    }
}

// Bytes of the partition a volume lives on: the MBR slot (primary or logical) starting where it does.
std::uint64_t partitionBytes(const Disk& disk, const Volume& volume) {
    const auto bytesOf = [&](const MbrSlot& slot) { return slot.sectors * disk.geometry.bytesPerSector; };
    for (const MbrSlot& slot : disk.mbr.primary) {
        if (slot.type != 0 && slot.start == volume.start) {
            return bytesOf(slot);
        }
    }
    for (const MbrTable::BootRecord& record : disk.mbr.chain) {
        if (record.slots[0].type != 0 && record.slots[0].start == volume.start) {
            return bytesOf(record.slots[0]);
        }
    }
    return 0;
}

// What an expandable virtual disk's file needs: its headers and what its volumes hold.
std::uint64_t expandableFileBytes(const VirtualDisk& vdisk) {
    std::uint64_t bytes = Files::kNewVdiskFileBytes;
    for (const Volume& volume : vdisk.disk.volumes) {
        const std::uint64_t size = partitionBytes(vdisk.disk, volume);
        bytes += size > volume.freeBytes ? size - volume.freeBytes : 0;
    }
    return bytes;
}

// Sets the logical size of a virtual disk's file, charging or refunding the volume that holds it.
void resizeVdiskFile(DiskpartContext& context, const VirtualDisk& vdisk, std::uint64_t bytes) {
    File* file = context.files.findFile(pathKey(vdisk.path));
    if (file == nullptr) {
        return;
    }
    const std::uint64_t before = Files::fileSize(*file);
    Volume* holder = holdingVolume(context.drives, vdisk.path);
    if (bytes > before) {
        chargeHolder(holder, bytes - before);
    } else if (holder != nullptr) {
        holder->freeBytes += before - bytes;
    }
    file->logicalSize = bytes;
}

VirtualDisk* findVdisk(MachineModel& model, const std::wstring& key) {
    for (VirtualDisk& vdisk : model.vdisks) {
        if (pathKey(vdisk.path) == key) {
            return &vdisk;
        }
    }
    return nullptr;
}

VirtualDisk* selectedVdisk(DiskpartContext& context) {
    return context.session.vdiskKey ? findVdisk(context.model, *context.session.vdiskKey) : nullptr;
}

std::wstring diskNumberText(const Drives& drives, const VirtualDisk& vdisk) {
    if (vdisk.attached) {
        for (const Disk* disk : drives.allDisks()) {
            if (disk == &vdisk.disk) {
                return std::to_wstring(disk->number);
            }
        }
    }
    return L"---";
}

std::wstring padded(std::wstring textToPad, std::size_t width) {
    if (textToPad.size() < width) {
        textToPad.append(width - textToPad.size(), L' ');
    }
    return textToPad;
}

// A text of the listing in the machine's display language.
std::wstring said(const DiskpartContext& context, const wchar_t* english) {
    const auto& words = context.model.diskpart.words;
    const auto replaced = words.find(english);
    return replaced != words.end() ? replaced->second : english;
}

// What the Type column shows: diskpart reads the type from an opened disk, so an only added one is Unknown.
const wchar_t* vdiskTypeText(const VirtualDisk& vdisk) {
    if (!vdisk.attached) {
        return L"Unknown";
    }
    return vdisk.expandable ? L"Expandable" : L"Fixed";
}

// One column of the table: its heading, the texts its rows may show, and how wide its dashes and its
// values' field are. English diskpart writes the type in a field of 10 under 9 dashes, so the path starts
// one column right of "File"; a column whose heading or values do not fit widens its dashes and field to
// the widest of them.
struct ListColumn {
    std::wstring heading;
    std::size_t dashes;
    std::size_t field;
};

ListColumn column(const std::wstring& heading, std::vector<std::wstring> values, std::size_t dashes,
                  std::size_t field) {
    values.push_back(heading);
    std::size_t widest = 0;
    for (const std::wstring& value : values) {
        widest = std::max(widest, value.size());
    }
    return widest > field ? ListColumn{heading, widest, widest} : ListColumn{heading, dashes, field};
}

std::vector<ListColumn> listColumns(const DiskpartContext& context) {
    // A number's field holds the word, a blank and three characters ("###", "---" or the digits).
    const std::wstring numbered = L"   ";
    return {
        column(said(context, L"VDisk ###"), {said(context, L"VDisk") + L" " + numbered}, 9, 9),
        column(said(context, L"Disk ###"), {said(context, L"Disk") + L" " + numbered}, 8, 8),
        column(said(context, L"State"), {said(context, L"Attached not open"), said(context, L"Added")}, 20,
               20),
        column(said(context, L"Type"),
               {said(context, L"Expandable"), said(context, L"Fixed"), said(context, L"Unknown")}, 9, 10),
        column(said(context, L"File"), {}, 4, 4),
    };
}

// The heading and the dashes stand in the dashes' width, a row's values in their field's.
std::wstring tableLine(const std::wstring& indent, const std::vector<ListColumn>& columns,
                       const std::vector<std::wstring>& cells, bool values) {
    std::wstring line = indent;
    for (std::size_t i = 0; i + 1 < columns.size(); ++i) {
        line += padded(cells[i], values ? columns[i].field : columns[i].dashes) + L"  ";
    }
    return line + cells.back();
}

// diskpart lists the attached virtual disks, and a detached one only while this run has it selected.
std::uint32_t listVdisk(DiskpartContext& context, const DiskpartArguments&) {
    std::vector<const VirtualDisk*> listed;
    for (const VirtualDisk& vdisk : context.model.vdisks) {
        if (vdisk.attached || context.session.vdiskKey == pathKey(vdisk.path)) {
            listed.push_back(&vdisk);
        }
    }
    context.print(L"");
    if (listed.empty()) {
        context.print(said(context, L"There are no virtual disks to show."));
        return 0;
    }
    const std::vector<ListColumn> columns = listColumns(context);
    std::vector<std::wstring> headings;
    std::vector<std::wstring> dashes;
    for (const ListColumn& c : columns) {
        headings.push_back(c.heading);
        dashes.push_back(std::wstring(c.dashes, L'-'));
    }
    context.print(tableLine(L"  ", columns, headings, false));
    context.print(tableLine(L"  ", columns, dashes, false));
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const VirtualDisk& vdisk = *listed[i];
        const bool selected = context.session.vdiskKey == pathKey(vdisk.path);
        context.print(tableLine(selected ? L"* " : L"  ", columns,
                                {said(context, L"VDisk") + L" " + std::to_wstring(i),
                                 said(context, L"Disk") + L" " + diskNumberText(context.drives, vdisk),
                                 said(context, vdisk.attached ? L"Attached not open" : L"Added"),
                                 said(context, vdiskTypeText(vdisk)), vdisk.path},
                                true));
    }
    return 0;
}

std::uint32_t createVdisk(DiskpartContext& context, const DiskpartArguments& arguments) {
    const auto path = parameter(arguments, L"file");
    const auto maximum = positiveNumber(parameter(arguments, L"maximum"));
    const std::wstring type = parameter(arguments, L"type").value_or(L"fixed");
    const bool expandable = text::equalsNoCase(type, L"expandable");
    if (!path || !maximum || (!expandable && !text::equalsNoCase(type, L"fixed"))) {
        return context.fail(kInvalidParameter, L"The arguments specified for this command are not valid.");
    }
    const std::wstring key = pathKey(*path);
    if (!hasVdiskExtension(key)) {
        return context.fail(kInvalidParameter,
                            L"The virtual disk file must have the extension .vhd or .vhdx.");
    }
    if (context.files.findFile(key) != nullptr || findVdisk(context.model, key) != nullptr) {
        return context.fail(hresultFromWin32(80), L"The file exists.");
    }
    const std::uint64_t fileBytes =
        expandable ? Files::kNewVdiskFileBytes : static_cast<std::uint64_t>(*maximum) << 20;
    Volume* holder = holdingVolume(context.drives, *path);
    if (holder != nullptr && holder->freeBytes < fileBytes) {
        return context.fail(hresultFromWin32(kErrorDiskFull), L"There is not enough space on the disk.");
    }
    if (auto error = context.files.storeFile(*path, std::string(), false)) {
        return context.fail(hresultFromWin32(*error), L"The virtual disk file could not be created.");
    }
    context.files.findFile(key)->logicalSize = fileBytes;
    chargeHolder(holder, fileBytes);
    VirtualDisk vdisk;
    vdisk.path = *path;
    vdisk.expandable = expandable;
    vdisk.maximumMB = *maximum;
    vdisk.disk.sizeBytes = static_cast<std::uint64_t>(*maximum) << 20;
    context.model.vdisks.push_back(vdisk);
    context.session.vdiskKey = key;
    return context.completed(L"DiskPart successfully created the virtual disk file.");
}

std::uint32_t selectVdisk(DiskpartContext& context, const DiskpartArguments& arguments) {
    const auto path = parameter(arguments, L"file");
    if (!path) {
        return context.fail(kInvalidParameter, L"The arguments specified for this command are not valid.");
    }
    const std::wstring key = pathKey(*path);
    if (context.files.findFile(key) == nullptr) {
        return context.fail(hresultFromWin32(win::ERROR_FILE_NOT_FOUND_),
                            L"The system cannot find the file specified.");
    }
    if (findVdisk(context.model, key) == nullptr) {
        return context.fail(kInvalidParameter, L"The file is not a virtual disk known to the system.");
    }
    context.session.vdiskKey = key;
    context.print(L"");
    context.print(L"DiskPart successfully selected the virtual disk file.");
    return 0;
}

std::optional<wchar_t> freeLetter(const Drives& drives) {
    for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
        if (!drives.letterAssigned(letter)) {
            return letter;
        }
    }
    return std::nullopt;
}

std::uint32_t attachVdisk(DiskpartContext& context, const DiskpartArguments& arguments) {
    VirtualDisk* vdisk = selectedVdisk(context);
    if (vdisk == nullptr) {
        return context.fail(kInvalidParameter, L"There is no virtual disk selected.");
    }
    if (vdisk->attached) {
        return context.fail(kInvalidState, L"The virtual disk is already attached.");
    }
    if (context.files.findFile(pathKey(vdisk->path)) == nullptr) {
        return context.fail(hresultFromWin32(win::ERROR_FILE_NOT_FOUND_),
                            L"The system cannot find the file specified.");
    }
    // A volume comes back under its letter unless something else took that letter meanwhile.
    for (Volume& volume : vdisk->disk.volumes) {
        if (volume.letter && context.drives.letterAssigned(*volume.letter)) {
            volume.letter = freeLetter(context.drives);
        }
    }
    vdisk->attached = true;
    vdisk->readOnly = hasWord(arguments, L"readonly");
    context.drives.plugInVdisk(*vdisk);
    // The attached disk takes the focus, so that partition commands that follow act on it.
    context.session.diskNumber = vdisk->disk.number;
    context.session.partitionStart.reset();
    // A disk attached read-only shows read-only volumes.
    for (Volume& volume : vdisk->disk.volumes) {
        volume.readOnly = vdisk->readOnly;
    }
    return context.completed(L"DiskPart successfully attached the virtual disk file.");
}

std::uint32_t detachVdisk(DiskpartContext& context, const DiskpartArguments&) {
    VirtualDisk* vdisk = selectedVdisk(context);
    if (vdisk == nullptr) {
        return context.fail(kInvalidParameter, L"There is no virtual disk selected.");
    }
    if (!vdisk->attached) {
        return context.fail(kInvalidState, L"The virtual disk is not attached.");
    }
    vdisk->attached = false;
    vdisk->readOnly = false;
    if (vdisk->expandable) {
        const File* file = context.files.findFile(pathKey(vdisk->path));
        const std::uint64_t held = expandableFileBytes(*vdisk);
        if (file != nullptr && held > Files::fileSize(*file)) {
            resizeVdiskFile(context, *vdisk, held);
        }
    }
    context.print(L"");
    context.print(L"DiskPart successfully detached the virtual disk file.");
    return 0;
}

std::uint32_t expandVdisk(DiskpartContext& context, const DiskpartArguments& arguments) {
    VirtualDisk* vdisk = selectedVdisk(context);
    const auto maximum = positiveNumber(parameter(arguments, L"maximum"));
    if (vdisk == nullptr || !maximum) {
        return context.fail(kInvalidParameter, L"The arguments specified for this command are not valid.");
    }
    if (vdisk->attached) {
        return context.fail(kInvalidState, L"The virtual disk must be detached to be expanded.");
    }
    if (*maximum <= vdisk->maximumMB) {
        return context.fail(kInvalidParameter, L"The new maximum size must be larger than the current one.");
    }
    if (!vdisk->expandable) {
        const std::uint64_t growth = static_cast<std::uint64_t>(*maximum - vdisk->maximumMB) << 20;
        Volume* holder = holdingVolume(context.drives, vdisk->path);
        if (holder != nullptr && holder->freeBytes < growth) {
            return context.fail(hresultFromWin32(kErrorDiskFull), L"There is not enough space on the disk.");
        }
        resizeVdiskFile(context, *vdisk, static_cast<std::uint64_t>(*maximum) << 20);
    }
    vdisk->maximumMB = *maximum;
    vdisk->disk.sizeBytes = static_cast<std::uint64_t>(*maximum) << 20;
    return context.completed(L"DiskPart successfully expanded the virtual disk file.");
}

std::uint32_t compactVdisk(DiskpartContext& context, const DiskpartArguments&) {
    VirtualDisk* vdisk = selectedVdisk(context);
    if (vdisk == nullptr) {
        return context.fail(kInvalidParameter, L"There is no virtual disk selected.");
    }
    if (vdisk->attached && !vdisk->readOnly) {
        return context.fail(kInvalidState,
                            L"The virtual disk must be detached or attached read-only to be compacted.");
    }
    if (vdisk->expandable) {
        resizeVdiskFile(context, *vdisk, expandableFileBytes(*vdisk));
    }
    return context.completed(L"DiskPart successfully compacted the virtual disk file.");
}

// Longer commands first where one begins with another.
}  // namespace

const std::vector<DiskpartCommand>& vdiskCommands() {
    static const std::vector<DiskpartCommand> table = {
        {{L"list", L"vdisk"}, listVdisk},       {{L"create", L"vdisk"}, createVdisk},
        {{L"select", L"vdisk"}, selectVdisk},   {{L"attach", L"vdisk"}, attachVdisk},
        {{L"detach", L"vdisk"}, detachVdisk},   {{L"expand", L"vdisk"}, expandVdisk},
        {{L"compact", L"vdisk"}, compactVdisk},
    };
    return table;
}

}  // namespace sim
