#include <algorithm>
#include <cstdlib>

#include "frame/Log.h"
#include "frame/Text.h"
#include "inventory/PartitionInventory.h"
#include "lifecycle/SizeSettings.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr unsigned kMegabyteShift = 20;
constexpr int kSimilarMB = 10;  // differences below this many MB are not worth a resize

std::uint64_t fileMegabytes(const std::wstring& path) {
    const FileAttributeData data = platform().getFileAttributesExW(path);
    return data.ok ? data.size >> kMegabyteShift : 0;
}

// "Size" read as a leading decimal integer: white space, a sign, digits; anything else reads as 0.
long readSizeCap() {
    const std::wstring text = inventory::readText(MaxSizeIniPath(), kSettingsSection, kSizeKey, L"0");
    return std::wcstol(text.c_str(), nullptr, 10);
}

// "Total MB" of the first Partition.ini section whose "Letter" is the key letter; 0 when none is.
std::uint64_t recordedMegabytes(const std::wstring& letter) {
    const std::wstring iniPath = inventory::PartitionIniPath();
    std::uint64_t recorded = 0;
    if (platform().pathFileExistsW(iniPath)) {
        const std::wstring key = letter.find(L':') == std::wstring::npos ? letter + L':' : letter;
        const int count = std::min(inventory::readCount(iniPath), inventory::kMaxSectionsRead);
        for (int index = 0; index < count; ++index) {
            const std::wstring section = std::to_wstring(index);
            if (equalsNoCase(inventory::readText(iniPath, section, inventory::kLetterKey, L"C:\\"), key)) {
                recorded = platform().getPrivateProfileIntW(section, inventory::kTotalKey, 0, iniPath);
                break;
            }
        }
    }
    platform().setFileAttributesW(iniPath, win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    return recorded;
}

}  // namespace

int CompareVHDXSize(const std::wstring& vhdxPath, const std::wstring& letter, std::uint32_t* newSizeMB) {
    std::uint64_t available = fileMegabytes(vhdxPath) + FreeMegabytesOnDriveOf(vhdxPath);
    const long cap = readSizeCap();
    if (cap > 0) {
        available = std::min<std::uint64_t>(available, static_cast<std::uint64_t>(cap));
    }
    const std::uint64_t recorded = recordedMegabytes(letter);
    if (recorded == 0) {
        logLine(L"(KvPartitionHelper)not existed before, represents the same.\r\n");
        return 0;
    }
    const auto difference = static_cast<std::int32_t>(static_cast<std::uint32_t>(available - recorded));
    if (std::abs(static_cast<long long>(difference)) < kSimilarMB) {
        logLine(L"(KvPartitionHelper)quite similar, represents the same.\r\n");
        return 0;
    }
    if (available > recorded) {
        logLine(L"(KvPartitionHelper)new size is bigger, we should expand the VHDX.\r\n");
        *newSizeMB = static_cast<std::uint32_t>(available);
        return difference;
    }
    logLine(L"(KvPartitionHelper)new size is smaller, we should shrink the VHDX.\r\n");
    return difference;
}

}  // namespace kvph
