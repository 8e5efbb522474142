// Portable values and byte layouts of the Windows API that the library relies on. The library's logic
// includes this instead of <windows.h>; the names are the platform's own so they can be looked up.
#pragma once

#include <cstdint>

namespace kvph::win {

// Last-error codes.
constexpr std::uint32_t ERROR_SUCCESS_ = 0;
constexpr std::uint32_t ERROR_FILE_NOT_FOUND_ = 2;
constexpr std::uint32_t ERROR_PATH_NOT_FOUND_ = 3;
constexpr std::uint32_t ERROR_ACCESS_DENIED_ = 5;
constexpr std::uint32_t ERROR_INVALID_HANDLE_ = 6;
constexpr std::uint32_t ERROR_NOT_READY_ = 21;
constexpr std::uint32_t ERROR_WRITE_FAULT_ = 29;
constexpr std::uint32_t ERROR_NOT_SUPPORTED_ = 50;
constexpr std::uint32_t ERROR_INVALID_PARAMETER_ = 87;
constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER_ = 122;
constexpr std::uint32_t ERROR_INVALID_FUNCTION_ = 1;
constexpr std::uint32_t ERROR_MORE_DATA_ = 234;
constexpr std::uint32_t ERROR_FILE_EXISTS_ = 80;
constexpr std::uint32_t ERROR_ALREADY_EXISTS_ = 183;
constexpr std::uint32_t ERROR_INVALID_FLAGS_ = 1004;

// File access, sharing, disposition and attributes.
constexpr std::uint32_t GENERIC_READ_ = 0x80000000u;
constexpr std::uint32_t GENERIC_WRITE_ = 0x40000000u;
constexpr std::uint32_t GENERIC_EXECUTE_ = 0x20000000u;
constexpr std::uint32_t FILE_SHARE_READ_ = 0x1;
constexpr std::uint32_t FILE_SHARE_WRITE_ = 0x2;
constexpr std::uint32_t CREATE_NEW_ = 1;
constexpr std::uint32_t CREATE_ALWAYS_ = 2;
constexpr std::uint32_t OPEN_EXISTING_ = 3;
constexpr std::uint32_t OPEN_ALWAYS_ = 4;
constexpr std::uint32_t FILE_ATTRIBUTE_READONLY_ = 0x1;
constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN_ = 0x2;
constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM_ = 0x4;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY_ = 0x10;
constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE_ = 0x20;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL_ = 0x80;
constexpr std::uint32_t FILE_FLAG_WRITE_THROUGH_ = 0x80000000u;
constexpr std::uint32_t FILE_FLAG_RANDOM_ACCESS_ = 0x10000000u;
constexpr std::uint32_t MOVEFILE_REPLACE_EXISTING_ = 0x1;
constexpr std::uint32_t MOVEFILE_WRITE_THROUGH_ = 0x8;

// SECURITY_INFORMATION bits for SetNamedSecurityInfoW.
constexpr std::uint32_t OWNER_SECURITY_INFORMATION_ = 0x1;
constexpr std::uint32_t DACL_SECURITY_INFORMATION_ = 0x4;
constexpr std::uint32_t PROTECTED_DACL_SECURITY_INFORMATION_ = 0x80000000u;

// Processes and waits.
constexpr std::uint32_t CREATE_NO_WINDOW_ = 0x08000000u;
constexpr std::uint32_t INFINITE_ = 0xFFFFFFFFu;
constexpr std::uint32_t WAIT_OBJECT_0_ = 0;
constexpr std::uint32_t WAIT_ABANDONED_ = 0x80;
constexpr std::uint32_t WAIT_FAILED_ = 0xFFFFFFFFu;
constexpr int SW_HIDE_ = 0;

// WideCharToMultiByte flags.
constexpr std::uint32_t WC_NO_BEST_FIT_CHARS_ = 0x400;

// Registry access rights and value types.
constexpr std::uint32_t KEY_QUERY_VALUE_ = 0x1;
constexpr std::uint32_t KEY_SET_VALUE_ = 0x2;
constexpr std::uint32_t REG_DWORD_ = 4;

// Shell folders.
constexpr int CSIDL_COMMON_APPDATA_ = 0x23;

// GetDriveTypeW.
constexpr std::uint32_t DRIVE_UNKNOWN_ = 0;
constexpr std::uint32_t DRIVE_NO_ROOT_DIR_ = 1;
constexpr std::uint32_t DRIVE_REMOVABLE_ = 2;
constexpr std::uint32_t DRIVE_FIXED_ = 3;
constexpr std::uint32_t DRIVE_REMOTE_ = 4;
constexpr std::uint32_t DRIVE_CDROM_ = 5;
constexpr std::uint32_t DRIVE_RAMDISK_ = 6;

// Volume flags.
constexpr std::uint32_t FILE_READ_ONLY_VOLUME_ = 0x00080000u;

// Native object calls.
constexpr std::uint32_t OBJ_CASE_INSENSITIVE_ = 0x40;
constexpr std::uint32_t SYMBOLIC_LINK_QUERY_ = 0x1;
constexpr std::int32_t STATUS_SUCCESS_ = 0;
constexpr std::int32_t STATUS_OBJECT_NAME_NOT_FOUND_ = static_cast<std::int32_t>(0xC0000034u);
constexpr std::int32_t STATUS_BUFFER_TOO_SMALL_ = static_cast<std::int32_t>(0xC0000023u);
constexpr std::int32_t STATUS_INVALID_HANDLE_ = static_cast<std::int32_t>(0xC0000008u);

// Device control codes (all FILE_ANY_ACCESS).
constexpr std::uint32_t IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_ = 0x000700A0u;
constexpr std::uint32_t IOCTL_DISK_GET_DRIVE_LAYOUT_EX_ = 0x00070050u;
constexpr std::uint32_t IOCTL_STORAGE_QUERY_PROPERTY_ = 0x002D1400u;
constexpr std::uint32_t IOCTL_ATA_PASS_THROUGH_ = 0x0004D02Cu;

// PARTITION_STYLE.
constexpr std::uint32_t PARTITION_STYLE_MBR_ = 0;
constexpr std::uint32_t PARTITION_STYLE_GPT_ = 1;
constexpr std::uint32_t PARTITION_STYLE_RAW_ = 2;

// DISK_GEOMETRY_EX (followed by DISK_PARTITION_INFO and DISK_DETECTION_INFO).
namespace geometry {
constexpr std::uint32_t kCylinders = 0;           // LARGE_INTEGER
constexpr std::uint32_t kMediaType = 8;           // u32
constexpr std::uint32_t kTracksPerCylinder = 12;  // u32
constexpr std::uint32_t kSectorsPerTrack = 16;    // u32
constexpr std::uint32_t kBytesPerSector = 20;     // u32
constexpr std::uint32_t kDiskSize = 24;           // i64
constexpr std::uint32_t kSize = 32;               // DISK_GEOMETRY_EX up to its Data[] member
// DISK_PARTITION_INFO right after DiskSize.
constexpr std::uint32_t kPartitionInfoSize = 32;   // SizeOfPartitionInfo, u32
constexpr std::uint32_t kPartitionStyle = 36;      // u32
constexpr std::uint32_t kMbrSignature = 40;        // u32 (MBR)
constexpr std::uint32_t kMbrCheckSum = 44;         // u32 (MBR)
constexpr std::uint32_t kGptDiskId = 40;           // GUID (GPT)
constexpr std::uint32_t kPartitionInfoBytes = 24;  // sizeof(DISK_PARTITION_INFO)
}  // namespace geometry

// DRIVE_LAYOUT_INFORMATION_EX.
namespace layout {
constexpr std::uint32_t kPartitionStyle = 0;            // u32
constexpr std::uint32_t kPartitionCount = 4;            // u32
constexpr std::uint32_t kMbrSignature = 8;              // u32
constexpr std::uint32_t kMbrCheckSum = 12;              // u32
constexpr std::uint32_t kGptDiskId = 8;                 // GUID
constexpr std::uint32_t kGptStartingUsableOffset = 24;  // i64
constexpr std::uint32_t kGptUsableLength = 32;          // i64
constexpr std::uint32_t kGptMaxPartitionCount = 40;     // u32
constexpr std::uint32_t kHeaderSize = 48;               // offset of the first PARTITION_INFORMATION_EX
constexpr std::uint32_t kEntrySize = 144;               // sizeof(PARTITION_INFORMATION_EX)
}  // namespace layout

// PARTITION_INFORMATION_EX.
namespace partition {
constexpr std::uint32_t kPartitionStyle = 0;       // u32
constexpr std::uint32_t kStartingOffset = 8;       // i64
constexpr std::uint32_t kPartitionLength = 16;     // i64
constexpr std::uint32_t kPartitionNumber = 24;     // u32
constexpr std::uint32_t kRewritePartition = 28;    // u8
constexpr std::uint32_t kIsServicePartition = 29;  // u8
constexpr std::uint32_t kUnion = 32;               // PARTITION_INFORMATION_MBR / _GPT
// PARTITION_INFORMATION_MBR.
constexpr std::uint32_t kMbrPartitionType = 32;        // u8
constexpr std::uint32_t kMbrBootIndicator = 33;        // u8
constexpr std::uint32_t kMbrRecognizedPartition = 34;  // u8
constexpr std::uint32_t kMbrHiddenSectors = 36;        // u32
constexpr std::uint32_t kMbrPartitionId = 40;          // GUID
// PARTITION_INFORMATION_GPT.
constexpr std::uint32_t kGptPartitionType = 32;  // GUID
constexpr std::uint32_t kGptPartitionId = 48;    // GUID
constexpr std::uint32_t kGptAttributes = 64;     // u64
constexpr std::uint32_t kGptName = 72;           // 36 WCHAR
constexpr std::uint32_t kGptNameChars = 36;
}  // namespace partition

// STORAGE_PROPERTY_QUERY / STORAGE_DEVICE_DESCRIPTOR.
namespace storage {
constexpr std::uint32_t kQuerySize = 12;            // PropertyId, QueryType, AdditionalParameters[1] padded
constexpr std::uint32_t kDescriptorBusType = 28;    // u32
constexpr std::uint32_t kDescriptorRemovable = 10;  // u8 RemovableMedia
constexpr std::uint32_t kDescriptorFixedSize = 40;  // through RawDeviceProperties[0] padded
constexpr std::uint32_t BusTypeUsb = 7;
constexpr std::uint32_t BusTypeMmc = 13;
constexpr std::uint32_t BusTypeFileBackedVirtual = 15;
constexpr std::uint32_t BusTypeNvme = 17;
}  // namespace storage

// ATA_PASS_THROUGH_EX followed by a 512-byte data area.
namespace ata {
constexpr std::uint32_t kLength = 0;              // u16
constexpr std::uint32_t kAtaFlags = 2;            // u16
constexpr std::uint32_t kPathId = 4;              // u8
constexpr std::uint32_t kTargetId = 5;            // u8
constexpr std::uint32_t kLun = 6;                 // u8
constexpr std::uint32_t kDataTransferLength = 8;  // u32
constexpr std::uint32_t kTimeOutValue = 12;       // u32
constexpr std::uint32_t kDataBufferOffset = 24;   // ULONG_PTR (8 bytes on x64)
constexpr std::uint32_t kPreviousTaskFile = 32;   // 8 bytes
constexpr std::uint32_t kCurrentTaskFile = 40;    // 8 bytes; byte 6 is the command register
constexpr std::uint32_t kHeaderSize = 48;
constexpr std::uint32_t kDataSize = 512;
constexpr std::uint16_t ATA_FLAGS_DRDY_REQUIRED_ = 0x1;
constexpr std::uint16_t ATA_FLAGS_DATA_IN_ = 0x2;
constexpr std::uint8_t IDE_COMMAND_IDENTIFY_ = 0xEC;
constexpr std::uint32_t kRotationRateWord = 217;
}  // namespace ata

}  // namespace kvph::win
