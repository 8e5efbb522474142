// Whether a VHDX file is attached, from diskpart's "list vdisk" output captured through a batch file.
#pragma once

#include <string>

namespace kvph {

// 1 when a line of the captured listing names the whole VHDX path and says "Attached".
int FindAttachedInVdiskList(const std::wstring& resultPath, const std::wstring& vhdxPath);

// The presence query itself: Unknown when diskpart's listing could not be had.
enum class VhdxPresence { Attached, NotAttached, Unknown };
VhdxPresence QueryVhdxPresence(const std::wstring& vhdxPath);

}  // namespace kvph
