#include "sim/windows/Drives.h"

#include <algorithm>
#include <cstdlib>

#include "platform/WinConstants.h"
#include "sim/machine/DiskLayout.h"
#include "sim/windows/StorageQuery.h"
#include "sim/windows/Text.h"

namespace sim {

namespace win = kvph::win;

namespace {

constexpr int kMaxDriveNumber = 31;
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
constexpr wchar_t kPhysicalDrivePrefix[] = L"\\\\.\\PHYSICALDRIVE";
// DISK_GEOMETRY_EX with DISK_PARTITION_INFO and DISK_DETECTION_INFO: the most the driver returns.
constexpr std::uint32_t kGeometryInternalBytes = 112;

// The N of "\\.\PhysicalDriveN" (decimal, no sign, no leading zeros), or -1.
int physicalDriveNumber(const std::wstring& path) {
    if (!text::startsWithNoCase(path, kPhysicalDrivePrefix)) {
        return -1;
    }
    const std::wstring digits = path.substr(std::wstring(kPhysicalDrivePrefix).size());
    if (digits.empty() || digits.size() > 2 || (digits.size() > 1 && digits[0] == L'0') ||
        !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return -1;
    }
    return std::stoi(digits);
}

bool sameSlot(const MbrSlot& a, const MbrSlot& b) {
    return a.type == b.type && a.boot == b.boot && a.start == b.start && a.sectors == b.sectors;
}

bool sameSlots(const std::array<MbrSlot, 4>& a, const std::array<MbrSlot, 4>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), sameSlot);
}

bool sameMbr(const MbrTable& a, const MbrTable& b) {
    const auto sameRecord = [](const MbrTable::BootRecord& x, const MbrTable::BootRecord& y) {
        return x.sector == y.sector && sameSlots(x.slots, y.slots);
    };
    return a.signature == b.signature && sameSlots(a.primary, b.primary) &&
           std::equal(a.chain.begin(), a.chain.end(), b.chain.begin(), b.chain.end(), sameRecord);
}

bool sameGpt(const GptTable& a, const GptTable& b) {
    const auto sameEntry = [](const GptEntry& x, const GptEntry& y) {
        return x.type == y.type && x.id == y.id && x.start == y.start && x.sectors == y.sectors &&
               x.attributes == y.attributes && x.name == y.name;
    };
    return a.diskGuid == b.diskGuid && a.firstUsable == b.firstUsable && a.lastUsable == b.lastUsable &&
           a.maxEntries == b.maxEntries &&
           std::equal(a.entries.begin(), a.entries.end(), b.entries.begin(), b.entries.end(), sameEntry);
}

// Whether two disks have the same layout answer: everything layoutBytes reads is equal.
bool sameLayoutSource(const Disk& a, const Disk& b) {
    return a.style == b.style && a.geometry.bytesPerSector == b.geometry.bytesPerSector &&
           sameMbr(a.mbr, b.mbr) && sameGpt(a.gpt, b.gpt);
}

kvph::IoResult failedIo(std::uint32_t outputSize, std::uint32_t error) {
    kvph::IoResult result;
    result.output.assign(outputSize, 0);
    result.error = error;
    return result;
}

// Copies what fits of `answer` into the caller's zero-filled buffer.
kvph::IoResult answeredIo(const kvph::Bytes& answer, std::uint32_t outputSize, std::uint32_t bytesReturned) {
    kvph::IoResult result;
    result.ok = true;
    result.output.assign(outputSize, 0);
    std::copy_n(answer.begin(), std::min<std::size_t>(answer.size(), outputSize), result.output.begin());
    result.bytesReturned = bytesReturned;
    return result;
}

}  // namespace

std::vector<const Disk*> Drives::allDisks() const {
    std::vector<const Disk*> disks;
    disks.reserve(model_.disks.size() + model_.vdisks.size());
    for (const Disk& disk : model_.disks) {
        disks.push_back(&disk);
    }
    for (const VirtualDisk& vdisk : model_.vdisks) {
        if (vdisk.attached) {
            disks.push_back(&vdisk.disk);
        }
    }
    return disks;
}

void Drives::plugInVdisk(VirtualDisk& vdisk) {
    vdisk.disk.number = -1;
    int number = 0;
    while (diskByNumber(number) != nullptr) {
        ++number;
    }
    vdisk.disk.number = number;
    vdisk.disk.driveType = DriveType::Fixed;
    vdisk.disk.bus = win::storage::BusTypeFileBackedVirtual;
    vdisk.disk.rotationRate.reset();  // a virtual disk does not answer ATA commands
}

const Disk* Drives::diskByNumber(int number) const {
    for (const Disk* disk : allDisks()) {
        if (disk->number == number) {
            return disk;
        }
    }
    return nullptr;
}

bool Drives::isDevicePath(const std::wstring& path) {
    return text::startsWithNoCase(path, kDevicePrefix);
}

kvph::HandleResult Drives::openDevice(const std::wstring& path) {
    const int number = physicalDriveNumber(path);
    const Disk* disk = number < 0 || number > kMaxDriveNumber ? nullptr : diskByNumber(number);
    if (disk == nullptr) {
        return {kvph::kInvalidHandle, win::ERROR_FILE_NOT_FOUND_};
    }
    if (disk->failures.open) {
        return {kvph::kInvalidHandle, win::ERROR_ACCESS_DENIED_};
    }
    return {handles_.add(OpenDevice{number}), 0};
}

kvph::IoResult Drives::deviceIoControl(kvph::Handle device, std::uint32_t controlCode,
                                       const kvph::Bytes& input, std::uint32_t outputSize) {
    OpenObject* object = handles_.find(device);
    const OpenDevice* open = object != nullptr ? std::get_if<OpenDevice>(object) : nullptr;
    const std::wstring argument =
        open != nullptr ? L"\\\\.\\PhysicalDrive" + std::to_wstring(open->diskNumber) : std::wstring();
    if (auto error = calls_.enter("deviceIoControl", argument)) {
        return failedIo(outputSize, *error);
    }
    if (object == nullptr) {
        return failedIo(outputSize, win::ERROR_INVALID_HANDLE_);
    }
    if (open == nullptr) {
        return failedIo(outputSize, win::ERROR_INVALID_FUNCTION_);
    }
    const Disk* disk = diskByNumber(open->diskNumber);
    if (disk == nullptr) {
        // The drive went away (a virtual disk was detached) while the handle stayed open.
        return failedIo(outputSize, win::ERROR_NOT_READY_);
    }
    switch (controlCode) {
        case win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_:
            return answerGeometry(*disk, outputSize);
        case win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_:
            return answerLayout(*disk, outputSize);
        case win::IOCTL_STORAGE_QUERY_PROPERTY_:
            return answerStorageQuery(*disk, input, outputSize);
        case win::IOCTL_ATA_PASS_THROUGH_:
            return answerAtaPassThrough(*disk, input, outputSize);
        default:
            return failedIo(outputSize, win::ERROR_INVALID_FUNCTION_);
    }
}

// The disk driver needs room for the geometry and the disk size; it adds the partition information when
// the buffer holds it, and reports as returned what it filled, up to its whole structure.
kvph::IoResult Drives::answerGeometry(const Disk& disk, std::uint32_t outputSize) {
    if (disk.failures.geometry) {
        return failedIo(outputSize, win::ERROR_NOT_READY_);
    }
    if (outputSize < win::geometry::kSize) {
        return failedIo(outputSize, win::ERROR_INSUFFICIENT_BUFFER_);
    }
    kvph::Bytes answer = geometryBytes(disk);
    if (outputSize < answer.size()) {
        answer.resize(win::geometry::kSize);
    }
    return answeredIo(answer, outputSize, std::min(outputSize, kGeometryInternalBytes));
}

const kvph::Bytes& Drives::layoutAnswer(const Disk& disk) {
    auto cached = layouts_.find(disk.number);
    if (cached == layouts_.end() || !sameLayoutSource(cached->second.source, disk)) {
        CachedLayout fresh;
        fresh.source.style = disk.style;
        fresh.source.geometry.bytesPerSector = disk.geometry.bytesPerSector;
        fresh.source.mbr = disk.mbr;
        fresh.source.gpt = disk.gpt;
        fresh.bytes = layoutBytes(disk);
        cached = layouts_.insert_or_assign(disk.number, std::move(fresh)).first;
    }
    return cached->second.bytes;
}

// The whole layout or nothing: a buffer too small for every entry fails with ERROR_INSUFFICIENT_BUFFER
// and no bytes returned.
kvph::IoResult Drives::answerLayout(const Disk& disk, std::uint32_t outputSize) {
    if (disk.failures.layoutError != 0) {
        return failedIo(outputSize, disk.failures.layoutError);
    }
    const kvph::Bytes& answer = layoutAnswer(disk);
    if (outputSize < answer.size()) {
        return failedIo(outputSize, win::ERROR_INSUFFICIENT_BUFFER_);
    }
    return answeredIo(answer, outputSize, static_cast<std::uint32_t>(answer.size()));
}

}  // namespace sim
