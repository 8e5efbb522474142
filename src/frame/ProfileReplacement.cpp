#include "frame/ProfileReplacement.h"

#include <utility>

#include "frame/Folders.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr wchar_t kTemporarySuffix[] = L".tmp";

}  // namespace

std::wstring replacementPath(const std::wstring& path) {
    return path + kTemporarySuffix;
}

ProfileReplacement::ProfileReplacement(std::wstring path)
    : path_(std::move(path)), temporaryPath_(replacementPath(path_)) {
    DeleteAnyFile(temporaryPath_);
}

ProfileReplacement::~ProfileReplacement() {
    if (committed_) {
        return;
    }
    try {
        platform().deleteFileW(temporaryPath_);
    } catch (...) {
        // A leftover temporary file is deleted by the next replacement of the same file.
    }
}

bool ProfileReplacement::write(const std::wstring& section, const std::wstring& key,
                               const std::wstring& value) {
    return platform().writePrivateProfileStringW(section, key, value, temporaryPath_).ok;
}

bool ProfileReplacement::commit(std::uint32_t attributes) {
    Platform& os = platform();
    os.setFileAttributesW(path_, win::FILE_ATTRIBUTE_NORMAL_);
    committed_ =
        os.moveFileExW(temporaryPath_, path_, win::MOVEFILE_REPLACE_EXISTING_ | win::MOVEFILE_WRITE_THROUGH_)
            .ok;
    os.setFileAttributesW(path_, attributes);
    return committed_;
}

}  // namespace kvph
