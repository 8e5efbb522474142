#include "inventory/PartitionInventory.h"

#include <algorithm>

#include "frame/Folders.h"
#include "frame/Log.h"
#include "frame/Text.h"
#include "platform/Platform.h"

namespace kvph::inventory {

namespace {

constexpr std::size_t kBracedGuidLength = 38;

// The partition shapes the VHDX drive's volume is created with: a recognized, non-boot primary of
// type 0x07 that starts 2048 or 128 sectors into the disk.
constexpr const wchar_t* kVirtualDiskShapes[] = {L"00010007-0800", L"00010007-0080"};

struct SectionFacts {
    std::wstring label;
    std::wstring diskType;
    std::wstring busType;
    std::wstring partitionType;
    std::wstring driveType;
};

SectionFacts readSectionFacts(const std::wstring& iniPath, const std::wstring& section) {
    return {readText(iniPath, section, kLabelKey, L""), readText(iniPath, section, kDiskTypeKey, L""),
            readText(iniPath, section, kBusTypeKey, L""), readText(iniPath, section, kPartitionTypeKey, L""),
            readText(iniPath, section, kDriveTypeKey, L"")};
}

bool matchesLabelRule(const SectionFacts& facts) {
    return equalsNoCase(facts.label, kVirtualDiskLabel) && equalsNoCase(facts.diskType, L"MBR");
}

bool matchesShapeRule(const SectionFacts& facts) {
    const bool shaped = std::any_of(
        std::begin(kVirtualDiskShapes), std::end(kVirtualDiskShapes),
        [&](const wchar_t* shape) { return facts.partitionType.find(shape) != std::wstring::npos; });
    return shaped && equalsNoCase(facts.diskType, L"MBR") && equalsNoCase(facts.busType, L"15") &&
           equalsNoCase(facts.driveType, L"Fixed");
}

// The drive number of a "Disk-Partition" text "%d,%d"; nullopt for any other text.
std::optional<int> diskOf(const std::wstring& diskPartition) {
    constexpr std::size_t kMaxDigits = 9;
    const std::size_t comma = diskPartition.find(L',');
    const auto isNumber = [](const std::wstring& text) {
        return !text.empty() && text.size() <= kMaxDigits &&
               std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    };
    if (comma == std::wstring::npos || !isNumber(diskPartition.substr(0, comma)) ||
        !isNumber(diskPartition.substr(comma + 1))) {
        return std::nullopt;
    }
    return std::stoi(diskPartition.substr(0, comma));
}

std::optional<int> firstSectionOnDisk(const std::wstring& iniPath, int count, int diskNumber) {
    for (int index = 0; index < count; ++index) {
        if (diskOf(readText(iniPath, std::to_wstring(index), kDiskPartitionKey, L"")) == diskNumber) {
            return index;
        }
    }
    return std::nullopt;
}

}  // namespace

std::wstring PartitionIniPath() {
    return LibraryFolder() + kFileName;
}

std::wstring readText(const std::wstring& iniPath, const std::wstring& section, const std::wstring& key,
                      const std::wstring& defaultValue) {
    return platform().getPrivateProfileStringW(section, key, defaultValue,
                                               static_cast<std::uint32_t>(kTextUnits), iniPath);
}

int readCount(const std::wstring& iniPath) {
    // GetPrivateProfileIntW hands a negative number back as its two's-complement UINT.
    return static_cast<int>(platform().getPrivateProfileIntW(kMainSection, kCountKey, 0, iniPath));
}

std::optional<int> FindVirtualDiskEntry(const std::wstring& iniPath, std::optional<int> diskNumber) {
    if (!platform().pathFileExistsW(iniPath)) {
        return std::nullopt;
    }
    const int count = std::min(readCount(iniPath), kMaxSectionsRead);
    // The disk tells two virtual disks, or the drive and a stick with its label, apart; the label and
    // shape only guess.
    if (diskNumber) {
        return firstSectionOnDisk(iniPath, count, *diskNumber);
    }
    // The drive's own label wins over the shape: another attached virtual disk of diskpart's default
    // shape must not answer for the VHDX drive.
    std::optional<int> firstShaped;
    for (int index = 0; index < count; ++index) {
        const SectionFacts facts = readSectionFacts(iniPath, std::to_wstring(index));
        if (matchesLabelRule(facts)) {
            return index;
        }
        if (!firstShaped && matchesShapeRule(facts)) {
            firstShaped = index;
        }
    }
    return firstShaped;
}

std::optional<std::wstring> GuidToText(const std::uint8_t (&guid)[16]) {
    std::uint32_t error = 0;
    const std::optional<std::wstring> braced = platform().stringFromCLSID(guid, error);
    if (!braced || braced->size() != kBracedGuidLength || braced->front() != L'{' || braced->back() != L'}') {
        logLine(L"GUID change error");
        return std::nullopt;
    }
    return braced->substr(1, kBracedGuidLength - 2);
}

}  // namespace kvph::inventory
