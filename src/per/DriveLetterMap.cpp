#include "per/DriveLetterMap.h"

#include "platform/Platform.h"

namespace PER {

namespace {

// Room for all 26 roots "X:\" with their terminators, and the final terminator.
constexpr std::uint32_t kDriveStringsUnits = 105;
constexpr std::size_t kRootStride = 4;  // "X:\" and its terminator
constexpr std::uint32_t kDosDeviceUnits = 1024;

}  // namespace

std::optional<wchar_t> DriveLetterMap::letterOf(const std::wstring& deviceName) {
    if (!built_) {
        build();
    }
    if (!available_) {
        return std::nullopt;
    }
    for (const auto& [letter, device] : devices_) {
        if (device == deviceName) {
            return letter;
        }
    }
    return std::nullopt;
}

void DriveLetterMap::build() {
    built_ = true;
    kvph::DriveStrings roots = kvph::platform().getLogicalDriveStringsW(kDriveStringsUnits);
    if (roots.result == 0) {
        return;
    }
    available_ = true;
    for (std::size_t position = 0; position < roots.result && position + 2 <= roots.strings.size();
         position += kRootStride) {
        const std::wstring deviceName = roots.strings.substr(position, 2);
        std::optional<std::wstring> device = kvph::platform().queryDosDeviceW(deviceName, kDosDeviceUnits);
        if (device) {
            devices_.emplace_back(deviceName[0], std::move(*device));
        }
    }
}

}  // namespace PER
