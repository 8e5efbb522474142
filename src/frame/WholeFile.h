// Reading a whole file through the seam.
#pragma once

#include <optional>
#include <string>

namespace kvph {

// The file's bytes; nullopt when it cannot be opened or a read fails, as a file read in part is not
// what it says.
std::optional<std::string> readWholeFile(const std::wstring& path);

}  // namespace kvph
