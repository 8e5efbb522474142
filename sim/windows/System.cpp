#include "sim/windows/System.h"

#include <cstdio>

#include "platform/WinConstants.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;

constexpr std::uint32_t kErrorNotOwner = 288;
constexpr std::uint32_t kWaitTimeout = 0x102;

// OutputDebugString stops at the first NUL of the text it is given.
template <typename String>
String upToNul(const String& s) {
    return s.substr(0, s.find(typename String::value_type{}));
}

}  // namespace

System::~System() {
    // A test that stopped while holding the call lock must not leave the mutex locked when it dies.
    if (callMutexDepth_ > 0 && callMutex_.try_lock()) {
        callMutex_.unlock();
        for (; callMutexDepth_ > 0; --callMutexDepth_) {
            callMutex_.unlock();
        }
    }
}

void System::outputDebugStringW(const std::wstring& message) {
    calls_.enter("outputDebugStringW", message);
    log_.push_back({true, upToNul(message)});
}

void System::outputDebugStringA(const std::string& message) {
    calls_.enter("outputDebugStringA", text::widen(message));
    log_.push_back({false, text::widen(upToNul(message))});
}

void System::sleep(std::uint32_t milliseconds) {
    calls_.enter("sleep");
    clockMs_ += milliseconds;
    sleeps_.push_back(milliseconds);
}

kvph::HandleResult System::createMutexW(const std::wstring& name) {
    if (auto error = calls_.enter("createMutexW", name)) {
        return {kvph::kNullHandle, *error};
    }
    return {handles_.add(OpenMutex{name}), 0};
}

std::optional<std::uint32_t> System::checkWait(kvph::Handle handle) {
    if (calls_.enter("waitForSingleObject") || handles_.findAs<OpenMutex>(handle) == nullptr) {
        return win::WAIT_FAILED_;
    }
    return std::nullopt;
}

std::uint32_t System::takeCallLock(std::uint32_t milliseconds) {
    if (milliseconds == win::INFINITE_) {
        callMutex_.lock();
    } else if (!callMutex_.try_lock()) {
        return kWaitTimeout;
    }
    ++callMutexDepth_;
    return win::WAIT_OBJECT_0_;
}

kvph::BoolResult System::releaseMutex(kvph::Handle mutex) {
    if (auto error = calls_.enter("releaseMutex")) {
        return {false, *error};
    }
    if (handles_.findAs<OpenMutex>(mutex) == nullptr) {
        return {false, win::ERROR_INVALID_HANDLE_};
    }
    // try_lock succeeds only for the owning thread or when nobody holds the mutex; the depth tells
    // the two apart and is only read while the mutex is held.
    if (!callMutex_.try_lock()) {
        return {false, kErrorNotOwner};
    }
    const bool owned = callMutexDepth_ > 0;
    if (owned) {
        --callMutexDepth_;
        callMutex_.unlock();
    }
    callMutex_.unlock();
    return owned ? kvph::BoolResult{true, 0} : kvph::BoolResult{false, kErrorNotOwner};
}

kvph::BoolResult System::closeHandle(kvph::Handle handle) {
    const OpenFile* file = handles_.findAs<OpenFile>(handle);
    if (auto error = calls_.enter("closeHandle", file != nullptr ? file->key : std::wstring())) {
        return {false, *error};
    }
    if (!handles_.close(handle)) {
        return {false, win::ERROR_INVALID_HANDLE_};
    }
    return {true, 0};
}

std::int32_t System::ntClose(kvph::Handle handle) {
    if (auto error = calls_.enter("ntClose")) {
        return ntStatusFor(*error);
    }
    return handles_.close(handle) ? win::STATUS_SUCCESS_ : win::STATUS_INVALID_HANDLE_;
}

std::optional<std::string> System::wideToAnsi(const std::wstring& textToConvert, std::uint32_t flags) {
    if (calls_.enter("wideToAnsi", textToConvert)) {
        return std::nullopt;
    }
    return codePage_.toAnsi(upToNul(textToConvert), (flags & win::WC_NO_BEST_FIT_CHARS_) == 0);
}

std::optional<std::wstring> System::ansiToWide(const std::string& bytes) {
    if (calls_.enter("ansiToWide", codePage_.fromAnsi(bytes))) {
        return std::nullopt;
    }
    return codePage_.fromAnsi(upToNul(bytes));
}

std::optional<std::wstring> System::stringFromCLSID(const std::uint8_t (&guid)[16], std::uint32_t& error) {
    if (auto injected = calls_.enter("stringFromCLSID")) {
        error = *injected;
        return std::nullopt;
    }
    const auto u16 = [&](int at) { return static_cast<unsigned>(guid[at] | (guid[at + 1] << 8)); };
    const unsigned long data1 =
        static_cast<unsigned long>(guid[0]) | (static_cast<unsigned long>(guid[1]) << 8) |
        (static_cast<unsigned long>(guid[2]) << 16) | (static_cast<unsigned long>(guid[3]) << 24);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, u16(4),
                  u16(6), guid[8], guid[9], guid[10], guid[11], guid[12], guid[13], guid[14], guid[15]);
    error = 0;
    return text::widen(buffer);
}

}  // namespace sim
