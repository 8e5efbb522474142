// Private-profile (INI) files over the machine's files, with the platform's reading and editing rules.
#pragma once

#include <cstdint>
#include <string>

#include "sim/windows/Shared.h"

namespace sim {

class Files;

class Profiles {
public:
    Profiles(Calls& calls, Files& files, const CodePage& codePage)
        : calls_(calls), files_(files), codePage_(codePage) {}

    std::wstring getPrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& defaultValue, std::uint32_t bufferUnits,
                                          const std::wstring& file);
    std::uint32_t getPrivateProfileIntW(const std::wstring& section, const std::wstring& key,
                                        std::int32_t defaultValue, const std::wstring& file);
    kvph::BoolResult writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                const std::wstring& value, const std::wstring& file);

private:
    Calls& calls_;
    Files& files_;
    const CodePage& codePage_;
};

}  // namespace sim
