// `disks`: the physical drives and their partition records as the library's enumeration sees them.
#pragma once

#include <string>
#include <vector>

#include "Commands.h"

namespace kvph::tool {

CommandResult listDisks(Host& host, const std::vector<std::wstring>& arguments);

}  // namespace kvph::tool
