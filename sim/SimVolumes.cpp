#include "Machine.h"
#include "platform/WinConstants.h"

namespace sim {

std::optional<Machine::MountedVolume> Machine::volumeByLetter(wchar_t) const { return std::nullopt; }

kvph::VolumeInformation Machine::getVolumeInformationW(const std::wstring&) {
    return {false, {}, {}, 0, kvph::win::ERROR_PATH_NOT_FOUND_};
}

kvph::DiskFreeSpace Machine::getDiskFreeSpaceExW(const std::wstring&) {
    kvph::DiskFreeSpace result;
    result.error = kvph::win::ERROR_PATH_NOT_FOUND_;
    return result;
}

std::uint32_t Machine::getDriveTypeW(const std::wstring&) { return kvph::win::DRIVE_NO_ROOT_DIR_; }

kvph::DriveStrings Machine::getLogicalDriveStringsW(std::uint32_t) { return {}; }

std::optional<std::wstring> Machine::queryDosDeviceW(const std::wstring&, std::uint32_t) { return std::nullopt; }

bool Machine::loadSymbolicLinkCalls() { return false; }

kvph::NtHandleResult Machine::ntOpenSymbolicLinkObject(const std::wstring&, std::uint32_t, std::uint32_t) {
    return {kvph::win::STATUS_OBJECT_NAME_NOT_FOUND_, kvph::kNullHandle};
}

kvph::NtTextResult Machine::ntQuerySymbolicLinkObject(kvph::Handle, std::uint16_t) {
    return {kvph::win::STATUS_INVALID_HANDLE_, {}};
}

std::int32_t Machine::ntClose(kvph::Handle) { return kvph::win::STATUS_INVALID_HANDLE_; }

}  // namespace sim
