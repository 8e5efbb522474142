// The registry: keys named "HKLM\..." or "HKCU\..." (upper-cased) in the model, holding DWORD values
// whose names are compared without regard to case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "SimShared.h"

namespace sim {

class Registry {
public:
    Registry(MachineModel& model, Calls& calls) : model_(model), calls_(calls) {}

    std::optional<std::uint32_t> queryDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                            const std::wstring& valueName);
    kvph::BoolResult setDword(kvph::RegistryRoot root, const std::wstring& subKey,
                              const std::wstring& valueName, std::uint32_t value);
    kvph::BoolResult deleteValue(kvph::RegistryRoot root, const std::wstring& subKey,
                                 const std::wstring& valueName);

    // The model's key for a root and subkey.
    static std::wstring keyName(kvph::RegistryRoot root, const std::wstring& subKey);

private:
    MachineModel& model_;
    Calls& calls_;
};

}  // namespace sim
