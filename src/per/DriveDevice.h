// One physical drive "\\.\PhysicalDriveN": opening it detects its partition style and builds the
// partition data it then owns.
#pragma once

#include <cstdint>
#include <memory>

#include "per/DriveData.h"
#include "per/File.h"

namespace PER {

class DriveLetterMap;

class DriveDevice : public File {
public:
    explicit DriveDevice(std::uint32_t driveNumber);
    // The partition data goes before the handle it borrows is closed.
    ~DriveDevice() override;

    // Opens the drive (shared read and write, existing device, no flags) and reads its layout: true when
    // the geometry could be read, even if the layout could not.
    bool Open();

    DriveData* GetDriveData() const { return data_.get(); }
    std::uint32_t GetDriveNumber() const { return driveNumber_; }

    // The letter map the partition data will use; it must outlive the device.
    void UseLetterMap(DriveLetterMap* letters) { letters_ = letters; }

private:
    bool DetectLayout();
    std::unique_ptr<DriveData> MakeDriveData(std::uint32_t partitionStyle) const;

    std::uint32_t driveNumber_;
    std::unique_ptr<DriveData> data_;
    DriveLetterMap* letters_ = nullptr;
};

}  // namespace PER
