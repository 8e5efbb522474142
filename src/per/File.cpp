#include "per/File.h"

#include "platform/WinConstants.h"

namespace PER {

namespace win = kvph::win;

File::File() = default;

bool File::Open() {
    const std::uint32_t disposition = createAlways_ ? win::CREATE_ALWAYS_ : win::OPEN_EXISTING_;
    const kvph::HandleResult opened = kvph::platform().createFileA(
        path_, DesiredAccess(), win::FILE_SHARE_READ_ | win::FILE_SHARE_WRITE_, disposition,
        win::FILE_FLAG_WRITE_THROUGH_ | win::FILE_FLAG_RANDOM_ACCESS_);
    return TakeHandle(opened.handle);
}

std::uint32_t File::DesiredAccess() const {
    return readOnly_ ? win::GENERIC_READ_ : win::GENERIC_READ_ | win::GENERIC_WRITE_;
}

bool File::TakeHandle(kvph::Handle handle) {
    handle_.reset(handle);
    return handle_.valid();
}

}  // namespace PER
