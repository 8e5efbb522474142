// `disks`: the physical drives and their partition records as the library's enumeration sees them.
#pragma once

#include <string>
#include <vector>

#include "kvph/commands/CommandRow.h"

namespace kvph::tool {

CommandResult listDisks(Host& host, const std::vector<std::wstring>& arguments);
// One line per physical drive: its number, style and size, and its records as a proportional bar.
std::string disksPicture();

}  // namespace kvph::tool
