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

// Replaces MaxSize.ini with the one "Size" key, then hides it. When it cannot, no MaxSize.ini is left.
void WriteMaxSize(int maximumMB);

// MaxSize.ini's "Size": a cap when above 0; no cap when 0 or below, what the create stores when it was
// given no maximum; unknown when there is no file or no readable number in it.
struct SizeCap {
    enum class Kind { Unknown, None, Limit };
    Kind kind = Kind::Unknown;
    std::int64_t megabytes = 0;  // the cap, for Kind::Limit
};
SizeCap ReadSizeCap();

// Free megabytes available to the caller on the drive that holds `path` ("D:" of "D:\vd\x.vhdx");
// nullopt when that cannot be determined: the query fails, or the path has no drive component (a UNC
// path, a relative path).
std::optional<std::uint64_t> FreeMegabytesOnDriveOf(const std::wstring& path);

// The largest number the INI files may hold and a script may carry: INT_MAX, what "%d" writes.
constexpr std::int64_t kLargestStoredNumber = 2147483647;

// A number the library wrote into one of its INI files and reads back: whole decimal digits from 0 to
// kLargestStoredNumber. Anything else (a sign, other characters, too many digits) reads as absent, with
// one log line naming the file and key; an empty or missing value reads as absent without one.
std::optional<std::int64_t> readStoredNumber(const std::wstring& iniPath, const std::wstring& section,
                                             const std::wstring& key);

// 0: keep the size; above 0: expand by that many MB to *newSizeMB; below 0: shrink by its absolute value.
int CompareVHDXSize(const std::wstring& vhdxPath, const std::wstring& letter, std::uint32_t* newSizeMB);

// Finds the volume carrying `letter` ("E", "E:" or "E:\") and records its disk and 1-based record
// position in UserData.ini. The location found, with diskpart's own partition number, or nullopt; the
// resize acts on what it found even when UserData.ini could not be written.
std::optional<PER::VolumeLocation> RecordVolumeLocation(const std::wstring& letter);
// 1 when the volume was found and UserData.ini written with both keys.
int RecordDiskPartition(const std::wstring& letter);

// Resize the volume carrying `letter` with a diskpart script on the disk and partition found by
// RecordDiskPartition in this same call; 0 without running anything when none was found.
int ShrinkPartition(const std::wstring& letter, int amountMB);
int ExtendPartition(const std::wstring& letter);

}  // namespace kvph
