// The kvph commands of the VHDX drive's life: create, attach, detach and compact.
#pragma once

#include <string>
#include <vector>

#include "kvph/commands/CommandRow.h"

namespace kvph::tool {

// `create PATH LABEL MAXMB [--expandable]` (PH_CreateVHDX).
CommandResult createDrive(Host& host, const std::vector<std::wstring>& arguments);
// `attach PATH [--read-only]` (PH_AttachVHDX).
CommandResult attachDrive(Host& host, const std::vector<std::wstring>& arguments);
// `detach PATH [--remove]` (PH_DetachVHDX).
CommandResult detachDrive(Host& host, const std::vector<std::wstring>& arguments);
// `compact PATH` (PH_CompactThenAttachVHDX).
CommandResult compactDrive(Host& host, const std::vector<std::wstring>& arguments);

}  // namespace kvph::tool
