#include "frame/Folders.h"

#include "frame/Log.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr std::uint32_t kModuleNameUnits = 260;
// The first backslash that may end a folder to create: "C:\" (positions 0 to 2) is the root.
constexpr std::size_t kFirstFolderSeparator = 3;
constexpr wchar_t kDataSubfolders[] = L"\\Norvel\\Quillmark\\";

bool endsWithBackslash(const std::wstring& path) {
    return !path.empty() && path.back() == L'\\';
}

void setNormalAttributes(const std::wstring& path) {
    platform().setFileAttributesW(path, win::FILE_ATTRIBUTE_NORMAL_);
}

std::wstring commonAppDataFolder() {
    auto commonAppData = platform().shGetSpecialFolderPathW(win::CSIDL_COMMON_APPDATA_, true);
    if (!commonAppData || commonAppData->empty()) {
        return std::wstring();
    }
    return PathAddBackslash(*commonAppData);
}

enum class FolderCreation { Created, Existed, Failed };

FolderCreation createProtectedFolder(const std::wstring& folder) {
    const BoolResult made = platform().createDirectoryW(folder, kProtectedFolderSecurity);
    if (made.ok) {
        return FolderCreation::Created;
    }
    return made.error == win::ERROR_ALREADY_EXISTS_ ? FolderCreation::Existed : FolderCreation::Failed;
}

}  // namespace

std::wstring PathAddBackslash(std::wstring path) {
    if (!path.empty() && !endsWithBackslash(path)) {
        path.push_back(L'\\');
    }
    return path;
}

std::wstring PathAppend(const std::wstring& path, const std::wstring& more) {
    std::size_t skip = 0;
    while (skip < more.size() && more[skip] == L'\\') {
        ++skip;
    }
    return PathAddBackslash(path) + more.substr(skip);
}

std::wstring PathRemoveFileSpec(const std::wstring& path) {
    const std::size_t lastSeparator = path.find_last_of(L'\\');
    if (lastSeparator == std::wstring::npos) {
        return std::wstring();
    }
    // "C:\file" keeps its root's backslash; "C:\dir\file" loses the one before the file.
    const bool isRootSeparator = lastSeparator == 2 && path.size() > 1 && path[1] == L':';
    return path.substr(0, isRootSeparator ? lastSeparator + 1 : lastSeparator);
}

std::wstring DataDirectory() {
    const std::wstring commonAppData = commonAppDataFolder();
    return commonAppData.empty() ? std::wstring() : PathAppend(commonAppData, kDataSubfolders);
}

bool SecureDataDirectory(const std::wstring& dataDirectory) {
    const std::wstring commonAppData = commonAppDataFolder();
    if (commonAppData.empty() || dataDirectory.compare(0, commonAppData.size(), commonAppData) != 0) {
        logLine(L"(KvPartitionHelper)Create data directory fail.\r\n");
        return false;
    }
    FolderCreation last = FolderCreation::Existed;
    for (std::size_t separator = dataDirectory.find(L'\\', commonAppData.size());
         separator != std::wstring::npos; separator = dataDirectory.find(L'\\', separator + 1)) {
        last = createProtectedFolder(dataDirectory.substr(0, separator));
        if (last == FolderCreation::Failed) {
            logLine(L"(KvPartitionHelper)Create data directory fail.\r\n");
            return false;
        }
    }
    if (last == FolderCreation::Created) {
        return true;
    }
    // The owner too: whoever owns the folder may change its DACL again.
    constexpr std::uint32_t kRepairedParts = win::OWNER_SECURITY_INFORMATION_ |
                                             win::DACL_SECURITY_INFORMATION_ |
                                             win::PROTECTED_DACL_SECURITY_INFORMATION_;
    const std::wstring folder = dataDirectory.substr(0, dataDirectory.size() - 1);
    if (!platform().setNamedSecurityInfoW(folder, kRepairedParts, kProtectedFolderSecurity).ok) {
        logLine(L"(KvPartitionHelper)Protect data directory fail.\r\n");
        return false;
    }
    return true;
}

std::wstring LibraryFolder() {
    auto moduleName = platform().getModuleFileNameW(kModuleNameUnits);
    if (!moduleName) {
        return std::wstring();
    }
    return PathAddBackslash(PathRemoveFileSpec(*moduleName));
}

void DeleteAnyFile(const std::wstring& path) {
    platform().setFileAttributesW(path, win::FILE_ATTRIBUTE_NORMAL_);
    platform().deleteFileW(path);
}

int EnsureDirectory(const std::wstring& path, std::vector<std::wstring>* made) {
    Platform& os = platform();
    if (os.pathFileExistsW(path)) {
        setNormalAttributes(path);
        return 1;
    }
    for (std::size_t separator = path.find(L'\\', kFirstFolderSeparator); separator != std::wstring::npos;
         separator = path.find(L'\\', separator + 1)) {
        const std::wstring folder = path.substr(0, separator);
        if (os.pathFileExistsW(folder)) {
            continue;
        }
        if (os.wmkdir(folder) != 0) {
            return 0;
        }
        if (made != nullptr) {
            made->push_back(folder);
        }
    }
    if (os.pathFileExistsW(path)) {
        setNormalAttributes(path);
        return 1;
    }
    return 0;
}

}  // namespace kvph
