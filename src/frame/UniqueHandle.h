// Single-owner platform handles, closed through the seam.
#pragma once

#include <utility>

#include "platform/Platform.h"

namespace kvph {

// A handle whose "no handle" values are both NULL and INVALID_HANDLE_VALUE, as CreateFile returns them.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, kNullHandle)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.handle_, kNullHandle));
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    static bool isValid(Handle handle) { return handle != kNullHandle && handle != kInvalidHandle; }
    bool valid() const { return isValid(handle_); }
    Handle get() const { return handle_; }
    Handle release() { return std::exchange(handle_, kNullHandle); }
    void reset(Handle handle = kNullHandle) {
        if (valid()) {
            platform().closeHandle(handle_);
        }
        handle_ = handle;
    }

private:
    Handle handle_ = kNullHandle;
};

}  // namespace kvph
