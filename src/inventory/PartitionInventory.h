// Partition.ini: the inventory of lettered volumes that PH_ListFixedPartition rebuilds and that the
// VHDX operations read to find their drive. Written and read only through the private-profile calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"

namespace kvph::inventory {

inline constexpr wchar_t kFileName[] = L"Partition.ini";
inline constexpr wchar_t kMainSection[] = L"Main";
inline constexpr wchar_t kCountKey[] = L"Count";

// Keys of a volume section, in the order the listing writes them.
inline constexpr wchar_t kLetterKey[] = L"Letter";
inline constexpr wchar_t kFileSystemKey[] = L"File System";
inline constexpr wchar_t kLabelKey[] = L"Label Name";
inline constexpr wchar_t kDiskTypeKey[] = L"Disk Type";
inline constexpr wchar_t kPartitionIdKey[] = L"Partition ID";
inline constexpr wchar_t kPartitionTypeKey[] = L"Partition Type";
inline constexpr wchar_t kTotalKey[] = L"Total MB";
inline constexpr wchar_t kFreeKey[] = L"Free MB";
inline constexpr wchar_t kDiskPartitionKey[] = L"Disk-Partition";
inline constexpr wchar_t kSsdKey[] = L"SSD";
inline constexpr wchar_t kBusTypeKey[] = L"BusType";
inline constexpr wchar_t kDriveTypeKey[] = L"Drive Type";
inline constexpr wchar_t kReadOnlyKey[] = L"ReadOnlyVolume";

inline constexpr const wchar_t* kVolumeKeys[] = {
    kLetterKey, kFileSystemKey,    kLabelKey, kDiskTypeKey, kPartitionIdKey, kPartitionTypeKey, kTotalKey,
    kFreeKey,   kDiskPartitionKey, kSsdKey,   kBusTypeKey,  kDriveTypeKey,   kReadOnlyKey};

// The label the host gives its VHDX drive's volume.
inline constexpr wchar_t kVirtualDiskLabel[] = L"Duskvale";

// A drive letter names one volume, so a listing writes at most 26 sections; readers never look past
// this many, however large a damaged "Count" claims the file to be.
constexpr int kMaxSectionsRead = 1024;

// The full path of Partition.ini: the library's own folder plus the file name.
std::wstring PartitionIniPath();

// The text of `key` in `section`, read as the library's readers do (260-unit buffer).
std::wstring readText(const std::wstring& iniPath, const std::wstring& section, const std::wstring& key,
                      const std::wstring& defaultValue);

// "Count" of section "Main" as the signed number the file holds (0 when missing).
int readCount(const std::wstring& iniPath);

// The 0-based index of the section that holds the VHDX drive's volume. When the disk that diskpart lists
// the drive on is known, the first section on that disk ("Disk-Partition" "N,..."), whatever its label or
// shape. Otherwise the first section whose label is the drive's label on an MBR disk; when there is none,
// the first whose partition has the shape the drive's volume is created with (an NTFS primary partition
// at sector 2048 or 128 of a fixed file-backed virtual disk).
std::optional<int> FindVirtualDiskEntry(const std::wstring& iniPath,
                                        std::optional<int> diskNumber = std::nullopt);

// STORAGE_BUS_TYPE of a physical drive, through its open handle; kBusTypeUnknown when the drive does not
// answer, so that it counts as neither USB, NVMe/eMMC nor file-backed virtual.
inline constexpr std::uint32_t kBusTypeUnknown = 0;
std::uint32_t QueryBusType(Handle device);

// 16 GUID bytes as 36 upper-case hexadecimal characters in 8-4-4-4-12 groups, without braces. nullopt
// (after logging "GUID change error") when the system cannot produce the text.
std::optional<std::wstring> GuidToText(const std::uint8_t (&guid)[16]);

// The read-only state handed to the host from a "ReadOnlyVolume" text, read the way the C runtime's
// _wtof reads a number: leading white space, a sign, then a decimal or "0x" hexadecimal number up to the
// first character that does not fit; no number gives 0. The value is truncated toward zero to 64 bits
// and its low 32 bits are the state, so "0xffffffff" gives -1.
std::int32_t ReadOnlyStateFromText(const std::wstring& text);

}  // namespace kvph::inventory
