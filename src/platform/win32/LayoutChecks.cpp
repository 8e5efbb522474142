// The values and byte offsets of WinConstants.h, which the library's readers decode with, checked against
// the platform's own headers. Nothing here runs: a mismatch stops the build.
#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>
#include <ntddstor.h>

#include <cstddef>

#include "platform/WinConstants.h"

namespace {

namespace win = kvph::win;
namespace geometry = kvph::win::geometry;
namespace layout = kvph::win::layout;
namespace partition = kvph::win::partition;
namespace storage = kvph::win::storage;
namespace ata = kvph::win::ata;

// Control codes.
static_assert(win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_ == IOCTL_DISK_GET_DRIVE_GEOMETRY_EX);
static_assert(win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_ == IOCTL_DISK_GET_DRIVE_LAYOUT_EX);
static_assert(win::IOCTL_STORAGE_QUERY_PROPERTY_ == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(win::IOCTL_ATA_PASS_THROUGH_ == IOCTL_ATA_PASS_THROUGH);

static_assert(win::WC_NO_BEST_FIT_CHARS_ == WC_NO_BEST_FIT_CHARS);
static_assert(win::ERROR_INVALID_FLAGS_ == ERROR_INVALID_FLAGS);
static_assert(win::MOVEFILE_REPLACE_EXISTING_ == MOVEFILE_REPLACE_EXISTING);
static_assert(win::MOVEFILE_WRITE_THROUGH_ == MOVEFILE_WRITE_THROUGH);

// Partition styles and bus types.
static_assert(win::PARTITION_STYLE_MBR_ == PARTITION_STYLE_MBR);
static_assert(win::PARTITION_STYLE_GPT_ == PARTITION_STYLE_GPT);
static_assert(win::PARTITION_STYLE_RAW_ == PARTITION_STYLE_RAW);
static_assert(storage::BusTypeUsb == BusTypeUsb);
static_assert(storage::BusTypeMmc == BusTypeMmc);
static_assert(storage::BusTypeFileBackedVirtual == BusTypeFileBackedVirtual);
static_assert(storage::BusTypeNvme == BusTypeNvme);

// DISK_GEOMETRY_EX and the DISK_PARTITION_INFO after it.
static_assert(geometry::kCylinders == offsetof(DISK_GEOMETRY_EX, Geometry.Cylinders));
static_assert(geometry::kMediaType == offsetof(DISK_GEOMETRY_EX, Geometry.MediaType));
static_assert(geometry::kTracksPerCylinder == offsetof(DISK_GEOMETRY_EX, Geometry.TracksPerCylinder));
static_assert(geometry::kSectorsPerTrack == offsetof(DISK_GEOMETRY_EX, Geometry.SectorsPerTrack));
static_assert(geometry::kBytesPerSector == offsetof(DISK_GEOMETRY_EX, Geometry.BytesPerSector));
static_assert(geometry::kDiskSize == offsetof(DISK_GEOMETRY_EX, DiskSize));
static_assert(geometry::kSize == offsetof(DISK_GEOMETRY_EX, Data));
static_assert(geometry::kPartitionInfoBytes == sizeof(DISK_PARTITION_INFO));
static_assert(geometry::kPartitionInfoSize ==
              geometry::kSize + offsetof(DISK_PARTITION_INFO, SizeOfPartitionInfo));
static_assert(geometry::kPartitionStyle == geometry::kSize + offsetof(DISK_PARTITION_INFO, PartitionStyle));
static_assert(geometry::kMbrSignature == geometry::kSize + offsetof(DISK_PARTITION_INFO, Mbr.Signature));
static_assert(geometry::kMbrCheckSum == geometry::kSize + offsetof(DISK_PARTITION_INFO, Mbr.CheckSum));
static_assert(geometry::kGptDiskId == geometry::kSize + offsetof(DISK_PARTITION_INFO, Gpt.DiskId));

// DRIVE_LAYOUT_INFORMATION_EX.
static_assert(layout::kPartitionStyle == offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionStyle));
static_assert(layout::kPartitionCount == offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount));
static_assert(layout::kMbrSignature == offsetof(DRIVE_LAYOUT_INFORMATION_EX, Mbr.Signature));
// mingw-w64 declares neither CheckSum nor IsServicePartition; each follows its neighbour.
static_assert(layout::kMbrCheckSum == offsetof(DRIVE_LAYOUT_INFORMATION_EX, Mbr.Signature) +
                                          sizeof(DRIVE_LAYOUT_INFORMATION_MBR::Signature));
static_assert(layout::kGptDiskId == offsetof(DRIVE_LAYOUT_INFORMATION_EX, Gpt.DiskId));
static_assert(layout::kGptStartingUsableOffset ==
              offsetof(DRIVE_LAYOUT_INFORMATION_EX, Gpt.StartingUsableOffset));
static_assert(layout::kGptUsableLength == offsetof(DRIVE_LAYOUT_INFORMATION_EX, Gpt.UsableLength));
static_assert(layout::kGptMaxPartitionCount == offsetof(DRIVE_LAYOUT_INFORMATION_EX, Gpt.MaxPartitionCount));
static_assert(layout::kHeaderSize == offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry));
static_assert(layout::kEntrySize == sizeof(PARTITION_INFORMATION_EX));

// PARTITION_INFORMATION_EX with its MBR and GPT members.
static_assert(partition::kPartitionStyle == offsetof(PARTITION_INFORMATION_EX, PartitionStyle));
static_assert(partition::kStartingOffset == offsetof(PARTITION_INFORMATION_EX, StartingOffset));
static_assert(partition::kPartitionLength == offsetof(PARTITION_INFORMATION_EX, PartitionLength));
static_assert(partition::kPartitionNumber == offsetof(PARTITION_INFORMATION_EX, PartitionNumber));
static_assert(partition::kRewritePartition == offsetof(PARTITION_INFORMATION_EX, RewritePartition));
static_assert(partition::kIsServicePartition == offsetof(PARTITION_INFORMATION_EX, RewritePartition) +
                                                    sizeof(PARTITION_INFORMATION_EX::RewritePartition));
static_assert(partition::kUnion == offsetof(PARTITION_INFORMATION_EX, Mbr));
static_assert(partition::kUnion == offsetof(PARTITION_INFORMATION_EX, Gpt));
static_assert(partition::kMbrPartitionType == offsetof(PARTITION_INFORMATION_EX, Mbr.PartitionType));
static_assert(partition::kMbrBootIndicator == offsetof(PARTITION_INFORMATION_EX, Mbr.BootIndicator));
static_assert(partition::kMbrRecognizedPartition ==
              offsetof(PARTITION_INFORMATION_EX, Mbr.RecognizedPartition));
static_assert(partition::kMbrHiddenSectors == offsetof(PARTITION_INFORMATION_EX, Mbr.HiddenSectors));
static_assert(partition::kMbrPartitionId == offsetof(PARTITION_INFORMATION_EX, Mbr.PartitionId));
static_assert(partition::kGptPartitionType == offsetof(PARTITION_INFORMATION_EX, Gpt.PartitionType));
static_assert(partition::kGptPartitionId == offsetof(PARTITION_INFORMATION_EX, Gpt.PartitionId));
static_assert(partition::kGptAttributes == offsetof(PARTITION_INFORMATION_EX, Gpt.Attributes));
static_assert(partition::kGptName == offsetof(PARTITION_INFORMATION_EX, Gpt.Name));
static_assert(partition::kGptNameChars == sizeof(PARTITION_INFORMATION_GPT::Name) / sizeof(WCHAR));

// STORAGE_PROPERTY_QUERY and STORAGE_DEVICE_DESCRIPTOR.
static_assert(storage::kQuerySize == sizeof(STORAGE_PROPERTY_QUERY));
static_assert(storage::kDescriptorRemovable == offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia));
static_assert(storage::kDescriptorBusType == offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType));
static_assert(storage::kDescriptorFixedSize == sizeof(STORAGE_DEVICE_DESCRIPTOR));

// ATA_PASS_THROUGH_EX.
static_assert(ata::kLength == offsetof(ATA_PASS_THROUGH_EX, Length));
static_assert(ata::kAtaFlags == offsetof(ATA_PASS_THROUGH_EX, AtaFlags));
static_assert(ata::kPathId == offsetof(ATA_PASS_THROUGH_EX, PathId));
static_assert(ata::kTargetId == offsetof(ATA_PASS_THROUGH_EX, TargetId));
static_assert(ata::kLun == offsetof(ATA_PASS_THROUGH_EX, Lun));
static_assert(ata::kDataTransferLength == offsetof(ATA_PASS_THROUGH_EX, DataTransferLength));
static_assert(ata::kTimeOutValue == offsetof(ATA_PASS_THROUGH_EX, TimeOutValue));
static_assert(ata::kDataBufferOffset == offsetof(ATA_PASS_THROUGH_EX, DataBufferOffset));
static_assert(ata::kPreviousTaskFile == offsetof(ATA_PASS_THROUGH_EX, PreviousTaskFile));
static_assert(ata::kCurrentTaskFile == offsetof(ATA_PASS_THROUGH_EX, CurrentTaskFile));
static_assert(ata::kHeaderSize == sizeof(ATA_PASS_THROUGH_EX));
static_assert(ata::ATA_FLAGS_DRDY_REQUIRED_ == ATA_FLAGS_DRDY_REQUIRED);
static_assert(ata::ATA_FLAGS_DATA_IN_ == ATA_FLAGS_DATA_IN);
static_assert(ata::IDE_COMMAND_IDENTIFY_ == ID_CMD);

}  // namespace
