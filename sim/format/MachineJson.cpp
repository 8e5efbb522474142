// The machine description: every key optional with a default, unknown keys and wrong types refused
// with the JSON path of the offending value. Disks are read and written by DiskJson.cpp.
#include "sim/format/MachineJson.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <set>

#include "platform/WinConstants.h"
#include "sim/windows/Files.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;
using json = nlohmann::json;

// Declared file sizes up to this are held as zero bytes; beyond it only the text is held.
constexpr std::uint64_t kMaxHeldFileBytes = 1 << 20;
// The library scans physical drives 0 to 31; attached virtual disks take numbers from the same range.
constexpr std::size_t kMaxDrives = 32;

struct AttributeName {
    const char* name;
    std::uint32_t bit;
};
constexpr AttributeName kAttributeNames[] = {
    {"readonly", win::FILE_ATTRIBUTE_READONLY_},
    {"hidden", win::FILE_ATTRIBUTE_HIDDEN_},
    {"system", win::FILE_ATTRIBUTE_SYSTEM_},
    {"archive", win::FILE_ATTRIBUTE_ARCHIVE_},
};

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw MachineFormatError((where.empty() ? std::string("(top level)") : where) + ": " + what);
}

std::string member(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
}

std::string element(const std::string& where, std::size_t index) {
    return where + "[" + std::to_string(index) + "]";
}

void expectObject(const json& value, const std::string& where, std::initializer_list<const char*> keys) {
    if (!value.is_object()) {
        fail(where, "expected an object");
    }
    for (const auto& item : value.items()) {
        const bool known =
            std::any_of(keys.begin(), keys.end(), [&](const char* key) { return item.key() == key; });
        if (!known) {
            fail(member(where, item.key()), "unknown key");
        }
    }
}

const json& expectArray(const json& value, const std::string& where) {
    if (!value.is_array()) {
        fail(where, "expected an array");
    }
    return value;
}

std::wstring readString(const json& value, const std::string& where) {
    if (!value.is_string()) {
        fail(where, "expected a string");
    }
    return text::fromUtf8(value.get<std::string>());
}

bool readBool(const json& value, const std::string& where) {
    if (!value.is_boolean()) {
        fail(where, "expected true or false");
    }
    return value.get<bool>();
}

std::int64_t readInteger(const json& value, const std::string& where, std::int64_t minimum,
                         std::int64_t maximum) {
    if (!value.is_number_integer()) {
        fail(where, "expected an integer");
    }
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(maximum)) {
        fail(where, "must be at most " + std::to_string(maximum));
    }
    const std::int64_t number = value.get<std::int64_t>();
    if (number < minimum || number > maximum) {
        fail(where, "must be between " + std::to_string(minimum) + " and " + std::to_string(maximum));
    }
    return number;
}

std::uint32_t readUint32(const json& value, const std::string& where) {
    return static_cast<std::uint32_t>(readInteger(value, where, 0, 0xFFFFFFFFll));
}

bool isAbsoluteWindowsPath(const std::wstring& path) {
    return path.size() >= 3 && text::upper(path[0]) >= L'A' && text::upper(path[0]) <= L'Z' &&
           path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

std::wstring readPath(const json& value, const std::string& where) {
    std::wstring path = readString(value, where);
    if (!isAbsoluteWindowsPath(path)) {
        fail(where, "expected a full Windows path such as \"D:\\\\folder\"");
    }
    return path;
}

std::uint32_t readAttributes(const json& value, const std::string& where) {
    std::uint32_t attributes = 0;
    const json& names = expectArray(value, where);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string name = text::narrow(readString(names[i], element(where, i)));
        auto known = std::find_if(std::begin(kAttributeNames), std::end(kAttributeNames),
                                  [&](const AttributeName& entry) { return name == entry.name; });
        if (known == std::end(kAttributeNames)) {
            fail(element(where, i), "unknown attribute \"" + name + "\" (readonly, hidden, system, archive)");
        }
        attributes |= known->bit;
    }
    return attributes;
}

json attributeNames(std::uint32_t attributes) {
    json names = json::array();
    for (const AttributeName& entry : kAttributeNames) {
        if ((attributes & entry.bit) != 0) {
            names.push_back(entry.name);
        }
    }
    return names;
}

wchar_t readLetter(const json& value, const std::string& where) {
    const std::wstring letter = readString(value, where);
    const wchar_t upper = letter.empty() ? 0 : text::upper(letter[0]);
    if (upper < L'A' || upper > L'Z' || letter.size() > 2 || (letter.size() == 2 && letter[1] != L':')) {
        fail(where, "expected a drive letter such as \"Z\"");
    }
    return upper;
}

// An entry of `letters`: "Z" (the path "Z:" exists), or { "letter": "G", "ready": false } for a letter
// assigned without a ready volume.
void readLetterEntry(MachineModel& model, const json& value, const std::string& where) {
    if (!value.is_object()) {
        model.letters.push_back(readLetter(value, where));
        return;
    }
    expectObject(value, where, {"letter", "ready"});
    if (!value.contains("letter")) {
        fail(member(where, "letter"), "required");
    }
    const wchar_t letter = readLetter(value["letter"], member(where, "letter"));
    const bool ready = !value.contains("ready") || readBool(value["ready"], member(where, "ready"));
    (ready ? model.letters : model.notReadyLetters).push_back(letter);
}

void readFolder(MachineModel& model, const json& value, const std::string& where) {
    std::wstring path;
    std::uint32_t attributes = 0;
    if (value.is_object()) {
        expectObject(value, where, {"path", "attributes"});
        if (!value.contains("path")) {
            fail(member(where, "path"), "required");
        }
        path = readPath(value["path"], member(where, "path"));
        if (value.contains("attributes")) {
            attributes = readAttributes(value["attributes"], member(where, "attributes"));
        }
    } else {
        path = readPath(value, where);
    }
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    if (path.size() <= 3) {
        return;  // a root exists through its volume or the letters, not as a folder
    }
    model.folders[pathKey(path)] = File{path, {}, attributes | win::FILE_ATTRIBUTE_DIRECTORY_};
}

void readFile(MachineModel& model, const json& value, const std::string& where) {
    expectObject(value, where, {"path", "size", "attributes", "text"});
    if (!value.contains("path")) {
        fail(member(where, "path"), "required");
    }
    File file;
    file.path = readPath(value["path"], member(where, "path"));
    std::string bytes;
    if (value.contains("text")) {
        bytes = text::toCodePage(readString(value["text"], member(where, "text")), model.codePage);
    }
    if (value.contains("size")) {
        const auto size =
            static_cast<std::uint64_t>(readInteger(value["size"], member(where, "size"), 0, INT64_MAX));
        if (size < bytes.size()) {
            fail(member(where, "size"), "smaller than the text");
        }
        // A small file is held with its zeros, as written; a larger declared size is kept as a number.
        if (size <= kMaxHeldFileBytes) {
            bytes.resize(static_cast<std::size_t>(size), '\0');
        } else {
            file.logicalSize = size;
        }
    }
    file.content.assign(bytes.begin(), bytes.end());
    const std::uint32_t attributes =
        value.contains("attributes") ? readAttributes(value["attributes"], member(where, "attributes")) : 0;
    file.attributes = attributes == 0 ? win::FILE_ATTRIBUTE_NORMAL_ : attributes;
    const std::wstring key = pathKey(file.path);
    if (model.files.count(key) != 0) {
        fail(member(where, "path"), "the file is listed twice");
    }
    model.files[key] = std::move(file);
}

void readRegistryKey(MachineModel& model, const json& value, const std::string& where) {
    expectObject(value, where, {"key", "dwords"});
    if (!value.contains("key")) {
        fail(member(where, "key"), "required");
    }
    std::wstring key = text::upper(readString(value["key"], member(where, "key")));
    while (!key.empty() && key.back() == L'\\') {
        key.pop_back();
    }
    if (!text::startsWithNoCase(key, L"HKLM\\") && !text::startsWithNoCase(key, L"HKCU\\")) {
        fail(member(where, "key"), "must begin with HKLM\\ or HKCU\\");
    }
    RegistryKey& stored = model.registry[key];
    if (value.contains("dwords")) {
        const json& dwords = value["dwords"];
        if (!dwords.is_object()) {
            fail(member(where, "dwords"), "expected an object");
        }
        for (const auto& item : dwords.items()) {
            stored.dwords[text::fromUtf8(item.key())] =
                readUint32(item.value(), member(member(where, "dwords"), item.key()));
        }
    }
}

void readVdisk(MachineModel& model, const json& value, const std::string& where, const std::string& baseDir) {
    expectObject(value, where, {"path", "type", "maximumMB", "attached", "readOnly", "disk"});
    if (!value.contains("path")) {
        fail(member(where, "path"), "required");
    }
    VirtualDisk vdisk;
    vdisk.path = readPath(value["path"], member(where, "path"));
    if (value.contains("type")) {
        const std::wstring type = readString(value["type"], member(where, "type"));
        if (type != L"expandable" && type != L"fixed") {
            fail(member(where, "type"), "expected \"expandable\" or \"fixed\"");
        }
        vdisk.expandable = type == L"expandable";
    }
    if (value.contains("maximumMB")) {
        vdisk.maximumMB =
            readInteger(value["maximumMB"], member(where, "maximumMB"), 0, std::int64_t{1} << 40);
    }
    if (value.contains("attached")) {
        vdisk.attached = readBool(value["attached"], member(where, "attached"));
    }
    if (value.contains("readOnly")) {
        vdisk.readOnly = readBool(value["readOnly"], member(where, "readOnly"));
    }
    if (value.contains("disk")) {
        vdisk.disk = diskFromJson(value["disk"], member(where, "disk"), baseDir, false);
    } else {
        vdisk.disk.sizeBytes = static_cast<std::uint64_t>(vdisk.maximumMB) << 20;
    }
    for (const VirtualDisk& known : model.vdisks) {
        if (pathKey(known.path) == pathKey(vdisk.path)) {
            fail(member(where, "path"), "the virtual disk is listed twice");
        }
    }
    model.vdisks.push_back(std::move(vdisk));
}

// Replacements of the English texts "list vdisk" prints: each key one of them, each value a text of one
// line.
void readListWords(MachineModel& model, const json& value, const std::string& where) {
    if (!value.is_object()) {
        fail(where, "expected an object");
    }
    for (const auto& item : value.items()) {
        const std::string at = member(where, item.key());
        const std::wstring english = text::fromUtf8(item.key());
        const bool known = std::any_of(std::begin(kListVdiskTexts), std::end(kListVdiskTexts),
                                       [&](const wchar_t* text) { return english == text; });
        if (!known) {
            fail(at, "not a text that \"list vdisk\" prints (such as \"State\" or \"Attached not open\")");
        }
        const std::wstring said = readString(item.value(), at);
        if (said.empty() || std::any_of(said.begin(), said.end(), [](wchar_t c) { return c < L' '; })) {
            fail(at, "expected a text of one line, not empty");
        }
        model.diskpart.words[english] = said;
    }
}

void readDiskpart(MachineModel& model, const json& value, const std::string& where) {
    expectObject(value, where, {"exitCodes", "cannotStart", "words"});
    if (value.contains("exitCodes")) {
        const json& codes = expectArray(value["exitCodes"], member(where, "exitCodes"));
        for (std::size_t i = 0; i < codes.size(); ++i) {
            model.diskpart.exitCodes.push_back(readUint32(codes[i], element(member(where, "exitCodes"), i)));
        }
    }
    if (value.contains("cannotStart")) {
        model.diskpart.cannotStart = readBool(value["cannotStart"], member(where, "cannotStart"));
    }
    if (value.contains("words")) {
        readListWords(model, value["words"], member(where, "words"));
    }
}

void readDisks(MachineModel& model, const json& value, const std::string& baseDir) {
    const json& disks = expectArray(value, "disks");
    std::set<int> numbers;
    for (std::size_t i = 0; i < disks.size(); ++i) {
        model.disks.push_back(diskFromJson(disks[i], element("disks", i), baseDir, true));
        if (!numbers.insert(model.disks.back().number).second) {
            fail(member(element("disks", i), "number"), "another disk has this number");
        }
    }
}

template <typename Reader>
void forEachElement(const json& document, const char* key, Reader&& read) {
    if (!document.contains(key)) {
        return;
    }
    const json& items = expectArray(document[key], key);
    for (std::size_t i = 0; i < items.size(); ++i) {
        read(items[i], element(key, i));
    }
}

// Folders that hold listed files and virtual disks exist without being listed themselves.
void addImpliedFolders(MachineModel& model, const std::wstring& path) {
    const std::wstring key = pathKey(path);
    for (std::size_t slash = key.find(L'\\', 3); slash != std::wstring::npos;
         slash = key.find(L'\\', slash + 1)) {
        const std::wstring folderKey = key.substr(0, slash);
        if (model.folders.count(folderKey) == 0) {
            model.folders[folderKey] = File{path.substr(0, slash), {}, win::FILE_ATTRIBUTE_DIRECTORY_};
        }
    }
}

void completeFileSystem(MachineModel& model) {
    for (const VirtualDisk& vdisk : model.vdisks) {
        const std::wstring key = pathKey(vdisk.path);
        if (model.files.count(key) == 0) {
            File file{vdisk.path, {}, win::FILE_ATTRIBUTE_ARCHIVE_};
            file.logicalSize = vdisk.expandable ? Files::kNewVdiskFileBytes
                                                : static_cast<std::uint64_t>(vdisk.maximumMB) << 20;
            model.files[key] = file;
        }
    }
    std::vector<std::wstring> paths;
    for (const auto& entry : model.files) {
        paths.push_back(entry.second.path);
    }
    for (const auto& entry : model.folders) {
        paths.push_back(entry.second.path);
    }
    for (const std::wstring& path : paths) {
        addImpliedFolders(model, path);
    }
}

json fileToJson(const File& file, std::uint32_t codePage) {
    json entry = {{"path", text::toUtf8(file.path)}};
    const bool allZero =
        std::all_of(file.content.begin(), file.content.end(), [](std::uint8_t b) { return b == 0; });
    if (file.logicalSize) {
        entry["size"] = *file.logicalSize;
    } else if (allZero && !file.content.empty()) {
        entry["size"] = file.content.size();
    }
    if (!allZero) {
        // Every byte of the supported code pages has a character, so any content comes back unchanged.
        const std::string bytes(file.content.begin(), file.content.end());
        entry["text"] = text::toUtf8(text::fromCodePage(bytes, codePage));
    }
    const json attributes = attributeNames(file.attributes);
    if (!attributes.empty()) {
        entry["attributes"] = attributes;
    }
    return entry;
}

json folderToJson(const File& folder) {
    const json attributes = attributeNames(folder.attributes);
    if (attributes.empty()) {
        return text::toUtf8(folder.path);
    }
    return {{"path", text::toUtf8(folder.path)}, {"attributes", attributes}};
}

// A virtual disk that nothing was done to but sizing needs no disk object in the description.
bool isBlankDisk(const VirtualDisk& vdisk) {
    const Disk blank;
    const Disk& disk = vdisk.disk;
    return disk.style == PartitionStyle::Raw && disk.volumes.empty() && disk.image.empty() &&
           disk.sizeBytes == (static_cast<std::uint64_t>(vdisk.maximumMB) << 20) &&
           disk.geometry.bytesPerSector == blank.geometry.bytesPerSector &&
           disk.geometry.sectorsPerTrack == blank.geometry.sectorsPerTrack &&
           disk.geometry.tracksPerCylinder == blank.geometry.tracksPerCylinder &&
           disk.rotationRate == blank.rotationRate && !disk.failures.open && !disk.failures.geometry &&
           disk.failures.layoutError == 0;
}

json vdiskToJson(const VirtualDisk& vdisk) {
    json entry = {{"path", text::toUtf8(vdisk.path)},
                  {"type", vdisk.expandable ? "expandable" : "fixed"},
                  {"maximumMB", vdisk.maximumMB},
                  {"attached", vdisk.attached},
                  {"readOnly", vdisk.readOnly}};
    if (!isBlankDisk(vdisk)) {
        entry["disk"] = diskToJson(vdisk.disk, false);
    }
    return entry;
}

// Every drive letter names one thing: a volume on a physical drive or an attached virtual disk, or an
// entry of `letters`. And there are never more drives than the library scans.
void checkDrivesAndLetters(const MachineModel& model) {
    std::map<wchar_t, std::string> owners;
    const auto claim = [&](wchar_t letter, const std::string& where) {
        const auto [owner, added] = owners.emplace(letter, where);
        if (!added) {
            fail(where, std::string("drive letter ") + static_cast<char>(letter) + " is already taken by " +
                            owner->second);
        }
    };
    const auto claimVolumes = [&](const Disk& disk, const std::string& where) {
        for (std::size_t k = 0; k < disk.volumes.size(); ++k) {
            if (disk.volumes[k].letter) {
                claim(*disk.volumes[k].letter, member(element(member(where, "volumes"), k), "letter"));
            }
        }
    };
    for (std::size_t i = 0; i < model.disks.size(); ++i) {
        claimVolumes(model.disks[i], element("disks", i));
    }
    std::size_t drives = model.disks.size();
    for (std::size_t i = 0; i < model.vdisks.size(); ++i) {
        if (!model.vdisks[i].attached) {
            continue;
        }
        if (++drives > kMaxDrives) {
            fail(member(element("vdisks", i), "attached"), "no physical drive number is left for it (" +
                                                               std::to_string(kMaxDrives) +
                                                               " drives at most)");
        }
        claimVolumes(model.vdisks[i].disk, member(element("vdisks", i), "disk"));
    }
    for (std::size_t i = 0; i < model.letters.size(); ++i) {
        claim(model.letters[i], element("letters", i));
    }
    for (std::size_t i = 0; i < model.notReadyLetters.size(); ++i) {
        claim(model.notReadyLetters[i], "letters");
    }
}

}  // namespace

MachineModel machineFromJson(const json& document, const std::string& baseDir) {
    expectObject(
        document, "",
        {"codePage", "windowsDirectory", "commonAppData", "libraryPath", "programPath", "currentDirectory",
         "disks", "letters", "folders", "files", "registry", "vdisks", "diskpart"});
    MachineModel model;
    if (document.contains("codePage")) {
        model.codePage = readUint32(document["codePage"], "codePage");
        if (!text::supportedCodePage(model.codePage)) {
            fail("codePage", "code page " + std::to_string(model.codePage) + " is not supported (1252 is)");
        }
    }
    if (document.contains("windowsDirectory")) {
        model.windowsDirectory = readPath(document["windowsDirectory"], "windowsDirectory");
    }
    if (document.contains("commonAppData")) {
        model.commonAppData = readPath(document["commonAppData"], "commonAppData");
    }
    if (document.contains("libraryPath")) {
        model.libraryPath = readPath(document["libraryPath"], "libraryPath");
    }
    if (document.contains("programPath")) {
        model.programPath = readPath(document["programPath"], "programPath");
    }
    if (document.contains("currentDirectory")) {
        model.currentDirectory = readPath(document["currentDirectory"], "currentDirectory");
    }
    if (document.contains("disks")) {
        readDisks(model, document["disks"], baseDir);
    }
    forEachElement(document, "letters",
                   [&](const json& v, const std::string& w) { readLetterEntry(model, v, w); });
    forEachElement(document, "folders",
                   [&](const json& v, const std::string& w) { readFolder(model, v, w); });
    forEachElement(document, "files", [&](const json& v, const std::string& w) { readFile(model, v, w); });
    forEachElement(document, "registry",
                   [&](const json& v, const std::string& w) { readRegistryKey(model, v, w); });
    forEachElement(document, "vdisks",
                   [&](const json& v, const std::string& w) { readVdisk(model, v, w, baseDir); });
    if (document.contains("diskpart")) {
        readDiskpart(model, document["diskpart"], "diskpart");
    }
    checkDrivesAndLetters(model);
    completeFileSystem(model);
    return model;
}

MachineModel loadMachineFile(const std::string& hostPath) {
    // Asked before opening: a pipe would block the open, and a folder opens as an empty stream.
    std::error_code statusError;
    const auto status = std::filesystem::status(hostPath, statusError);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        throw MachineFormatError(hostPath + ": is a folder, device or pipe, not a machine file");
    }
    std::ifstream in(hostPath, std::ios::binary);
    if (!in) {
        throw MachineFormatError(hostPath + ": cannot be read");
    }
    json document;
    try {
        document = json::parse(in, nullptr, true, true);
    } catch (const json::parse_error& error) {
        throw MachineFormatError(hostPath + ": not valid JSON: " + error.what());
    }
    std::string baseDir = std::filesystem::path(hostPath).parent_path().string();
    try {
        return machineFromJson(document, baseDir.empty() ? "." : baseDir);
    } catch (const MachineFormatError& error) {
        throw MachineFormatError(hostPath + ": " + error.what());
    }
}

json machineToJson(const MachineModel& model) {
    json document = {{"codePage", model.codePage},
                     {"windowsDirectory", text::toUtf8(model.windowsDirectory)},
                     {"commonAppData", text::toUtf8(model.commonAppData)},
                     {"libraryPath", text::toUtf8(model.libraryPath)},
                     {"programPath", text::toUtf8(model.programPath)},
                     {"currentDirectory", text::toUtf8(model.currentDirectory)}};
    document["disks"] = json::array();
    for (const Disk& disk : model.disks) {
        document["disks"].push_back(diskToJson(disk, true));
    }
    document["letters"] = json::array();
    for (wchar_t letter : model.letters) {
        document["letters"].push_back(text::toUtf8(std::wstring(1, letter)));
    }
    for (wchar_t letter : model.notReadyLetters) {
        document["letters"].push_back({{"letter", text::toUtf8(std::wstring(1, letter))}, {"ready", false}});
    }
    document["folders"] = json::array();
    for (const auto& entry : model.folders) {
        document["folders"].push_back(folderToJson(entry.second));
    }
    document["files"] = json::array();
    for (const auto& entry : model.files) {
        document["files"].push_back(fileToJson(entry.second, model.codePage));
    }
    document["registry"] = json::array();
    for (const auto& [key, values] : model.registry) {
        json dwords = json::object();
        for (const auto& [name, value] : values.dwords) {
            dwords[text::toUtf8(name)] = value;
        }
        document["registry"].push_back({{"key", text::toUtf8(key)}, {"dwords", dwords}});
    }
    document["vdisks"] = json::array();
    for (const VirtualDisk& vdisk : model.vdisks) {
        document["vdisks"].push_back(vdiskToJson(vdisk));
    }
    document["diskpart"] = {{"exitCodes", model.diskpart.exitCodes},
                            {"cannotStart", model.diskpart.cannotStart}};
    if (!model.diskpart.words.empty()) {
        json words = json::object();
        for (const auto& [english, said] : model.diskpart.words) {
            words[text::toUtf8(english)] = text::toUtf8(said);
        }
        document["diskpart"]["words"] = words;
    }
    return document;
}

}  // namespace sim
