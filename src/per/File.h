// One platform handle opened from a narrow path, owned until the file goes. DriveDevice opens it.
#pragma once

#include <cstdint>
#include <string>

#include "frame/UniqueHandle.h"

namespace PER {

class File {
public:
    File();
    virtual ~File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    void SetPath(std::string path) { path_ = std::move(path); }
    const std::string& GetPath() const { return path_; }
    // GENERIC_READ only when set, else GENERIC_READ | GENERIC_WRITE.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    kvph::Handle GetFileHandle() const { return handle_.get(); }
    // The handle for objects that use it while this file stays open.
    kvph::BorrowedHandle BorrowHandle() const { return handle_.borrow(); }

protected:
    std::uint32_t DesiredAccess() const;
    // Keeps what CreateFileA returned, closing a handle opened before; true (and open) unless it is
    // NULL or INVALID_HANDLE_VALUE.
    bool TakeHandle(kvph::Handle handle);

private:
    kvph::UniqueHandle handle_;
    bool readOnly_ = false;
    std::string path_;
};

}  // namespace PER
