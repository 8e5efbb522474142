#include "per/DriveManager.h"

#include <cstdio>

namespace PER {

namespace {

DriveManager*& sharedInstance() {
    static DriveManager* instance = nullptr;
    return instance;
}

constexpr std::size_t kDrivePathBytes = 32;

}  // namespace

DriveManager::DriveManager() = default;

DriveManager::~DriveManager() {
    Clear();
}

DriveManager* DriveManager::GetInstance() {
    DriveManager*& instance = sharedInstance();
    if (instance == nullptr) {
        instance = new DriveManager();
        instance->Clear();
        // Every user refreshes the manager right after taking it; the drives are probed then (or on the
        // first read), not twice.
        instance->enumerationPending_ = true;
    }
    return instance;
}

void DriveManager::ReleaseInstance() {
    DriveManager*& instance = sharedInstance();
    delete instance;
    instance = nullptr;
}

bool DriveManager::Enumerate() {
    Clear();
    letters_ = std::make_unique<DriveLetterMap>();
    probe_ = std::make_unique<Probe>();
    while (probe_->nextNumber < kMaxPhysicalDrives) {
        if (!probe_->device) {
            probe_->device = MakeDevice(probe_->nextNumber);
        }
        if (!probe_->device->Open()) {
            probe_->device.reset();
        }
        if (probe_->device) {
            drives_.push_back(std::move(probe_->device));
        }
        ++probe_->nextNumber;
    }
    return true;
}

void DriveManager::Clear() {
    enumerationPending_ = false;
    for (auto& drive : drives_) {
        drive.reset();
    }
    drives_.clear();
    if (probe_) {
        probe_->device.reset();
        probe_.reset();
    }
    letters_.reset();
}

std::size_t DriveManager::GetDriveCount() {
    EnsureEnumerated();
    return drives_.size();
}

DriveDevice* DriveManager::GetDrive(std::size_t position) {
    EnsureEnumerated();
    return position < drives_.size() ? drives_[position].get() : nullptr;
}

void DriveManager::EnsureEnumerated() {
    if (enumerationPending_) {
        Enumerate();
    }
}

std::unique_ptr<DriveDevice> DriveManager::MakeDevice(std::uint32_t number) {
    char path[kDrivePathBytes];
    std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", static_cast<int>(number));
    auto device = std::make_unique<DriveDevice>(number);
    device->SetPath(path);
    // Every control code the drives are asked is FILE_ANY_ACCESS: reading is all enumeration needs.
    device->SetReadOnly(true);
    device->UseLetterMap(letters_.get());
    return device;
}

}  // namespace PER
