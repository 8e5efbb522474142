// The free drive letter search shared by PH_FindUsableLabel and PH_CreateVHDX.
#pragma once

#include <string>

namespace kvph {

// The first of "Z:" down to "C:" for which no path of exactly that text exists; empty when every one
// exists. A and B are never proposed.
std::wstring FindFreeDriveLetter();

}  // namespace kvph
