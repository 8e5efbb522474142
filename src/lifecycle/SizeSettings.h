// The facts the VHDX drive's operations hand to one another between calls: the size cap of MaxSize.ini
// (library folder) and the volume's disk and partition of UserData.ini (data directory), and the
// resize decision and volume resizing built on them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "per/VolumeLocation.h"

namespace kvph {

inline constexpr wchar_t kMaxSizeFileName[] = L"MaxSize.ini";
inline constexpr wchar_t kUserDataFileName[] = L"UserData.ini";
inline constexpr wchar_t kSettingsSection[] = L"Main";
inline constexpr wchar_t kSizeKey[] = L"Size";
inline constexpr wchar_t kDiskKey[] = L"Disk";
inline constexpr wchar_t kPartitionKey[] = L"Partition";

std::wstring MaxSizeIniPath();
std::wstring UserDataIniPath();

// Replaces MaxSize.ini with the one "Size" key, then hides it.
void WriteMaxSize(int maximumMB);

// Free megabytes available to the caller on the drive that holds `path` ("D:" of "D:\vd\x.vhdx");
// 0 when that cannot be determined.
std::uint64_t FreeMegabytesOnDriveOf(const std::wstring& path);

// 0: keep the size; above 0: expand by that many MB to *newSizeMB; below 0: shrink by its absolute value.
int CompareVHDXSize(const std::wstring& vhdxPath, const std::wstring& letter, std::uint32_t* newSizeMB);

// Finds the volume carrying `letter` ("E", "E:" or "E:\") and records its disk and 1-based record
// position in UserData.ini. The location found, with diskpart's own partition number, or nullopt.
std::optional<PER::VolumeLocation> RecordVolumeLocation(const std::wstring& letter);
int RecordDiskPartition(const std::wstring& letter);

// Resize the volume carrying `letter` with a diskpart script on the disk and partition found by
// RecordDiskPartition in this same call; 0 without running anything when none was found.
int ShrinkPartition(const std::wstring& letter, int amountMB);
int ExtendPartition(const std::wstring& letter);

}  // namespace kvph
