#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "sim/format/MachineJson.h"
#include "sim/machine/DiskImage.h"
#include "sim/machine/DiskLayout.h"
#include "sim/machine/MbrChain.h"
#include "sim/windows/Text.h"

namespace sim {

using nlohmann::json;

namespace {

constexpr int kMaxDiskNumber = 31;
constexpr std::uint64_t kMinSectorBytes = 512;
constexpr std::uint64_t kMaxSectorBytes = 4096;
constexpr std::uint64_t kMaxSignedSize = INT64_MAX;   // byte counts go to the library as signed 64-bit
constexpr std::uint64_t kMaxMbrSectors = UINT32_MAX;  // an MBR slot holds 32-bit start and count

[[noreturn]] void fail(const std::string& where, const std::string& message) {
    throw MachineFormatError(where + ": " + message);
}

void allowOnly(const json& object, const std::string& where, std::initializer_list<const char*> keys) {
    if (!object.is_object()) {
        fail(where, "must be an object");
    }
    const std::set<std::string> allowed(keys.begin(), keys.end());
    for (const auto& item : object.items()) {
        if (allowed.count(item.key()) == 0) {
            fail(where + "." + item.key(), "unknown key");
        }
    }
}

// A key the object must have; a missing one is named by its path, as every other fault is.
const json& required(const json& object, const std::string& key, const std::string& where) {
    if (!object.contains(key)) {
        fail(where + "." + key, "required");
    }
    return object.at(key);
}

std::uint64_t unsignedAt(const json& object, const std::string& key, const std::string& where,
                         std::uint64_t maximum = UINT64_MAX) {
    const json& value = required(object, key, where);
    if (!value.is_number_integer() ||
        (value.is_number_integer() && !value.is_number_unsigned() && value.get<std::int64_t>() < 0)) {
        fail(where + "." + key, "must be a non-negative integer");
    }
    const std::uint64_t number = value.get<std::uint64_t>();
    if (number > maximum) {
        fail(where + "." + key, "must be at most " + std::to_string(maximum));
    }
    return number;
}

std::uint64_t unsignedOr(const json& object, const std::string& key, const std::string& where,
                         std::uint64_t fallback, std::uint64_t maximum = UINT64_MAX) {
    return object.contains(key) ? unsignedAt(object, key, where, maximum) : fallback;
}

bool boolOr(const json& object, const std::string& key, const std::string& where, bool fallback) {
    if (!object.contains(key)) {
        return fallback;
    }
    if (!object.at(key).is_boolean()) {
        fail(where + "." + key, "must be true or false");
    }
    return object.at(key).get<bool>();
}

std::string stringAt(const json& object, const std::string& key, const std::string& where) {
    const json& value = required(object, key, where);
    if (!value.is_string()) {
        fail(where + "." + key, "must be a string");
    }
    return value.get<std::string>();
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", braces allowed, into the in-memory byte order.
Guid parseGuid(std::string text, const std::string& where) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, 36);
    }
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (text[i] == '-') || (!dash && hexDigit(text[i]) < 0)) {
            fail(where, "is not a GUID");
        }
        if (!dash) {
            digits += text[i];
        }
    }
    if (text.size() != 36) {
        fail(where, "is not a GUID");
    }
    std::array<std::uint8_t, 16> raw{};
    for (std::size_t i = 0; i < 16; ++i) {
        raw[i] = static_cast<std::uint8_t>(hexDigit(digits[2 * i]) * 16 + hexDigit(digits[2 * i + 1]));
    }
    // The first three fields are stored little-endian.
    return {raw[3], raw[2], raw[1],  raw[0],  raw[5],  raw[4],  raw[7],  raw[6],
            raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
}

std::string guidText(const Guid& g) {
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return text;
}

std::uint8_t parseType(const json& object, const std::string& where) {
    const std::string text = stringAt(object, "type", where);
    if (text.empty() || text.size() > 2 || hexDigit(text[0]) < 0 ||
        (text.size() == 2 && hexDigit(text[1]) < 0)) {
        fail(where + ".type", "must be a partition type in hexadecimal, such as \"07\"");
    }
    return static_cast<std::uint8_t>(std::stoul(text, nullptr, 16));
}

std::string typeText(std::uint8_t type) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", type);
    return text;
}

const std::pair<const char*, DriveType> kDriveTypes[] = {{"fixed", DriveType::Fixed},
                                                         {"removable", DriveType::Removable},
                                                         {"cdrom", DriveType::Cdrom},
                                                         {"ramdisk", DriveType::Ramdisk},
                                                         {"unknown", DriveType::Unknown}};
const std::pair<const char*, PartitionStyle> kStyles[] = {
    {"mbr", PartitionStyle::Mbr}, {"gpt", PartitionStyle::Gpt}, {"raw", PartitionStyle::Raw}};

template <typename T, std::size_t N>
T parseName(const json& object, const char* key, const std::string& where,
            const std::pair<const char*, T> (&names)[N]) {
    const std::string text = stringAt(object, key, where);
    for (const auto& [name, value] : names) {
        if (text == name) {
            return value;
        }
    }
    fail(where + "." + key, "unknown value \"" + text + "\"");
}

template <typename T, std::size_t N>
const char* nameOf(T value, const std::pair<const char*, T> (&names)[N]) {
    for (const auto& [name, candidate] : names) {
        if (candidate == value) {
            return name;
        }
    }
    return names[0].first;
}

// A stretch of sectors a table entry claims, with its JSON path for messages.
struct Span {
    std::uint64_t start = 0;
    std::uint64_t sectors = 0;
    std::string where;
};

// Every span must lie within [first, end) and no two may share a sector.
void checkSpans(std::vector<Span> spans, std::uint64_t first, std::uint64_t end, const std::string& within) {
    for (const Span& span : spans) {
        if (span.start < first || span.start > end || span.sectors > end - span.start) {
            fail(span.where, "lies outside " + within);
        }
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    for (std::size_t i = 1; i < spans.size(); ++i) {
        const Span& before = spans[i - 1];
        if (before.sectors != 0 && spans[i].sectors != 0 && before.start + before.sectors > spans[i].start) {
            fail(spans[i].where, "overlaps " + before.where);
        }
    }
}

std::string diskEnd(std::uint64_t sectors) {
    return "the disk (" + std::to_string(sectors) + " sectors)";
}

std::uint64_t diskSectors(const Disk& disk) {
    return disk.sizeBytes / disk.geometry.bytesPerSector;
}

MbrSlot parseMbrSlot(const json& object, const std::string& where) {
    MbrSlot slot;
    slot.start = unsignedAt(object, "start", where);
    slot.sectors = unsignedAt(object, "sectors", where, kMaxMbrSectors);
    slot.type = parseType(object, where);
    slot.boot = boolOr(object, "boot", where, false);
    return slot;
}

std::string entryAt(const std::string& where, std::size_t index) {
    return where + "[" + std::to_string(index) + "]";
}

// The partition table of a disk, described or read from an image, against one set of rules: every
// partition lies on the disk and shares no sector with another, and each logical drive lies in the
// extended partition after the container's first sector (its boot record). `where` names the table's
// list ("disks[0].partitions"); its entries are named in the order a described disk lists them.
void checkTable(const Disk& disk, const std::string& where) {
    const std::uint64_t sectors = diskSectors(disk);
    std::vector<Span> spans;
    if (disk.style == PartitionStyle::Gpt) {
        for (std::size_t i = 0; i < disk.gpt.entries.size(); ++i) {
            spans.push_back({disk.gpt.entries[i].start, disk.gpt.entries[i].sectors, entryAt(where, i)});
        }
    } else if (disk.style == PartitionStyle::Mbr) {
        for (std::size_t i = 0; i < disk.mbr.primary.size(); ++i) {
            if (disk.mbr.primary[i].type != 0) {
                spans.push_back({disk.mbr.primary[i].start, disk.mbr.primary[i].sectors, entryAt(where, i)});
            }
        }
    }
    checkSpans(spans, 1, sectors, diskEnd(sectors));
    const MbrSlot* container = disk.style == PartitionStyle::Mbr ? extendedSlot(disk.mbr) : nullptr;
    if (container == nullptr) {
        return;
    }
    const std::string containerAt =
        entryAt(where, static_cast<std::size_t>(container - disk.mbr.primary.data()));
    std::vector<Span> drives;
    for (const MbrTable::BootRecord& record : disk.mbr.chain) {
        for (const MbrSlot& slot : record.slots) {
            if (slot.type != 0 && !isContainerType(slot.type)) {
                drives.push_back(
                    {slot.start, slot.sectors, entryAt(containerAt + ".logical", drives.size())});
            }
        }
    }
    checkSpans(drives, container->start + 1, container->start + container->sectors,
               "its extended partition " + containerAt);
}

void parseMbrPartitions(const json& list, const std::string& where, Disk& disk) {
    if (list.size() > disk.mbr.primary.size()) {
        fail(where, "an MBR holds four partitions; put more in an extended partition's \"logical\" list");
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string at = entryAt(where, i);
        allowOnly(list[i], at, {"start", "sectors", "type", "boot", "logical"});
        disk.mbr.primary[i] = parseMbrSlot(list[i], at);
        if (list[i].contains("logical") && !isContainerType(disk.mbr.primary[i].type)) {
            fail(at + ".logical", "only an extended partition (type 05 or 0F) holds logical drives");
        }
        if (disk.mbr.primary[i].start > kMaxMbrSectors) {
            fail(at + ".start", "must be at most " + std::to_string(kMaxMbrSectors) + " on an MBR disk");
        }
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        // The chain of extended boot records hangs off the first extended partition only.
        if (list[i].contains("logical") && &disk.mbr.primary[i] != extendedSlot(disk.mbr)) {
            fail(entryAt(where, i) + ".logical", "only the first extended partition holds logical drives");
        }
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!list[i].contains("logical")) {
            continue;
        }
        const json& logicals = list[i].at("logical");
        const std::string at = entryAt(where, i) + ".logical";
        if (!logicals.is_array()) {
            fail(at, "must be a list");
        }
        // Each logical drive follows its own extended boot record inside the container.
        for (std::size_t k = 0; k < logicals.size(); ++k) {
            const std::string logicalAt = entryAt(at, k);
            allowOnly(logicals[k], logicalAt, {"start", "sectors", "type"});
            appendLogicalDrive(disk.mbr, parseMbrSlot(logicals[k], logicalAt));
        }
    }
}

void parseGptPartitions(const json& list, const std::string& where, Disk& disk) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string at = entryAt(where, i);
        allowOnly(list[i], at, {"start", "sectors", "type", "id", "name"});
        GptEntry entry;
        entry.start = unsignedAt(list[i], "start", at);
        entry.sectors = unsignedAt(list[i], "sectors", at);
        entry.type = parseGuid(stringAt(list[i], "type", at), at + ".type");
        if (list[i].contains("id")) {
            entry.id = parseGuid(stringAt(list[i], "id", at), at + ".id");
        }
        if (list[i].contains("name")) {
            entry.name = text::fromUtf8(stringAt(list[i], "name", at));
        }
        disk.gpt.entries.push_back(entry);
    }
}

// The start sectors of the partitions that can carry a file system: not extended containers or links.
std::set<std::uint64_t> volumeStarts(const Disk& disk) {
    std::set<std::uint64_t> starts;
    const auto add = [&](const MbrSlot& slot) {
        if (slot.type != 0 && !isContainerType(slot.type)) {
            starts.insert(slot.start);
        }
    };
    if (disk.style == PartitionStyle::Mbr) {
        std::for_each(disk.mbr.primary.begin(), disk.mbr.primary.end(), add);
        for (const MbrTable::BootRecord& record : disk.mbr.chain) {
            std::for_each(record.slots.begin(), record.slots.end(), add);
        }
    } else if (disk.style == PartitionStyle::Gpt) {
        for (const GptEntry& entry : disk.gpt.entries) {
            starts.insert(entry.start);
        }
    }
    return starts;
}

void checkVolumePlace(const Disk& disk, std::size_t index, const std::string& where) {
    const std::uint64_t start = disk.volumes[index].start;
    if (volumeStarts(disk).count(start) == 0) {
        fail(where + ".start", "no partition of the disk starts at sector " + std::to_string(start));
    }
    for (std::size_t i = 0; i < index; ++i) {
        if (disk.volumes[i].start == start) {
            fail(where + ".start", "another volume is on the partition at sector " + std::to_string(start));
        }
    }
}

Volume parseVolume(const json& object, const std::string& where) {
    allowOnly(object, where, {"start", "letter", "fileSystem", "label", "readOnly", "freeBytes"});
    Volume volume;
    volume.start = unsignedAt(object, "start", where);
    if (object.contains("letter") && !object.at("letter").is_null()) {
        const std::string letter = stringAt(object, "letter", where);
        if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0]))) {
            fail(where + ".letter", "must be one letter from A to Z, or null");
        }
        volume.letter = static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(letter[0])));
    }
    if (!object.contains("fileSystem")) {
        volume.fileSystem = L"NTFS";
    } else if (!object.at("fileSystem").is_null()) {
        volume.fileSystem = text::fromUtf8(stringAt(object, "fileSystem", where));
    }
    if (object.contains("label")) {
        volume.label = text::fromUtf8(stringAt(object, "label", where));
    }
    volume.readOnly = boolOr(object, "readOnly", where, false);
    volume.freeBytes = unsignedOr(object, "freeBytes", where, 0, kMaxSignedSize);
    return volume;
}

void parseGeometry(const json& object, const std::string& where, Geometry& geometry) {
    allowOnly(object, where, {"bytesPerSector", "sectorsPerTrack", "tracksPerCylinder"});
    geometry.bytesPerSector = static_cast<std::uint32_t>(
        unsignedOr(object, "bytesPerSector", where, geometry.bytesPerSector, UINT32_MAX));
    geometry.sectorsPerTrack = static_cast<std::uint32_t>(
        unsignedOr(object, "sectorsPerTrack", where, geometry.sectorsPerTrack, UINT32_MAX));
    geometry.tracksPerCylinder = static_cast<std::uint32_t>(
        unsignedOr(object, "tracksPerCylinder", where, geometry.tracksPerCylinder, UINT32_MAX));
    const std::uint32_t sector = geometry.bytesPerSector;
    if (sector < kMinSectorBytes || sector > kMaxSectorBytes || (sector & (sector - 1)) != 0) {
        fail(where + ".bytesPerSector", "must be a power of two from 512 to 4096");
    }
    if (geometry.sectorsPerTrack == 0) {
        fail(where + ".sectorsPerTrack", "must be above zero");
    }
    if (geometry.tracksPerCylinder == 0) {
        fail(where + ".tracksPerCylinder", "must be above zero");
    }
}

void parseFailures(const json& object, const std::string& where, DiskFailures& failures) {
    allowOnly(object, where, {"open", "geometry", "layoutError"});
    failures.open = boolOr(object, "open", where, false);
    failures.geometry = boolOr(object, "geometry", where, false);
    failures.layoutError =
        static_cast<std::uint32_t>(unsignedOr(object, "layoutError", where, 0, UINT32_MAX));
}

void parseNumbering(const json& object, const std::string& where, Disk& disk) {
    disk.number = static_cast<int>(unsignedAt(object, "number", where, kMaxDiskNumber));
    if (object.contains("driveType")) {
        disk.driveType = parseName(object, "driveType", where, kDriveTypes);
    }
    if (object.contains("bus")) {
        disk.bus = object.at("bus").is_null() ? std::nullopt
                                              : std::optional<std::uint32_t>(static_cast<std::uint32_t>(
                                                    unsignedAt(object, "bus", where, UINT32_MAX)));
    }
}

void parseTable(const json& object, const std::string& where, Disk& disk) {
    disk.style = object.contains("style") ? parseName(object, "style", where, kStyles) : PartitionStyle::Raw;
    if (object.contains("signature")) {
        disk.mbr.signature = static_cast<std::uint32_t>(unsignedAt(object, "signature", where, UINT32_MAX));
    }
    if (object.contains("diskGuid")) {
        disk.gpt.diskGuid = parseGuid(stringAt(object, "diskGuid", where), where + ".diskGuid");
    }
    if (!object.contains("partitions")) {
        return;
    }
    const json& list = object.at("partitions");
    if (!list.is_array()) {
        fail(where + ".partitions", "must be a list");
    }
    if (disk.style == PartitionStyle::Mbr) {
        parseMbrPartitions(list, where + ".partitions", disk);
    } else if (disk.style == PartitionStyle::Gpt) {
        parseGptPartitions(list, where + ".partitions", disk);
    } else if (!list.empty()) {
        fail(where + ".partitions", "a disk of style raw has no partitions");
    }
}

json mbrSlotJson(const MbrSlot& slot) {
    json out = {{"start", slot.start}, {"sectors", slot.sectors}, {"type", typeText(slot.type)}};
    if (slot.boot) {
        out["boot"] = true;
    }
    return out;
}

json mbrPartitionsJson(const MbrTable& table) {
    std::size_t used = 0;
    for (std::size_t i = 0; i < table.primary.size(); ++i) {
        used = table.primary[i].type != 0 ? i + 1 : used;
    }
    json list = json::array();
    for (std::size_t i = 0; i < used; ++i) {
        json slot = mbrSlotJson(table.primary[i]);
        if (isContainerType(table.primary[i].type) && &table.primary[i] == extendedSlot(table)) {
            slot["logical"] = json::array();
            for (const MbrTable::BootRecord& record : table.chain) {
                for (const MbrSlot& candidate : record.slots) {
                    if (candidate.type != 0 && !isContainerType(candidate.type)) {
                        json logical = mbrSlotJson(candidate);
                        logical.erase("boot");
                        slot["logical"].push_back(logical);
                        break;
                    }
                }
            }
        }
        list.push_back(slot);
    }
    return list;
}

json gptPartitionsJson(const GptTable& table) {
    json list = json::array();
    for (const GptEntry& entry : table.entries) {
        list.push_back({{"start", entry.start},
                        {"sectors", entry.sectors},
                        {"type", guidText(entry.type)},
                        {"id", guidText(entry.id)},
                        {"name", text::toUtf8(entry.name)}});
    }
    return list;
}

json volumeJson(const Volume& volume) {
    return {
        {"start", volume.start},
        {"letter", volume.letter ? json(std::string(1, static_cast<char>(*volume.letter))) : json(nullptr)},
        {"fileSystem", volume.fileSystem ? json(text::toUtf8(*volume.fileSystem)) : json(nullptr)},
        {"label", text::toUtf8(volume.label)},
        {"readOnly", volume.readOnly},
        {"freeBytes", volume.freeBytes}};
}

}  // namespace

Disk diskFromJson(const json& object, const std::string& where, const std::string& baseDir, bool numbered) {
    if (numbered) {
        allowOnly(object, where,
                  {"number", "driveType", "bus", "rotationRate", "geometry", "sizeBytes", "image", "style",
                   "signature", "diskGuid", "partitions", "volumes", "failures"});
    } else {
        allowOnly(object, where,
                  {"rotationRate", "geometry", "sizeBytes", "image", "style", "signature", "diskGuid",
                   "partitions", "volumes", "failures"});
    }
    Disk disk;
    if (numbered) {
        if (!object.contains("number")) {
            fail(where + ".number", "is required");
        }
        parseNumbering(object, where, disk);
    }
    if (object.contains("rotationRate")) {
        disk.rotationRate = object.at("rotationRate").is_null()
                                ? std::nullopt
                                : std::optional<std::uint16_t>(static_cast<std::uint16_t>(
                                      unsignedAt(object, "rotationRate", where, UINT16_MAX)));
    }
    if (object.contains("geometry")) {
        parseGeometry(object.at("geometry"), where + ".geometry", disk.geometry);
    }
    if (object.contains("image")) {
        for (const char* key : {"style", "signature", "diskGuid", "partitions"}) {
            if (object.contains(key)) {
                fail(where + "." + key, "cannot be given together with \"image\"");
            }
        }
        disk.image = stringAt(object, "image", where);
        const std::filesystem::path imagePath = std::filesystem::path(baseDir) / disk.image;
        // Asked before opening: a pipe would block the open, a device or folder is no image.
        std::error_code statusError;
        const auto status = std::filesystem::status(imagePath, statusError);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
            fail(where + ".image",
                 imagePath.string() + " is a folder, device or pipe, not a disk image file");
        }
        std::string error;
        if (!readDiskImage(imagePath.string(), disk, error)) {
            fail(where + ".image", error);
        }
    } else {
        if (!object.contains("sizeBytes")) {
            fail(where + ".sizeBytes", "is required unless an image gives it");
        }
        disk.sizeBytes = unsignedAt(object, "sizeBytes", where, kMaxSignedSize);
        parseTable(object, where, disk);
    }
    if (object.contains("sizeBytes")) {
        disk.sizeBytes = unsignedAt(object, "sizeBytes", where, kMaxSignedSize);
    }
    checkTable(disk, where + (disk.image.empty() ? ".partitions" : ".image.partitions"));
    if (disk.style == PartitionStyle::Gpt && disk.gpt.lastUsable == 0 && disk.geometry.bytesPerSector != 0) {
        const std::uint64_t sectors = disk.sizeBytes / disk.geometry.bytesPerSector;
        disk.gpt.lastUsable = sectors > 34 ? sectors - 34 : 0;
    }
    if (object.contains("volumes")) {
        const json& volumes = object.at("volumes");
        if (!volumes.is_array()) {
            fail(where + ".volumes", "must be a list");
        }
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            const std::string at = where + ".volumes[" + std::to_string(i) + "]";
            disk.volumes.push_back(parseVolume(volumes[i], at));
            checkVolumePlace(disk, i, at);
        }
    }
    if (object.contains("failures")) {
        parseFailures(object.at("failures"), where + ".failures", disk.failures);
    }
    return disk;
}

json diskToJson(const Disk& disk, bool numbered) {
    json out = json::object();
    if (numbered) {
        out["number"] = disk.number;
        out["driveType"] = nameOf(disk.driveType, kDriveTypes);
        out["bus"] = disk.bus ? json(*disk.bus) : json(nullptr);
    }
    out["rotationRate"] = disk.rotationRate ? json(*disk.rotationRate) : json(nullptr);
    out["geometry"] = {{"bytesPerSector", disk.geometry.bytesPerSector},
                       {"sectorsPerTrack", disk.geometry.sectorsPerTrack},
                       {"tracksPerCylinder", disk.geometry.tracksPerCylinder}};
    out["sizeBytes"] = disk.sizeBytes;
    if (!disk.image.empty()) {
        out["image"] = disk.image;
    } else {
        out["style"] = nameOf(disk.style, kStyles);
        if (disk.style == PartitionStyle::Mbr) {
            out["signature"] = disk.mbr.signature;
            out["partitions"] = mbrPartitionsJson(disk.mbr);
        } else if (disk.style == PartitionStyle::Gpt) {
            out["diskGuid"] = guidText(disk.gpt.diskGuid);
            out["partitions"] = gptPartitionsJson(disk.gpt);
        }
    }
    out["volumes"] = json::array();
    for (const Volume& volume : disk.volumes) {
        out["volumes"].push_back(volumeJson(volume));
    }
    out["failures"] = {{"open", disk.failures.open},
                       {"geometry", disk.failures.geometry},
                       {"layoutError", disk.failures.layoutError}};
    return out;
}

}  // namespace sim
