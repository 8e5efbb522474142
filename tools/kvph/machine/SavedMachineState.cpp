#include "kvph/machine/SavedMachineState.h"

#include "frame/Folders.h"
#include "frame/Text.h"
#include "frame/UniqueHandle.h"
#include "frame/UniqueRegKey.h"
#include "frame/WholeFile.h"
#include "kvph/base/ToolText.h"
#include "lifecycle/AutoRunSuppression.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph::tool {
namespace {

namespace win = kvph::win;

// Partition.ini and MaxSize.ini come first: they hold a host service's drive when they exist.
const wchar_t* const kLibraryFolderFiles[] = {L"Partition.ini", L"MaxSize.ini", L"result.txt", L"temp.bat"};
constexpr std::size_t kHostDriveStateFiles = 2;
const wchar_t* const kDataDirectoryFiles[] = {L"UserData.ini", L"Command.txt"};

std::string autoRunKeyName() {
    return "HKLM\\" + toUtf8(kAutoRunKey);
}

std::string autoRunValueName() {
    return autoRunKeyName() + "\\" + toUtf8(kAutoRunValue);
}

std::string withError(const std::string& text, std::uint32_t error) {
    return text + " (error " + std::to_string(error) + ")";
}

bool writeNewFile(const std::wstring& path, const std::string& bytes) {
    Platform& os = platform();
    UniqueHandle file(
        os.createFileW(path, win::GENERIC_WRITE_, 0, win::CREATE_NEW_, win::FILE_ATTRIBUTE_NORMAL_).handle);
    return file.valid() && os.writeFile(file.get(), Bytes(bytes.begin(), bytes.end())).ok;
}

// Read-only, hidden and system files refuse to be deleted or replaced until their attributes are normal.
BoolResult deleteAnyFile(const std::wstring& path) {
    platform().setFileAttributesW(path, win::FILE_ATTRIBUTE_NORMAL_);
    return platform().deleteFileW(path);
}

std::optional<SavedFile> readFileState(const std::wstring& path, std::string& why) {
    SavedFile saved{path, false, {}, 0};
    const auto attributes = platform().getFileAttributesW(path);
    if (!attributes) {
        return saved;
    }
    const auto bytes = readWholeFile(path);
    if ((*attributes & win::FILE_ATTRIBUTE_DIRECTORY_) != 0 || !bytes) {
        why = "cannot read " + toUtf8(path);
        return std::nullopt;
    }
    return SavedFile{path, true, *bytes, *attributes};
}

std::optional<SavedAutoRun> readAutoRun(std::string& why) {
    Platform& os = platform();
    const HandleResult opened =
        os.regOpenKeyExW(RegistryRoot::LocalMachine, kAutoRunKey, win::KEY_QUERY_VALUE_);
    UniqueRegKey key(opened.error == win::ERROR_SUCCESS_ ? opened.handle : kNullHandle);
    if (!key.valid()) {
        if (opened.error == win::ERROR_FILE_NOT_FOUND_) {
            return SavedAutoRun{false, std::nullopt};
        }
        why = withError("cannot read " + autoRunKeyName(), opened.error);
        return std::nullopt;
    }
    const RegDwordQuery query = os.regQueryValueExDword(key.get(), kAutoRunValue);
    if (query.status == win::ERROR_FILE_NOT_FOUND_) {
        return SavedAutoRun{true, std::nullopt};
    }
    if (query.status != win::ERROR_SUCCESS_ || query.type != win::REG_DWORD_) {
        why = autoRunValueName() + " is not a REG_DWORD the check could put back";
        return std::nullopt;
    }
    return SavedAutoRun{true, query.value};
}

void restoreFile(const SavedFile& saved, std::vector<std::string>& problems) {
    const auto attributes = platform().getFileAttributesW(saved.path);
    if (!saved.existed) {
        const BoolResult deleted = attributes ? deleteAnyFile(saved.path) : BoolResult{true, 0};
        if (!deleted.ok) {
            problems.push_back(withError("cannot delete " + toUtf8(saved.path), deleted.error));
        }
        return;
    }
    if (attributes == saved.attributes && readWholeFile(saved.path) == saved.bytes) {
        return;
    }
    if (attributes) {
        deleteAnyFile(saved.path);
    }
    if (!writeNewFile(saved.path, saved.bytes) ||
        !platform().setFileAttributesW(saved.path, saved.attributes).ok) {
        problems.push_back("cannot write " + toUtf8(saved.path) + " back as it was");
    }
}

void restoreAutoRun(const SavedAutoRun& saved, std::vector<std::string>& problems) {
    Platform& os = platform();
    const std::string name = autoRunValueName();
    if (saved.value) {
        const RegCreateResult created =
            os.regCreateKeyExW(RegistryRoot::LocalMachine, kAutoRunKey, win::KEY_SET_VALUE_);
        UniqueRegKey key(created.status == win::ERROR_SUCCESS_ ? created.key : kNullHandle);
        const std::uint32_t status =
            key.valid() ? os.regSetValueExDword(key.get(), kAutoRunValue, *saved.value) : created.status;
        if (status != win::ERROR_SUCCESS_) {
            problems.push_back(withError("cannot set " + name + " back", status));
        }
        return;
    }
    const HandleResult opened = os.regOpenKeyExW(RegistryRoot::LocalMachine, kAutoRunKey,
                                                 win::KEY_QUERY_VALUE_ | win::KEY_SET_VALUE_);
    UniqueRegKey key(opened.error == win::ERROR_SUCCESS_ ? opened.handle : kNullHandle);
    if (!key.valid()) {
        if (opened.error != win::ERROR_FILE_NOT_FOUND_) {
            problems.push_back(withError("cannot open " + autoRunKeyName(), opened.error));
        }
        return;
    }
    const std::uint32_t deleted = os.regDeleteValueW(key.get(), kAutoRunValue);
    if (deleted != win::ERROR_SUCCESS_ && deleted != win::ERROR_FILE_NOT_FOUND_) {
        problems.push_back(withError("cannot delete " + name, deleted));
    }
    if (saved.keyExisted) {
        return;
    }
    // A key someone else has put something in since stays.
    const RegKeyInfo info = os.regQueryInfoKeyW(key.get());
    key.reset();
    if (info.status != win::ERROR_SUCCESS_ || info.subKeys != 0 || info.values != 0) {
        problems.push_back("kept " + autoRunKeyName() + ": it was made during the check and holds more now");
        return;
    }
    const std::uint32_t removed = os.regDeleteKeyExW(RegistryRoot::LocalMachine, kAutoRunKey);
    if (removed != win::ERROR_SUCCESS_ && removed != win::ERROR_FILE_NOT_FOUND_) {
        problems.push_back(withError("cannot delete " + autoRunKeyName(), removed));
    }
}

std::string autoRunText(const SavedAutoRun& state) {
    if (!state.keyExisted) {
        return "no key";
    }
    return state.value ? std::to_string(*state.value) : "no value";
}

}  // namespace

std::optional<SavedMachineState> SavedMachineState::read(Host& host, std::string& why) {
    SavedMachineState state;
    const std::wstring libraryFolder = host.libraryFolder();
    const std::wstring dataDirectory = DataDirectory();
    std::vector<std::wstring> paths;
    for (const wchar_t* name : kLibraryFolderFiles) {
        paths.push_back(libraryFolder + name);
    }
    for (const wchar_t* name : kDataDirectoryFiles) {
        paths.push_back(dataDirectory + name);
    }
    for (const std::wstring& path : paths) {
        auto file = readFileState(path, why);
        if (!file) {
            return std::nullopt;
        }
        state.files_.push_back(*file);
    }
    const std::wstring dataFolder = PathRemoveFileSpec(dataDirectory);
    for (const std::wstring& folder : {dataFolder, PathRemoveFileSpec(dataFolder)}) {
        state.folders_.push_back({folder, platform().getFileAttributesW(folder).has_value()});
    }
    auto autoRun = readAutoRun(why);
    if (!autoRun) {
        return std::nullopt;
    }
    state.autoRun_ = *autoRun;
    return state;
}

std::vector<std::string> SavedMachineState::restore(Host& host) const {
    std::vector<std::string> problems;
    for (const SavedFile& file : files_) {
        restoreFile(file, problems);
    }
    for (const SavedFolder& folder : folders_) {
        if (!folder.existed && platform().getFileAttributesW(folder.path) &&
            !host.removeEmptyFolder(folder.path)) {
            problems.push_back("cannot remove " + toUtf8(folder.path) + ", which the check made");
        }
    }
    restoreAutoRun(autoRun_, problems);
    return problems;
}

std::vector<std::string> SavedMachineState::differences(const SavedMachineState& now) const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < files_.size() && i < now.files_.size(); ++i) {
        const SavedFile& before = files_[i];
        const SavedFile& after = now.files_[i];
        if (before.existed != after.existed) {
            lines.push_back(toUtf8(before.path) + (before.existed ? " is gone" : " was left behind"));
        } else if (before.bytes != after.bytes || before.attributes != after.attributes) {
            lines.push_back(toUtf8(before.path) + " has changed");
        }
    }
    for (std::size_t i = 0; i < folders_.size() && i < now.folders_.size(); ++i) {
        if (folders_[i].existed != now.folders_[i].existed) {
            lines.push_back(toUtf8(folders_[i].path) +
                            (folders_[i].existed ? " is gone" : " was left behind"));
        }
    }
    if (autoRun_.keyExisted != now.autoRun_.keyExisted || autoRun_.value != now.autoRun_.value) {
        lines.push_back(std::string("the AutoRun policy was ") + autoRunText(autoRun_) + " and is " +
                        autoRunText(now.autoRun_));
    }
    return lines;
}

std::vector<std::wstring> SavedMachineState::hostDriveStateFiles() const {
    std::vector<std::wstring> found;
    for (std::size_t i = 0; i < kHostDriveStateFiles && i < files_.size(); ++i) {
        if (files_[i].existed) {
            found.push_back(files_[i].path);
        }
    }
    return found;
}

}  // namespace kvph::tool
