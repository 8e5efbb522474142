// Private-profile (INI) files over the machine's files, with the platform's reading and editing rules.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/windows/Shared.h"

namespace sim {

class Files;
struct File;
struct Profile;

class Profiles {
public:
    Profiles(Calls& calls, Files& files, const CodePage& codePage);
    ~Profiles();

    std::wstring getPrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& defaultValue, std::uint32_t bufferUnits,
                                          const std::wstring& file);
    std::uint32_t getPrivateProfileIntW(const std::wstring& section, const std::wstring& key,
                                        std::int32_t defaultValue, const std::wstring& file);
    kvph::BoolResult writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                const std::wstring& value, const std::wstring& file);

private:
    // The file's profile, parsed again only when its bytes, its path or the code page changed since the
    // last read: the library reads one file key after key.
    const Profile& parsed(const File& stored);

    Calls& calls_;
    Files& files_;
    const CodePage& codePage_;
    std::unique_ptr<Profile> parsed_;
    std::wstring parsedPath_;
    std::vector<std::uint8_t> parsedBytes_;
    std::uint32_t parsedCodePage_ = 0;
};

}  // namespace sim
