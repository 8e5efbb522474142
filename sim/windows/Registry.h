// The registry: keys named "HKLM\..." or "HKCU\..." (upper-cased) in the model, holding DWORD values
// whose names are compared without regard to case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/windows/Shared.h"

namespace sim {

class Registry {
public:
    Registry(MachineModel& model, Calls& calls, Handles& handles)
        : model_(model), calls_(calls), handles_(handles) {}

    std::optional<std::uint32_t> queryDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                            const std::wstring& valueName);
    kvph::BoolResult setDword(kvph::RegistryRoot root, const std::wstring& subKey,
                              const std::wstring& valueName, std::uint32_t value);
    kvph::BoolResult deleteValue(kvph::RegistryRoot root, const std::wstring& subKey,
                                 const std::wstring& valueName);

    // Keys through handles: a key exists or not; its subkeys are the keys whose name continues its own
    // after a backslash.
    kvph::HandleResult regOpenKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                     std::uint32_t access);
    kvph::RegCreateResult regCreateKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                          std::uint32_t access);
    kvph::RegDwordQuery regQueryValueExDword(kvph::Handle key, const std::wstring& valueName);
    std::uint32_t regSetValueExDword(kvph::Handle key, const std::wstring& valueName, std::uint32_t value);
    std::uint32_t regDeleteValueW(kvph::Handle key, const std::wstring& valueName);
    kvph::RegKeyInfo regQueryInfoKeyW(kvph::Handle key);
    std::uint32_t regDeleteKeyExW(kvph::RegistryRoot root, const std::wstring& subKey);
    std::uint32_t regCloseKey(kvph::Handle key);

    // The model's key for a root and subkey.
    static std::wstring keyName(kvph::RegistryRoot root, const std::wstring& subKey);

private:
    // The key behind an open handle opened with `neededAccess`; null with the error when the handle is no
    // key, its key is gone or it lacks that access.
    RegistryKey* openKey(kvph::Handle handle, std::uint32_t neededAccess, std::uint32_t& error);

    MachineModel& model_;
    Calls& calls_;
    Handles& handles_;
};

}  // namespace sim
