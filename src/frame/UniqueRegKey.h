// Single-owner registry key handles, closed through the seam.
#pragma once

#include <utility>

#include "platform/Platform.h"

namespace kvph {

// An open registry key; "no key" is the null handle, as RegOpenKeyExW and RegCreateKeyExW leave it.
class UniqueRegKey {
public:
    UniqueRegKey() = default;
    explicit UniqueRegKey(Handle key) : key_(key) {}
    ~UniqueRegKey() { reset(); }
    UniqueRegKey(UniqueRegKey&& other) noexcept : key_(std::exchange(other.key_, kNullHandle)) {}
    UniqueRegKey& operator=(UniqueRegKey&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.key_, kNullHandle));
        }
        return *this;
    }
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;

    bool valid() const { return key_ != kNullHandle; }
    Handle get() const { return key_; }
    void reset(Handle key = kNullHandle) {
        if (valid()) {
            platform().regCloseKey(key_);
        }
        key_ = key;
    }

private:
    Handle key_ = kNullHandle;
};

}  // namespace kvph
