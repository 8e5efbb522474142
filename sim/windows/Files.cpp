#include "sim/windows/Files.h"

#include <algorithm>

#include "platform/WinConstants.h"
#include "sim/windows/Drives.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;

constexpr std::uint32_t kErrorWriteProtect = 19;
constexpr std::uint32_t kErrorNotSameDevice = 17;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorDirNotEmpty = 145;
constexpr std::uint32_t kErrorDirectory = 267;
constexpr std::uint32_t kTruncateExisting = 5;

constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kFileWriteData = 0x2;
constexpr std::uint32_t kFileAppendData = 0x4;
constexpr std::uint32_t kFileReadData = 0x1;
constexpr std::uint32_t kWriteAccess = win::GENERIC_WRITE_ | kGenericAll | kFileWriteData | kFileAppendData;
constexpr std::uint32_t kReadAccess = win::GENERIC_READ_ | kGenericAll | kFileReadData;

// What a root directory reports on the volumes the library sees.
constexpr std::uint32_t kRootAttributes =
    win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_ | win::FILE_ATTRIBUTE_DIRECTORY_;
constexpr std::uint32_t kStoredAttributes = win::FILE_ATTRIBUTE_READONLY_ | win::FILE_ATTRIBUTE_HIDDEN_ |
                                            win::FILE_ATTRIBUTE_SYSTEM_ | win::FILE_ATTRIBUTE_ARCHIVE_ |
                                            win::FILE_ATTRIBUTE_NORMAL_;
constexpr wchar_t kSystemFolder[] = L"\\System32";
constexpr std::uint32_t kCreationAttributes =
    win::FILE_ATTRIBUTE_READONLY_ | win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_;

bool isRootKey(const std::wstring& key) {
    return key.size() == 3 && key[1] == L':' && key[2] == L'\\' && key[0] >= L'A' && key[0] <= L'Z';
}

bool hasDriveLetter(const std::wstring& key) {
    return key.size() >= 3 && key[1] == L':' && key[2] == L'\\';
}

bool endsWithSeparator(const std::wstring& path) {
    return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

std::wstring parentKey(const std::wstring& key) {
    const std::size_t slash = key.rfind(L'\\');
    if (slash == std::wstring::npos || isRootKey(key)) {
        return {};
    }
    std::wstring parent = key.substr(0, slash);
    if (parent.size() == 2 && parent[1] == L':') {
        parent += L'\\';
    }
    return parent;
}

std::wstring withoutTrailingSeparators(std::wstring path) {
    while (path.size() > 3 && endsWithSeparator(path)) {
        path.pop_back();
    }
    return path;
}

// SetFileAttributes ignores NORMAL next to other attributes and turns "none" into NORMAL.
std::uint32_t fileAttributesFrom(std::uint32_t requested) {
    std::uint32_t attributes = requested & kStoredAttributes;
    if ((attributes & ~win::FILE_ATTRIBUTE_NORMAL_) != 0) {
        attributes &= ~win::FILE_ATTRIBUTE_NORMAL_;
    }
    return attributes == 0 ? win::FILE_ATTRIBUTE_NORMAL_ : attributes;
}

bool isReadOnly(const File& file) {
    return (file.attributes & win::FILE_ATTRIBUTE_READONLY_) != 0;
}

// CREATE_ALWAYS over a hidden or system file must name those attributes again, or the platform refuses.
bool replaceRefused(const File& existing, std::uint32_t flagsAndAttributes) {
    const std::uint32_t guarded = win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_;
    return isReadOnly(existing) || (existing.attributes & guarded & ~flagsAndAttributes) != 0;
}

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

}  // namespace

std::wstring pathKey(const std::wstring& path) {
    std::wstring key;
    key.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        const wchar_t c = isSeparator(path[i]) ? L'\\' : text::upper(path[i]);
        // Doubled separators name the same folder; only a leading "\\" (device and UNC paths) counts.
        if (c == L'\\' && i > 1 && key.back() == L'\\') {
            continue;
        }
        key += c;
    }
    if (key.size() == 2 && key[1] == L':') {
        key += L'\\';
    }
    while (key.size() > 1 && key.back() == L'\\' && !(key.size() == 3 && key[1] == L':')) {
        key.pop_back();
    }
    return key;
}

const File* Files::findFile(const std::wstring& key) const {
    if (!hasDriveLetter(key) || !drives_.rootExists(key[0])) {
        return nullptr;
    }
    auto it = model_.files.find(key);
    return it == model_.files.end() ? nullptr : &it->second;
}

File* Files::findFile(const std::wstring& key) {
    return const_cast<File*>(static_cast<const Files*>(this)->findFile(key));
}

const File* Files::findFolder(const std::wstring& key) const {
    if (!hasDriveLetter(key) || !drives_.rootExists(key[0])) {
        return nullptr;
    }
    auto it = model_.folders.find(key);
    return it == model_.folders.end() ? nullptr : &it->second;
}

bool Files::onReadOnlyVolume(const std::wstring& key) const {
    if (!hasDriveLetter(key)) {
        return false;
    }
    auto mounted = drives_.volumeByLetter(key[0]);
    if (!mounted || mounted->volume == nullptr) {
        return false;
    }
    const auto& vdisks = model_.vdisks;
    const bool readOnlyAttach = std::any_of(vdisks.begin(), vdisks.end(), [&](const VirtualDisk& vdisk) {
        return &vdisk.disk == mounted->disk && vdisk.attached && vdisk.readOnly;
    });
    return mounted->volume->readOnly || readOnlyAttach;
}

bool Files::folderExists(const std::wstring& key) const {
    return isRootKey(key) ? drives_.rootExists(key[0]) : findFolder(key) != nullptr;
}

bool Files::parentFolderExists(const std::wstring& key) const {
    const std::wstring parent = parentKey(key);
    return !parent.empty() && folderExists(parent);
}

bool Files::createFolderChain(const std::wstring& path) {
    const std::wstring key = pathKey(path);
    for (std::size_t end = key.find(L'\\', 3);; end = key.find(L'\\', end + 1)) {
        const std::wstring partKey = key.substr(0, end);
        if (!folderExists(partKey)) {
            if (!parentFolderExists(partKey) || findFile(partKey) != nullptr) {
                return false;
            }
            model_.folders[partKey] =
                File{path.substr(0, partKey.size()), {}, win::FILE_ATTRIBUTE_DIRECTORY_};
        }
        if (end == std::wstring::npos) {
            return true;
        }
    }
}

std::optional<std::uint32_t> Files::storeFile(const std::wstring& path, const std::string& bytes,
                                              bool append) {
    const std::wstring key = pathKey(path);
    if (folderExists(key)) {
        return win::ERROR_ACCESS_DENIED_;
    }
    if (!parentFolderExists(key)) {
        return win::ERROR_PATH_NOT_FOUND_;
    }
    if (onReadOnlyVolume(key)) {
        return kErrorWriteProtect;
    }
    File* file = findFile(key);
    if (file != nullptr && isReadOnly(*file)) {
        return win::ERROR_ACCESS_DENIED_;
    }
    if (file == nullptr) {
        file = &(model_.files[key] = File{path, {}, win::FILE_ATTRIBUTE_ARCHIVE_});
    }
    if (!append) {
        file->content.clear();
    }
    file->content.insert(file->content.end(), bytes.begin(), bytes.end());
    return std::nullopt;
}

void Files::putFile(const std::wstring& path, const std::string& bytes, std::uint32_t attributes) {
    model_.files[pathKey(path)] = File{path, {bytes.begin(), bytes.end()}, fileAttributesFrom(attributes)};
}

void Files::putFolder(const std::wstring& path) {
    const std::wstring folderPath = withoutTrailingSeparators(path);
    model_.folders[pathKey(folderPath)] = File{folderPath, {}, win::FILE_ATTRIBUTE_DIRECTORY_};
}

bool Files::removeEmptyFolder(const std::wstring& path) {
    const std::wstring key = pathKey(path);
    if (findFolder(key) == nullptr) {
        return false;
    }
    const std::wstring inside = key + L"\\";
    const auto holds = [&](const std::map<std::wstring, File>& entries) {
        auto next = entries.upper_bound(inside);
        return next != entries.end() && next->first.compare(0, inside.size(), inside) == 0;
    };
    if (holds(model_.files) || holds(model_.folders)) {
        return false;
    }
    model_.folders.erase(key);
    return true;
}

std::optional<std::wstring> Files::shGetSpecialFolderPathW(int csidl, bool create) {
    if (calls_.enter("shGetSpecialFolderPathW") || csidl != win::CSIDL_COMMON_APPDATA_) {
        return std::nullopt;
    }
    const std::wstring& path = model_.commonAppData;
    if (create && !createFolderChain(path)) {
        return std::nullopt;
    }
    return path;
}

std::optional<std::wstring> Files::getModuleFileNameW(std::uint32_t bufferUnits) {
    if (calls_.enter("getModuleFileNameW") || bufferUnits == 0) {
        return std::nullopt;
    }
    // A buffer that is too small receives the path cut to its size, as the platform leaves it.
    return text::cutToUtf16(model_.libraryPath, bufferUnits - 1);
}

std::optional<std::wstring> Files::getSystemDirectoryW(std::uint32_t bufferUnits) {
    if (calls_.enter("getSystemDirectoryW")) {
        return std::nullopt;
    }
    std::wstring path = model_.windowsDirectory;
    while (!path.empty() && isSeparator(path.back())) {
        path.pop_back();
    }
    path += kSystemFolder;
    if (text::utf16Length(path) >= bufferUnits) {
        return std::nullopt;
    }
    return path;
}

bool Files::pathFileExistsW(const std::wstring& path) {
    if (calls_.enter("pathFileExistsW", path)) {
        return false;
    }
    const std::wstring key = pathKey(path);
    if (folderExists(key)) {
        return true;
    }
    return findFile(key) != nullptr && !endsWithSeparator(path);
}

std::optional<std::uint32_t> Files::getFileAttributesW(const std::wstring& path) {
    if (calls_.enter("getFileAttributesW", path)) {
        return std::nullopt;
    }
    const std::wstring key = pathKey(path);
    if (isRootKey(key)) {
        return drives_.rootExists(key[0]) ? std::optional<std::uint32_t>(kRootAttributes) : std::nullopt;
    }
    if (const File* folder = findFolder(key)) {
        return folder->attributes;
    }
    const File* file = findFile(key);
    if (file == nullptr || endsWithSeparator(path)) {
        return std::nullopt;
    }
    return file->attributes;
}

kvph::BoolResult Files::setFileAttributesW(const std::wstring& path, std::uint32_t attributes) {
    if (auto error = calls_.enter("setFileAttributesW", path)) {
        return {false, *error};
    }
    const std::wstring key = pathKey(path);
    if (isRootKey(key) && drives_.rootExists(key[0])) {
        return {true, 0};
    }
    if (onReadOnlyVolume(key) && (findFile(key) != nullptr || folderExists(key))) {
        return {false, kErrorWriteProtect};
    }
    if (folderExists(key)) {
        const std::uint32_t kept = fileAttributesFrom(attributes) & ~win::FILE_ATTRIBUTE_NORMAL_;
        model_.folders[key].attributes = kept | win::FILE_ATTRIBUTE_DIRECTORY_;
        return {true, 0};
    }
    File* file = findFile(key);
    if (file == nullptr) {
        return {false, parentFolderExists(key) ? win::ERROR_FILE_NOT_FOUND_ : win::ERROR_PATH_NOT_FOUND_};
    }
    file->attributes = fileAttributesFrom(attributes);
    return {true, 0};
}

kvph::BoolResult Files::deleteFileW(const std::wstring& path) {
    if (auto error = calls_.enter("deleteFileW", path)) {
        return {false, *error};
    }
    const std::wstring key = pathKey(path);
    if (folderExists(key)) {
        return {false, win::ERROR_ACCESS_DENIED_};
    }
    const File* file = findFile(key);
    if (file == nullptr) {
        return {false, parentFolderExists(key) ? win::ERROR_FILE_NOT_FOUND_ : win::ERROR_PATH_NOT_FOUND_};
    }
    if (onReadOnlyVolume(key)) {
        return {false, kErrorWriteProtect};
    }
    if (isReadOnly(*file)) {
        return {false, win::ERROR_ACCESS_DENIED_};
    }
    const bool open = handles_.fileIsOpen(key);
    const auto sameFile = [&](const VirtualDisk& vdisk) { return pathKey(vdisk.path) == key; };
    const bool attached =
        std::any_of(model_.vdisks.begin(), model_.vdisks.end(),
                    [&](const VirtualDisk& vdisk) { return sameFile(vdisk) && vdisk.attached; });
    if (open || attached) {
        return {false, kErrorSharingViolation};
    }
    // A file kept only as a size (a virtual disk's) gives its room back to the volume that held it.
    if (file->logicalSize) {
        if (const auto holder = drives_.volumeByLetter(key[0])) {
            const_cast<Volume*>(holder->volume)->freeBytes += *file->logicalSize;
        }
    }
    model_.files.erase(key);
    // A detached virtual disk whose file is gone is no longer known to the system.
    model_.vdisks.erase(std::remove_if(model_.vdisks.begin(), model_.vdisks.end(), sameFile),
                        model_.vdisks.end());
    return {true, 0};
}

kvph::BoolResult Files::moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                    std::uint32_t flags) {
    if (auto error = calls_.enter("moveFileExW", existing)) {
        return {false, *error};
    }
    const std::wstring from = pathKey(existing);
    const std::wstring to = pathKey(replacement);
    File* file = findFile(from);
    if (file == nullptr) {
        return {false, parentFolderExists(from) ? win::ERROR_FILE_NOT_FOUND_ : win::ERROR_PATH_NOT_FOUND_};
    }
    if (!hasDriveLetter(to) || to[0] != from[0]) {
        return {false, kErrorNotSameDevice};
    }
    if (!parentFolderExists(to)) {
        return {false, win::ERROR_PATH_NOT_FOUND_};
    }
    if (onReadOnlyVolume(from)) {
        return {false, kErrorWriteProtect};
    }
    if (handles_.fileIsOpen(from)) {
        return {false, kErrorSharingViolation};
    }
    if (from == to) {
        file->path = replacement;
        return {true, 0};
    }
    if (folderExists(to)) {
        return {false, win::ERROR_ACCESS_DENIED_};
    }
    if (const File* target = findFile(to)) {
        if ((flags & win::MOVEFILE_REPLACE_EXISTING_) == 0) {
            return {false, kErrorAlreadyExists};
        }
        if (isReadOnly(*target) || handles_.fileIsOpen(to)) {
            return {false, isReadOnly(*target) ? win::ERROR_ACCESS_DENIED_ : kErrorSharingViolation};
        }
    }
    File moved = *file;
    moved.path = replacement;
    model_.files.erase(from);
    model_.files[to] = std::move(moved);
    return {true, 0};
}

kvph::FileAttributeData Files::getFileAttributesExW(const std::wstring& path) {
    if (auto error = calls_.enter("getFileAttributesExW", path)) {
        return {false, 0, 0, *error};
    }
    const std::wstring key = pathKey(path);
    if (const File* folder = findFolder(key)) {
        return {true, folder->attributes, 0, 0};
    }
    const File* file = findFile(key);
    if (file == nullptr || endsWithSeparator(path)) {
        return {false, 0, 0,
                parentFolderExists(key) ? win::ERROR_FILE_NOT_FOUND_ : win::ERROR_PATH_NOT_FOUND_};
    }
    return {true, file->attributes, fileSize(*file), 0};
}

// The ANSI calls name the file that the path's wide form in the machine's code page names.
bool Files::pathFileExistsA(const std::wstring& widePath) {
    if (calls_.enter("pathFileExistsA", widePath)) {
        return false;
    }
    return pathFileExistsW(widePath);
}

kvph::BoolResult Files::setFileAttributesA(const std::wstring& widePath, std::uint32_t attributes) {
    if (auto error = calls_.enter("setFileAttributesA", widePath)) {
        return {false, *error};
    }
    return setFileAttributesW(widePath, attributes);
}

kvph::BoolResult Files::deleteFileA(const std::wstring& widePath) {
    if (auto error = calls_.enter("deleteFileA", widePath)) {
        return {false, *error};
    }
    return deleteFileW(widePath);
}

int Files::wmkdir(const std::wstring& path) {
    if (calls_.enter("wmkdir", path)) {
        return -1;
    }
    const std::wstring folderPath = withoutTrailingSeparators(path);
    const std::wstring key = pathKey(folderPath);
    if (isRootKey(key) || folderExists(key) || findFile(key) != nullptr || !parentFolderExists(key) ||
        onReadOnlyVolume(key)) {
        return -1;
    }
    model_.folders[key] = File{folderPath, {}, win::FILE_ATTRIBUTE_DIRECTORY_};
    return 0;
}

kvph::BoolResult Files::removeDirectoryW(const std::wstring& path) {
    if (auto error = calls_.enter("removeDirectoryW", path)) {
        return {false, *error};
    }
    const std::wstring key = pathKey(withoutTrailingSeparators(path));
    if (!folderExists(key)) {
        if (findFile(key) != nullptr) {
            return {false, kErrorDirectory};
        }
        return {false, parentFolderExists(key) ? win::ERROR_FILE_NOT_FOUND_ : win::ERROR_PATH_NOT_FOUND_};
    }
    if (isRootKey(key) || onReadOnlyVolume(key)) {
        return {false, isRootKey(key) ? win::ERROR_ACCESS_DENIED_ : kErrorWriteProtect};
    }
    if (!removeEmptyFolder(key)) {
        return {false, kErrorDirNotEmpty};
    }
    return {true, 0};
}

kvph::BoolResult Files::createDirectoryW(const std::wstring& path, const std::wstring& securityDescriptor) {
    if (auto error = calls_.enter("createDirectoryW", path)) {
        return {false, *error};
    }
    const std::wstring folderPath = withoutTrailingSeparators(path);
    const std::wstring key = pathKey(folderPath);
    if (isRootKey(key) || folderExists(key) || findFile(key) != nullptr) {
        return {false, win::ERROR_ALREADY_EXISTS_};
    }
    if (!parentFolderExists(key)) {
        return {false, win::ERROR_PATH_NOT_FOUND_};
    }
    if (onReadOnlyVolume(key)) {
        return {false, kErrorWriteProtect};
    }
    File folder{folderPath, {}, win::FILE_ATTRIBUTE_DIRECTORY_};
    folder.security = securityDescriptor;
    model_.folders[key] = std::move(folder);
    return {true, 0};
}

kvph::BoolResult Files::setNamedSecurityInfoW(const std::wstring& path, std::uint32_t,
                                              const std::wstring& securityDescriptor) {
    const std::wstring key = pathKey(withoutTrailingSeparators(path));
    if (auto error = calls_.enter("setNamedSecurityInfoW", path)) {
        return {false, *error};
    }
    File* target = folderExists(key) ? &model_.folders.at(key) : findFile(key);
    if (target == nullptr) {
        return {false, win::ERROR_FILE_NOT_FOUND_};
    }
    target->security = securityDescriptor;
    return {true, 0};
}

kvph::HandleResult Files::createFile(const std::wstring& path, std::uint32_t desiredAccess,
                                     std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                                     const std::wstring& securityDescriptor) {
    const std::wstring key = pathKey(path);
    if (folderExists(key)) {
        return {kvph::kInvalidHandle, win::ERROR_ACCESS_DENIED_};
    }
    if (endsWithSeparator(path)) {
        return {kvph::kInvalidHandle, kErrorInvalidName};
    }
    if (!parentFolderExists(key)) {
        return {kvph::kInvalidHandle, win::ERROR_PATH_NOT_FOUND_};
    }
    File* file = findFile(key);
    const bool existed = file != nullptr;
    const bool writes = (desiredAccess & kWriteAccess) != 0;
    const bool creates =
        !existed && (creationDisposition == win::CREATE_NEW_ || creationDisposition == win::CREATE_ALWAYS_ ||
                     creationDisposition == win::OPEN_ALWAYS_);
    const bool truncates =
        existed && (creationDisposition == win::CREATE_ALWAYS_ || creationDisposition == kTruncateExisting);
    if (creationDisposition < win::CREATE_NEW_ || creationDisposition > kTruncateExisting) {
        return {kvph::kInvalidHandle, win::ERROR_INVALID_PARAMETER_};
    }
    if (existed && creationDisposition == win::CREATE_NEW_) {
        return {kvph::kInvalidHandle, kErrorFileExists};
    }
    if (!existed && !creates) {
        return {kvph::kInvalidHandle, win::ERROR_FILE_NOT_FOUND_};
    }
    if ((creates || truncates || writes) && onReadOnlyVolume(key)) {
        return {kvph::kInvalidHandle, kErrorWriteProtect};
    }
    if (existed && creationDisposition == win::CREATE_ALWAYS_ && replaceRefused(*file, flagsAndAttributes)) {
        return {kvph::kInvalidHandle, win::ERROR_ACCESS_DENIED_};
    }
    if (existed && (writes || truncates) && isReadOnly(*file)) {
        return {kvph::kInvalidHandle, win::ERROR_ACCESS_DENIED_};
    }
    // New and replaced files get the archive attribute next to the ones asked for.
    const std::uint32_t requested = (flagsAndAttributes & kCreationAttributes) | win::FILE_ATTRIBUTE_ARCHIVE_;
    if (creates) {
        File created{path, {}, requested};
        created.security = securityDescriptor;
        model_.files[key] = std::move(created);
    } else if (truncates) {
        file->content.clear();
        if (creationDisposition == win::CREATE_ALWAYS_) {
            file->attributes = (file->attributes & ~win::FILE_ATTRIBUTE_NORMAL_) | requested;
        }
    }
    const bool reportsExisting =
        existed && (creationDisposition == win::CREATE_ALWAYS_ || creationDisposition == win::OPEN_ALWAYS_);
    return {handles_.add(OpenFile{key, desiredAccess, 0}), reportsExisting ? kErrorAlreadyExists : 0};
}

kvph::WriteResult Files::writeFile(kvph::Handle handle, const kvph::Bytes& data) {
    OpenFile* open = handles_.findAs<OpenFile>(handle);
    if (auto error = calls_.enter("writeFile", open != nullptr ? open->key : std::wstring())) {
        return {false, 0, *error};
    }
    auto file = open != nullptr ? model_.files.find(open->key) : model_.files.end();
    if (file == model_.files.end()) {
        return {false, 0, win::ERROR_INVALID_HANDLE_};
    }
    if ((open->access & kWriteAccess) == 0) {
        return {false, 0, win::ERROR_ACCESS_DENIED_};
    }
    std::vector<std::uint8_t>& content = file->second.content;
    if (content.size() < open->position + data.size()) {
        content.resize(open->position + data.size());
    }
    std::copy(data.begin(), data.end(), content.begin() + static_cast<std::ptrdiff_t>(open->position));
    open->position += data.size();
    return {true, static_cast<std::uint32_t>(data.size()), 0};
}

kvph::ReadResult Files::readFile(kvph::Handle handle, std::uint32_t bytesToRead) {
    OpenFile* open = handles_.findAs<OpenFile>(handle);
    if (auto error = calls_.enter("readFile", open != nullptr ? open->key : std::wstring())) {
        return {false, {}, *error};
    }
    auto file = open != nullptr ? model_.files.find(open->key) : model_.files.end();
    if (file == model_.files.end()) {
        return {false, {}, win::ERROR_INVALID_HANDLE_};
    }
    if ((open->access & kReadAccess) == 0) {
        return {false, {}, win::ERROR_ACCESS_DENIED_};
    }
    const std::vector<std::uint8_t>& content = file->second.content;
    const std::uint64_t start = std::min<std::uint64_t>(open->position, content.size());
    const std::uint64_t count = std::min<std::uint64_t>(bytesToRead, content.size() - start);
    kvph::ReadResult result{true, {}, 0};
    result.data.assign(content.begin() + static_cast<std::ptrdiff_t>(start),
                       content.begin() + static_cast<std::ptrdiff_t>(start + count));
    open->position = start + count;
    return result;
}

kvph::BoolResult Files::flushFileBuffers(kvph::Handle handle) {
    OpenFile* open = handles_.findAs<OpenFile>(handle);
    if (auto error = calls_.enter("flushFileBuffers", open != nullptr ? open->key : std::wstring())) {
        return {false, *error};
    }
    if (open == nullptr) {
        return {false, win::ERROR_INVALID_HANDLE_};
    }
    if ((open->access & kWriteAccess) == 0) {
        return {false, win::ERROR_ACCESS_DENIED_};
    }
    return {true, 0};
}

}  // namespace sim
