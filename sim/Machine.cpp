#include "Machine.h"

#include <cstdio>

#include "SimText.h"
#include "platform/WinConstants.h"

namespace sim {
namespace {

namespace win = kvph::win;

constexpr std::uint32_t kErrorNotOwner = 288;
constexpr std::uint32_t kWaitTimeout = 0x102;
constexpr wchar_t kSystemFolder[] = L"\\System32";

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// OutputDebugString stops at the first NUL of the text it is given.
template <typename String>
String upToNul(const String& s) {
    return s.substr(0, s.find(typename String::value_type{}));
}

}  // namespace

Machine::Machine() = default;

Machine::Machine(MachineModel model) : model_(std::move(model)) {
    for (VirtualDisk& vdisk : model_.vdisks) {
        if (vdisk.attached) {
            plugInVdisk(vdisk);
        }
    }
}

Machine::~Machine() {
    // A test that stopped while holding the call lock must not leave the mutex locked when it dies.
    if (callMutexDepth_ > 0 && callMutex_.try_lock()) {
        callMutex_.unlock();
        for (; callMutexDepth_ > 0; --callMutexDepth_) {
            callMutex_.unlock();
        }
    }
}

std::wstring Machine::pathKey(const std::wstring& path) {
    std::wstring key;
    key.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        const wchar_t c = isSeparator(path[i]) ? L'\\' : text::upper(path[i]);
        // Doubled separators name the same folder; only a leading "\\" (device and UNC paths) counts.
        if (c == L'\\' && i > 1 && key.back() == L'\\') {
            continue;
        }
        key += c;
    }
    if (key.size() == 2 && key[1] == L':') {
        key += L'\\';
    }
    while (key.size() > 1 && key.back() == L'\\' && !(key.size() == 3 && key[1] == L':')) {
        key.pop_back();
    }
    return key;
}

std::vector<std::wstring> Machine::logTexts() const {
    std::vector<std::wstring> texts;
    texts.reserve(log_.size());
    for (const LogLine& line : log_) {
        texts.push_back(line.text);
    }
    return texts;
}

std::optional<std::uint32_t> Machine::enter(const char* method, const std::wstring& argument) {
    ++callCounts_[method];
    for (Fault& fault : faults_) {
        if (fault.method != method || fault.times == 0) {
            continue;
        }
        if (!fault.argumentContains.empty() && !text::containsNoCase(argument, fault.argumentContains)) {
            continue;
        }
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        if (fault.times > 0) {
            --fault.times;
        }
        return fault.error;
    }
    return std::nullopt;
}

kvph::Handle Machine::addHandle(OpenObject object) {
    const kvph::Handle handle = nextHandle_;
    nextHandle_ += 4;  // handle values are multiples of four, as the platform hands them out
    handles_.emplace(handle, std::move(object));
    return handle;
}

Machine::OpenObject* Machine::findHandle(kvph::Handle handle) {
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &it->second;
}

kvph::BoolResult Machine::closeHandle(kvph::Handle handle) {
    std::wstring argument;
    if (OpenObject* object = findHandle(handle);
        object != nullptr && std::holds_alternative<OpenFile>(*object)) {
        argument = std::get<OpenFile>(*object).key;
    }
    if (auto error = enter("closeHandle", argument)) {
        return {false, *error};
    }
    if (handles_.erase(handle) == 0) {
        return {false, win::ERROR_INVALID_HANDLE_};
    }
    return {true, 0};
}

void Machine::outputDebugStringW(const std::wstring& message) {
    enter("outputDebugStringW", message);
    log_.push_back({true, upToNul(message)});
}

void Machine::outputDebugStringA(const std::string& message) {
    enter("outputDebugStringA", text::widen(message));
    log_.push_back({false, text::widen(upToNul(message))});
}

void Machine::sleep(std::uint32_t milliseconds) {
    enter("sleep");
    clockMs_ += milliseconds;
    sleeps_.push_back(milliseconds);
}

std::optional<std::wstring> Machine::shGetSpecialFolderPathW(int csidl, bool create) {
    if (enter("shGetSpecialFolderPathW") || csidl != win::CSIDL_COMMON_APPDATA_) {
        return std::nullopt;
    }
    const std::wstring& path = model_.commonAppData;
    if (create && !createFolderChain(path)) {
        return std::nullopt;
    }
    return path;
}

std::optional<std::wstring> Machine::getModuleFileNameW(std::uint32_t bufferUnits) {
    if (enter("getModuleFileNameW") || bufferUnits == 0) {
        return std::nullopt;
    }
    // A buffer that is too small receives the path cut to its size, as the platform leaves it.
    return text::cutToUtf16(model_.libraryPath, bufferUnits - 1);
}

std::optional<std::wstring> Machine::getSystemDirectoryW(std::uint32_t bufferUnits) {
    if (enter("getSystemDirectoryW")) {
        return std::nullopt;
    }
    std::wstring path = model_.windowsDirectory;
    while (!path.empty() && isSeparator(path.back())) {
        path.pop_back();
    }
    path += kSystemFolder;
    if (text::utf16Length(path) >= bufferUnits) {
        return std::nullopt;
    }
    return path;
}

kvph::HandleResult Machine::createMutexW(const std::wstring& name) {
    if (auto error = enter("createMutexW", name)) {
        return {kvph::kNullHandle, *error};
    }
    return {addHandle(OpenMutex{name}), 0};
}

std::uint32_t Machine::waitForSingleObject(kvph::Handle handle, std::uint32_t milliseconds) {
    if (enter("waitForSingleObject")) {
        return win::WAIT_FAILED_;
    }
    OpenObject* object = findHandle(handle);
    if (object == nullptr || !std::holds_alternative<OpenMutex>(*object)) {
        return win::WAIT_FAILED_;
    }
    if (milliseconds == win::INFINITE_) {
        callMutex_.lock();
    } else if (!callMutex_.try_lock()) {
        return kWaitTimeout;
    }
    ++callMutexDepth_;
    return win::WAIT_OBJECT_0_;
}

kvph::BoolResult Machine::releaseMutex(kvph::Handle mutex) {
    if (auto error = enter("releaseMutex")) {
        return {false, *error};
    }
    OpenObject* object = findHandle(mutex);
    if (object == nullptr || !std::holds_alternative<OpenMutex>(*object)) {
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

std::optional<std::string> Machine::wideToAnsi(const std::wstring& textToConvert) {
    if (enter("wideToAnsi", textToConvert)) {
        return std::nullopt;
    }
    return toAnsi(upToNul(textToConvert));
}

std::optional<std::wstring> Machine::ansiToWide(const std::string& bytes) {
    if (enter("ansiToWide", text::widen(bytes))) {
        return std::nullopt;
    }
    return fromAnsi(upToNul(bytes));
}

std::string Machine::toAnsi(const std::wstring& wide) const {
    return text::toCodePage(wide, model_.codePage);
}

std::wstring Machine::fromAnsi(const std::string& bytes) const {
    return text::fromCodePage(bytes, model_.codePage);
}

std::optional<std::wstring> Machine::stringFromCLSID(const std::uint8_t (&guid)[16], std::uint32_t& error) {
    if (auto injected = enter("stringFromCLSID")) {
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
