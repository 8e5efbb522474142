#include "per/DriveDevice.h"

#include "per/ByteReader.h"
#include "per/GPTData.h"
#include "per/MBRData.h"
#include "per/RAWData.h"
#include "platform/WinConstants.h"

namespace PER {

namespace win = kvph::win;

namespace {

// DISK_GEOMETRY_EX followed by DISK_PARTITION_INFO: enough for the partition style.
constexpr std::uint32_t kGeometryWithPartitionInfoBytes =
    win::geometry::kSize + win::geometry::kPartitionInfoBytes;

}  // namespace

DriveDevice::DriveDevice(std::uint32_t driveNumber) : driveNumber_(driveNumber) {}

DriveDevice::~DriveDevice() {
    data_.reset();
}

bool DriveDevice::Open() {
    const kvph::HandleResult opened = kvph::platform().createFileA(
        GetPath(), DesiredAccess(), win::FILE_SHARE_READ_ | win::FILE_SHARE_WRITE_, win::OPEN_EXISTING_, 0);
    if (!TakeHandle(opened.handle)) {
        return false;
    }
    return DetectLayout();
}

bool DriveDevice::DetectLayout() {
    const kvph::IoResult geometry = kvph::platform().deviceIoControl(
        GetFileHandle(), win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, kGeometryWithPartitionInfoBytes);
    if (!geometry.ok) {
        return false;
    }
    const std::uint32_t style = ByteReader(geometry.output).u32(win::geometry::kPartitionStyle);
    data_ = MakeDriveData(style);
    data_->UseLetterMap(letters_);
    // A layout that cannot be read leaves an open drive with no records.
    data_->LoadLayout();
    return true;
}

std::unique_ptr<DriveData> DriveDevice::MakeDriveData(std::uint32_t partitionStyle) const {
    switch (partitionStyle) {
        case win::PARTITION_STYLE_GPT_:
            return std::make_unique<GPTData>(driveNumber_, BorrowHandle());
        case win::PARTITION_STYLE_MBR_:
            return std::make_unique<MBRData>(driveNumber_, BorrowHandle());
        default:
            return std::make_unique<RAWData>();
    }
}

}  // namespace PER
