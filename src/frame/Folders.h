// The library's two folders and the folder-creation routine.
#pragma once

#include <string>

namespace kvph {

// The common application data folder with "Norvel\Quillmark\" appended, ending with a backslash.
// Empty when the platform cannot name the common application data folder.
std::wstring DataDirectory();

// The folder of the library's own module, ending with a backslash.
std::wstring LibraryFolder();

// Creates the folders along `path` (never its root, never the text after its last backslash);
// 1 when something exists at the whole path afterwards, whose attributes are then set to normal.
int EnsureDirectory(const std::wstring& path);

// shlwapi-style path helpers on plain strings.
std::wstring PathAddBackslash(std::wstring path);
std::wstring PathAppend(const std::wstring& path, const std::wstring& more);
std::wstring PathRemoveFileSpec(const std::wstring& path);

}  // namespace kvph
