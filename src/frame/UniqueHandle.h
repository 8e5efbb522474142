// Single-owner platform handles, one type per handle kind, each closed through the seam call that
// frees its kind. The traits name a kind's "no handle" values and its close call.
#pragma once

#include <utility>

#include "platform/Platform.h"

namespace kvph {

// Kernel handles (files, devices, mutexes) closed with CloseHandle. CreateFile fails with
// INVALID_HANDLE_VALUE and most other calls with NULL; neither is ever closed (-1 is also the current
// process's pseudo-handle), so one type holds what any of them returns and callers need not know
// which failure value their call uses.
struct KernelHandleTraits {
    static bool isValid(Handle handle) { return handle != kNullHandle && handle != kInvalidHandle; }
    static void close(Handle handle) { platform().closeHandle(handle); }
};

// Object-namespace handles (symbolic links) opened through the native API and closed with NtClose.
struct NtHandleTraits {
    static bool isValid(Handle handle) { return handle != kNullHandle; }
    static void close(Handle handle) { platform().ntClose(handle); }
};

// A handle used but not owned: whoever lent it closes it, after every borrower is gone.
class BorrowedHandle {
public:
    BorrowedHandle() = default;
    explicit BorrowedHandle(Handle handle) : handle_(handle) {}
    Handle get() const { return handle_; }

private:
    Handle handle_ = kNullHandle;
};

template <typename Traits>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(Handle handle) : handle_(handle) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : handle_(std::exchange(other.handle_, kNullHandle)) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.handle_, kNullHandle));
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    bool valid() const { return Traits::isValid(handle_); }
    Handle get() const { return handle_; }
    BorrowedHandle borrow() const { return BorrowedHandle(handle_); }
    Handle release() { return std::exchange(handle_, kNullHandle); }
    // Closes the handle held so far, if any, and keeps `handle` as the call returned it.
    void reset(Handle handle = kNullHandle) {
        if (valid()) {
            Traits::close(handle_);
        }
        handle_ = handle;
    }

private:
    Handle handle_ = kNullHandle;
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueNtHandle = UniqueResource<NtHandleTraits>;

// A mutex handle together with the ownership of the mutex: released, when held, before it is closed.
class HeldMutex {
public:
    HeldMutex() = default;
    HeldMutex(UniqueHandle mutex, bool held) : mutex_(std::move(mutex)), held_(held && mutex_.valid()) {}
    ~HeldMutex() {
        if (held_) {
            platform().releaseMutex(mutex_.get());
        }
    }
    HeldMutex(const HeldMutex&) = delete;
    HeldMutex& operator=(const HeldMutex&) = delete;

    bool held() const { return held_; }

private:
    UniqueHandle mutex_;  // closed after the destructor's body has released it
    bool held_ = false;
};

}  // namespace kvph
