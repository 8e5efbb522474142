#include "per/File.h"

#include "platform/WinConstants.h"

namespace PER {

namespace win = kvph::win;

File::File() = default;

std::uint32_t File::DesiredAccess() const {
    return readOnly_ ? win::GENERIC_READ_ : win::GENERIC_READ_ | win::GENERIC_WRITE_;
}

bool File::TakeHandle(kvph::Handle handle) {
    handle_.reset(handle);
    return handle_.valid();
}

}  // namespace PER
