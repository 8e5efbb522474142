// Single-owner registry key handles, closed through the seam.
#pragma once

#include "frame/UniqueHandle.h"

namespace kvph {

// Registry keys opened or created with RegOpenKeyExW / RegCreateKeyExW, closed with RegCloseKey; a
// failed call leaves NULL.
struct RegKeyTraits {
    static bool isValid(Handle key) { return key != kNullHandle; }
    static void close(Handle key) { platform().regCloseKey(key); }
};

using UniqueRegKey = UniqueResource<RegKeyTraits>;

}  // namespace kvph
