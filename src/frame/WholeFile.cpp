#include "frame/WholeFile.h"

#include <cstdint>

#include "frame/UniqueHandle.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr std::uint32_t kReadChunkBytes = 64 * 1024;

}  // namespace

std::optional<std::string> readWholeFile(const std::wstring& path) {
    Platform& os = platform();
    UniqueHandle file(os.createFileW(path, win::GENERIC_READ_, win::FILE_SHARE_READ_ | win::FILE_SHARE_WRITE_,
                                     win::OPEN_EXISTING_, win::FILE_ATTRIBUTE_NORMAL_)
                          .handle);
    if (!file.valid()) {
        return std::nullopt;
    }
    std::string bytes;
    for (;;) {
        const ReadResult chunk = os.readFile(file.get(), kReadChunkBytes);
        if (!chunk.ok) {
            return std::nullopt;
        }
        if (chunk.data.empty()) {
            return bytes;
        }
        bytes.append(chunk.data.begin(), chunk.data.end());
    }
}

}  // namespace kvph
