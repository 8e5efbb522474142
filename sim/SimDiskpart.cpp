// The stand-in diskpart: runs a script's commands against the machine, one line at a time, and stops
// at the first command that fails. What it prints is kept as UTF-8 text; the console that captures it
// converts it to its own code page.
#include <algorithm>
#include <cstdio>

#include "Machine.h"
#include "SimDiskpart.h"
#include "SimText.h"
#include "platform/WinConstants.h"

namespace sim {
namespace {

namespace win = kvph::win;
using namespace diskpart;

// Splits at blanks outside double quotes; quotes stay in the tokens.
std::vector<std::wstring> tokenize(const std::wstring& line) {
    std::vector<std::wstring> tokens;
    std::wstring current;
    bool quoted = false;
    for (wchar_t c : line) {
        if (c == L'"') {
            quoted = !quoted;
        }
        if (!quoted && (c == L' ' || c == L'\t')) {
            if (!current.empty()) {
                tokens.push_back(current);
                current.clear();
            }
            continue;
        }
        current += c;
    }
    if (!current.empty()) {
        tokens.push_back(current);
    }
    return tokens;
}

std::wstring withoutQuotes(std::wstring value) {
    std::wstring result;
    for (wchar_t c : value) {
        if (c != L'"') {
            result += c;
        }
    }
    return result;
}

bool hasVdiskExtension(const std::wstring& key) {
    const auto endsWith = [&](const std::wstring& suffix) {
        return key.size() > suffix.size() &&
               key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    return endsWith(L".VHDX") || endsWith(L".VHD");
}

constexpr std::uint32_t kErrorDiskFull = 112;

// The mounted volume that holds a file, by the drive letter of its path.
Volume* holdingVolume(Machine& machine, const std::wstring& path) {
    if (path.size() < 2 || path[1] != L':') {
        return nullptr;
    }
    const auto mounted = machine.volumeByLetter(path[0]);
    return mounted ? const_cast<Volume*>(mounted->volume) : nullptr;
}

void chargeHolder(Volume* holder, std::uint64_t bytes) {
    if (holder != nullptr) {
        holder->freeBytes -= std::min(holder->freeBytes, bytes);
    }
}

void refundHolder(Volume* holder, std::uint64_t bytes) {
    if (holder != nullptr) {
        holder->freeBytes += bytes;
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
    std::uint64_t bytes = Machine::kNewVdiskFileBytes;
    for (const Volume& volume : vdisk.disk.volumes) {
        const std::uint64_t size = partitionBytes(vdisk.disk, volume);
        bytes += size > volume.freeBytes ? size - volume.freeBytes : 0;
    }
    return bytes;
}

// Sets the logical size of a virtual disk's file, charging or refunding the volume that holds it.
void resizeVdiskFile(Machine& machine, const VirtualDisk& vdisk, std::uint64_t bytes) {
    File* file = machine.findFile(Machine::pathKey(vdisk.path));
    if (file == nullptr) {
        return;
    }
    const std::uint64_t before = Machine::fileSize(*file);
    Volume* holder = holdingVolume(machine, vdisk.path);
    if (bytes > before) {
        chargeHolder(holder, bytes - before);
    } else {
        refundHolder(holder, before - bytes);
    }
    file->logicalSize = bytes;
}

VirtualDisk* findVdisk(Machine& machine, const std::wstring& key) {
    for (VirtualDisk& vdisk : machine.model().vdisks) {
        if (Machine::pathKey(vdisk.path) == key) {
            return &vdisk;
        }
    }
    return nullptr;
}

VirtualDisk* selectedVdisk(Context& context) {
    return context.session.vdiskKey ? findVdisk(context.machine, *context.session.vdiskKey) : nullptr;
}

std::wstring diskNumberText(const Machine& machine, const VirtualDisk& vdisk) {
    if (vdisk.attached) {
        for (const Disk* disk : machine.allDisks()) {
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

std::uint32_t listVdisk(Context& context, const Arguments&) {
    const auto& vdisks = context.machine.model().vdisks;
    context.print(L"");
    if (vdisks.empty()) {
        context.print(L"There are no virtual disks to show.");
        return 0;
    }
    context.print(L"  VDisk ###  Disk ###  State                 Type       File");
    context.print(L"  ---------  --------  --------------------  ---------  ----");
    for (std::size_t i = 0; i < vdisks.size(); ++i) {
        const VirtualDisk& vdisk = vdisks[i];
        const bool selected = context.session.vdiskKey == Machine::pathKey(vdisk.path);
        context.print(std::wstring(selected ? L"* " : L"  ") + padded(L"VDisk " + std::to_wstring(i), 9) +
                      L"  " + padded(L"Disk " + diskNumberText(context.machine, vdisk), 8) + L"  " +
                      padded(vdisk.attached ? L"Attached not open" : L"Added", 20) + L"  " +
                      padded(vdisk.expandable ? L"Expandable" : L"Fixed", 9) + L"  " + vdisk.path);
    }
    return 0;
}

std::uint32_t createVdisk(Context& context, const Arguments& arguments) {
    const auto path = parameter(arguments, L"file");
    const auto maximum = positiveNumber(parameter(arguments, L"maximum"));
    const std::wstring type = parameter(arguments, L"type").value_or(L"fixed");
    const bool expandable = text::equalsNoCase(type, L"expandable");
    if (!path || !maximum || (!expandable && !text::equalsNoCase(type, L"fixed"))) {
        return context.fail(kInvalidParameter, L"The arguments specified for this command are not valid.");
    }
    const std::wstring key = Machine::pathKey(*path);
    if (!hasVdiskExtension(key)) {
        return context.fail(kInvalidParameter,
                            L"The virtual disk file must have the extension .vhd or .vhdx.");
    }
    if (context.machine.findFile(key) != nullptr || findVdisk(context.machine, key) != nullptr) {
        return context.fail(hresultFromWin32(80), L"The file exists.");
    }
    const std::uint64_t fileBytes =
        expandable ? Machine::kNewVdiskFileBytes : static_cast<std::uint64_t>(*maximum) << 20;
    Volume* holder = holdingVolume(context.machine, *path);
    if (holder != nullptr && holder->freeBytes < fileBytes) {
        return context.fail(hresultFromWin32(kErrorDiskFull), L"There is not enough space on the disk.");
    }
    if (auto error = context.machine.storeFile(*path, std::string(), false)) {
        return context.fail(hresultFromWin32(*error), L"The virtual disk file could not be created.");
    }
    context.machine.findFile(key)->logicalSize = fileBytes;
    chargeHolder(holder, fileBytes);
    VirtualDisk vdisk;
    vdisk.path = *path;
    vdisk.expandable = expandable;
    vdisk.maximumMB = *maximum;
    vdisk.disk.sizeBytes = static_cast<std::uint64_t>(*maximum) << 20;
    context.machine.model().vdisks.push_back(vdisk);
    context.session.vdiskKey = key;
    context.print(L"");
    context.print(L"  100 percent completed");
    context.print(L"");
    context.print(L"DiskPart successfully created the virtual disk file.");
    return 0;
}

std::uint32_t selectVdisk(Context& context, const Arguments& arguments) {
    const auto path = parameter(arguments, L"file");
    if (!path) {
        return context.fail(kInvalidParameter, L"The arguments specified for this command are not valid.");
    }
    const std::wstring key = Machine::pathKey(*path);
    if (context.machine.findFile(key) == nullptr) {
        return context.fail(hresultFromWin32(win::ERROR_FILE_NOT_FOUND_),
                            L"The system cannot find the file specified.");
    }
    if (findVdisk(context.machine, key) == nullptr) {
        return context.fail(kInvalidParameter, L"The file is not a virtual disk known to the system.");
    }
    context.session.vdiskKey = key;
    context.print(L"");
    context.print(L"DiskPart successfully selected the virtual disk file.");
    return 0;
}

std::optional<wchar_t> freeLetter(const Machine& machine) {
    for (wchar_t letter = L'D'; letter <= L'Z'; ++letter) {
        if (!machine.rootExists(letter)) {
            return letter;
        }
    }
    return std::nullopt;
}

std::uint32_t attachVdisk(Context& context, const Arguments& arguments) {
    VirtualDisk* vdisk = selectedVdisk(context);
    if (vdisk == nullptr) {
        return context.fail(kInvalidParameter, L"There is no virtual disk selected.");
    }
    if (vdisk->attached) {
        return context.fail(kInvalidState, L"The virtual disk is already attached.");
    }
    if (context.machine.findFile(Machine::pathKey(vdisk->path)) == nullptr) {
        return context.fail(hresultFromWin32(win::ERROR_FILE_NOT_FOUND_),
                            L"The system cannot find the file specified.");
    }
    // A volume comes back under its letter unless something else took that letter meanwhile.
    for (Volume& volume : vdisk->disk.volumes) {
        if (volume.letter && context.machine.rootExists(*volume.letter)) {
            volume.letter = freeLetter(context.machine);
        }
    }
    vdisk->attached = true;
    vdisk->readOnly = hasWord(arguments, L"readonly");
    context.machine.plugInVdisk(*vdisk);
    // The attached disk takes the focus, so that partition commands that follow act on it.
    context.session.diskNumber = vdisk->disk.number;
    context.session.partitionStart.reset();
    // A disk attached read-only shows read-only volumes.
    for (Volume& volume : vdisk->disk.volumes) {
        volume.readOnly = vdisk->readOnly;
    }
    context.print(L"");
    context.print(L"  100 percent completed");
    context.print(L"");
    context.print(L"DiskPart successfully attached the virtual disk file.");
    return 0;
}

std::uint32_t detachVdisk(Context& context, const Arguments&) {
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
        const File* file = context.machine.findFile(Machine::pathKey(vdisk->path));
        const std::uint64_t held = expandableFileBytes(*vdisk);
        if (file != nullptr && held > Machine::fileSize(*file)) {
            resizeVdiskFile(context.machine, *vdisk, held);
        }
    }
    context.print(L"");
    context.print(L"DiskPart successfully detached the virtual disk file.");
    return 0;
}

std::uint32_t expandVdisk(Context& context, const Arguments& arguments) {
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
        Volume* holder = holdingVolume(context.machine, vdisk->path);
        if (holder != nullptr && holder->freeBytes < growth) {
            return context.fail(hresultFromWin32(kErrorDiskFull), L"There is not enough space on the disk.");
        }
        resizeVdiskFile(context.machine, *vdisk, static_cast<std::uint64_t>(*maximum) << 20);
    }
    vdisk->maximumMB = *maximum;
    vdisk->disk.sizeBytes = static_cast<std::uint64_t>(*maximum) << 20;
    context.print(L"");
    context.print(L"  100 percent completed");
    context.print(L"");
    context.print(L"DiskPart successfully expanded the virtual disk file.");
    return 0;
}

std::uint32_t compactVdisk(Context& context, const Arguments&) {
    VirtualDisk* vdisk = selectedVdisk(context);
    if (vdisk == nullptr) {
        return context.fail(kInvalidParameter, L"There is no virtual disk selected.");
    }
    if (vdisk->attached && !vdisk->readOnly) {
        return context.fail(kInvalidState,
                            L"The virtual disk must be detached or attached read-only to be compacted.");
    }
    if (vdisk->expandable) {
        resizeVdiskFile(context.machine, *vdisk, expandableFileBytes(*vdisk));
    }
    context.print(L"");
    context.print(L"  100 percent completed");
    context.print(L"");
    context.print(L"DiskPart successfully compacted the virtual disk file.");
    return 0;
}

// The groups of commands, each from its own file. Within the table a command must come before any
// other whose words begin its own.
const std::vector<Command>& commands() {
    static const std::vector<Command> table = [] {
        std::vector<Command> all;
        for (const auto& group : {vdiskCommands(), diskCommands(), resizeCommands()}) {
            all.insert(all.end(), group.begin(), group.end());
        }
        return all;
    }();
    return table;
}

// A command's last word may carry its value ("select disk=1", "set id=07"); that token then stays an
// argument. Returns the command and where its arguments begin.
struct Match {
    const Command* command = nullptr;
    std::size_t firstArgument = 0;
};

Match findCommand(const std::vector<std::wstring>& tokens) {
    for (const Command& command : commands()) {
        const std::size_t count = command.words.size();
        if (tokens.size() < count) {
            continue;
        }
        bool matches = true;
        for (std::size_t i = 0; i + 1 < count && matches; ++i) {
            matches = text::equalsNoCase(tokens[i], command.words[i]);
        }
        if (!matches) {
            continue;
        }
        const std::wstring& last = command.words.back();
        if (text::equalsNoCase(tokens[count - 1], last)) {
            return {&command, count};
        }
        if (text::startsWithNoCase(tokens[count - 1], last + L"=")) {
            return {&command, count - 1};
        }
    }
    return {};
}

std::vector<std::wstring> scriptLines(const std::wstring& script) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start <= script.size()) {
        std::size_t end = script.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = script.size();
        }
        std::wstring line = script.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::uint32_t execute(Context& context, const std::wstring& script) {
    for (const std::wstring& line : scriptLines(script)) {
        const std::vector<std::wstring> tokens = tokenize(text::trim(line));
        if (tokens.empty() || text::equalsNoCase(tokens[0], L"rem")) {
            continue;
        }
        if (text::equalsNoCase(tokens[0], L"exit")) {
            break;
        }
        const Match match = findCommand(tokens);
        if (match.command == nullptr) {
            return context.fail(kSyntaxError,
                                L"The command is not known to this diskpart: " + text::trim(line));
        }
        const Arguments arguments(tokens.begin() + static_cast<std::ptrdiff_t>(match.firstArgument),
                                  tokens.end());
        if (const std::uint32_t code = match.command->run(context, arguments); code != 0) {
            return code;
        }
    }
    context.print(L"");
    context.print(L"Leaving DiskPart...");
    return 0;
}

}  // namespace

namespace diskpart {

std::optional<std::wstring> parameter(const Arguments& arguments, const std::wstring& name) {
    for (const std::wstring& argument : arguments) {
        if (text::startsWithNoCase(argument, name + L"=")) {
            return withoutQuotes(argument.substr(name.size() + 1));
        }
    }
    return std::nullopt;
}

bool hasWord(const Arguments& arguments, const std::wstring& word) {
    for (const std::wstring& argument : arguments) {
        if (text::equalsNoCase(argument, word)) {
            return true;
        }
    }
    return false;
}

std::optional<std::int64_t> positiveNumber(const std::optional<std::wstring>& value) {
    if (!value || value->empty() || value->size() > 12) {
        return std::nullopt;
    }
    std::int64_t number = 0;
    for (wchar_t c : *value) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        number = number * 10 + (c - L'0');
    }
    return number > 0 ? std::optional<std::int64_t>(number) : std::nullopt;
}

std::vector<Command> vdiskCommands() {
    return {
        {{L"list", L"vdisk"}, listVdisk},       {{L"create", L"vdisk"}, createVdisk},
        {{L"select", L"vdisk"}, selectVdisk},   {{L"attach", L"vdisk"}, attachVdisk},
        {{L"detach", L"vdisk"}, detachVdisk},   {{L"expand", L"vdisk"}, expandVdisk},
        {{L"compact", L"vdisk"}, compactVdisk},
    };
}

}  // namespace diskpart

std::uint32_t Machine::runDiskpart(const std::string& script, std::string& output) {
    DiskpartRun run;
    run.script = script;
    std::wstring printed;
    diskpart::Session session;
    diskpart::Context context{*this, session, printed};
    auto& queue = model_.diskpart.exitCodes;
    const std::uint32_t queued = queue.empty() ? 0 : queue.front();
    if (!queue.empty()) {
        queue.erase(queue.begin());
    }
    if (queued != 0) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(queued));
        run.exitCode = context.fail(
            queued, L"DiskPart stopped the script with the exit code " + text::widen(code) + L".");
    } else {
        run.exitCode = execute(context, fromAnsi(script));
    }
    run.output = text::toUtf8(printed);
    output += run.output;
    diskpartRuns_.push_back(run);
    return run.exitCode;
}

}  // namespace sim
