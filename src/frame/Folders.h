// The library's two folders and the folder-creation routine.
#pragma once

#include <string>
#include <vector>

namespace kvph {

// The common application data folder with "Norvel\Quillmark\" appended, ending with a backslash.
// Empty when the platform cannot name the common application data folder.
std::wstring DataDirectory();

// The folder of the library's own module, ending with a backslash.
std::wstring LibraryFolder();

// SDDL of the data directory's folders and of the scripts written into it: owned by Administrators, full
// control for SYSTEM and Administrators only, nothing inherited from the folder above.
constexpr wchar_t kProtectedFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kProtectedFileSecurity[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Makes `dataDirectory` (from DataDirectory()) a folder that only SYSTEM and Administrators can change:
// the folders missing below the common application data folder are created with the protected
// descriptor, and a data directory that already existed is given it again (ordinary users may create
// folders there, so someone else may have made it first). False, after one log line, when it cannot be
// made or protected.
bool SecureDataDirectory(const std::wstring& dataDirectory);

// Creates the folders along `path` (never its root, never the text after its last backslash);
// 1 when something exists at the whole path afterwards, whose attributes are then set to normal. The
// folders it made, outermost first, are added to `made` when one is given.
int EnsureDirectory(const std::wstring& path, std::vector<std::wstring>* made = nullptr);

// Deletes a file whatever its attributes: a read-only, hidden or system file is made normal first.
void DeleteAnyFile(const std::wstring& path);

// shlwapi-style path helpers on plain strings.
std::wstring PathAddBackslash(std::wstring path);
std::wstring PathAppend(const std::wstring& path, const std::wstring& more);
std::wstring PathRemoveFileSpec(const std::wstring& path);

}  // namespace kvph
