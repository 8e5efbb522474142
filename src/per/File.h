// One platform handle opened from a narrow path; closed by the destructor when the open succeeded.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace PER {

class File {
public:
    File();
    virtual ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // CreateFileA with write-through, random-access flags; CREATE_ALWAYS when createAlways is set.
    virtual bool Open();

    void SetPath(std::string path) { path_ = std::move(path); }
    const std::string& GetPath() const { return path_; }
    // GENERIC_READ only when set, else GENERIC_READ | GENERIC_WRITE.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    void SetCreateAlways(bool createAlways) { createAlways_ = createAlways; }
    bool IsOpen() const { return isOpen_; }
    kvph::Handle GetFileHandle() const { return handle_; }

protected:
    std::uint32_t DesiredAccess() const;
    // Keeps what CreateFileA returned; true (and open) unless it is NULL or INVALID_HANDLE_VALUE.
    bool TakeHandle(kvph::Handle handle);

private:
    bool isOpen_ = false;
    kvph::Handle handle_ = kvph::kNullHandle;
    bool readOnly_ = false;
    bool createAlways_ = false;
    std::string path_;
};

}  // namespace PER
