// Which drive letter names which device: the DOS device name behind every logical drive root, asked
// for once and then searched for each partition.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace PER {

class DriveLetterMap {
public:
    // The first root, in the order the system lists them, whose device name equals `deviceName`
    // exactly (case-sensitive, whole string). The roots are read on the first call only.
    std::optional<wchar_t> letterOf(const std::wstring& deviceName);

private:
    void build();

    bool built_ = false;
    bool available_ = false;  // false when the system listed no roots
    std::vector<std::pair<wchar_t, std::wstring>> devices_;
};

}  // namespace PER
