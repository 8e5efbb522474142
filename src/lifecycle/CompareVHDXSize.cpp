#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "frame/Log.h"
#include "frame/Text.h"
#include "inventory/PartitionInventory.h"
#include "lifecycle/SizeSettings.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr unsigned kMegabyteShift = 20;
constexpr std::int64_t kSimilarMB = 10;  // differences below this many MB are not worth a resize

// The file's size; 0 for a file that is not there, nullopt when its size cannot be read.
std::optional<std::uint64_t> fileMegabytes(const std::wstring& path) {
    const FileAttributeData data = platform().getFileAttributesExW(path);
    if (data.ok) {
        return data.size >> kMegabyteShift;
    }
    const bool absent = data.error == win::ERROR_FILE_NOT_FOUND_ || data.error == win::ERROR_PATH_NOT_FOUND_;
    return absent ? std::optional<std::uint64_t>(0) : std::nullopt;
}

// "Total MB" of the first Partition.ini section whose "Letter" is the key letter; 0 when none is.
std::int64_t recordedMegabytes(const std::wstring& letter) {
    const std::wstring iniPath = inventory::PartitionIniPath();
    std::int64_t recorded = 0;
    if (platform().pathFileExistsW(iniPath)) {
        const std::wstring key = letter.find(L':') == std::wstring::npos ? letter + L':' : letter;
        const int count = std::min(inventory::readCount(iniPath), inventory::kMaxSectionsRead);
        for (int index = 0; index < count; ++index) {
            const std::wstring section = std::to_wstring(index);
            if (equalsNoCase(inventory::readText(iniPath, section, inventory::kLetterKey, L"C:\\"), key)) {
                recorded = readStoredNumber(iniPath, section, inventory::kTotalKey).value_or(0);
                break;
            }
        }
    }
    platform().setFileAttributesW(iniPath, win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    return recorded;
}

// What the room the drive may have is made of: the free space beside the file, the file's own size and
// the cap.
struct Room {
    std::optional<std::uint64_t> freeMB;
    SizeCap cap;
    std::optional<std::uint64_t> fileMB;
};

Room roomFor(const std::wstring& vhdxPath) {
    return {FreeMegabytesOnDriveOf(vhdxPath), ReadSizeCap(), fileMegabytes(vhdxPath)};
}

}  // namespace

int CompareVHDXSize(const std::wstring& vhdxPath, const std::wstring& letter, std::uint32_t* newSizeMB) {
    const Room room = roomFor(vhdxPath);
    const std::int64_t recorded = recordedMegabytes(letter);
    // Taking an unknown size as none would shrink the drive to nothing.
    if (!room.freeMB) {
        logLine(L"(KvPartitionHelper)free space of the VHDX's drive is unknown, represents the same.\r\n");
        return 0;
    }
    if (!room.fileMB) {
        logLine(L"(KvPartitionHelper)size of the VHDX file is unknown, represents the same.\r\n");
        return 0;
    }
    // Both are byte counts shifted right by 20 bits, so their sum stays far below 2^63.
    auto available = static_cast<std::int64_t>(*room.fileMB + *room.freeMB);
    if (room.cap.kind == SizeCap::Kind::Limit) {
        available = std::min(available, room.cap.megabytes);
    }
    if (recorded == 0) {
        logLine(L"(KvPartitionHelper)not existed before, represents the same.\r\n");
        return 0;
    }
    const std::int64_t difference = available - recorded;
    if (std::abs(difference) < kSimilarMB) {
        logLine(L"(KvPartitionHelper)quite similar, represents the same.\r\n");
        return 0;
    }
    if (difference > 0) {
        // A VHDX's maximum cannot be taken back, so it never grows into a cap nobody knows.
        if (room.cap.kind == SizeCap::Kind::Unknown) {
            logLine(L"(KvPartitionHelper)size cap is unknown, the VHDX is not expanded.\r\n");
            return 0;
        }
        if (available > kLargestStoredNumber) {
            logLine(L"(KvPartitionHelper)new size is beyond 2147483647 MB, represents the same.\r\n");
            return 0;
        }
        logLine(L"(KvPartitionHelper)new size is bigger, we should expand the VHDX.\r\n");
        *newSizeMB = static_cast<std::uint32_t>(available);
        return static_cast<int>(difference);
    }
    // recorded is at most kLargestStoredNumber and available at least 0, so the shrink fits an int.
    logLine(L"(KvPartitionHelper)new size is smaller, we should shrink the VHDX.\r\n");
    return static_cast<int>(difference);
}

}  // namespace kvph
