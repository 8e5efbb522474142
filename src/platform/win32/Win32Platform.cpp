// The real backend of the seam: each method calls the Win32 function it is named after and translates
// between its types and the portable ones. Buffer sizes, flags and call order come from the caller.
#include <windows.h>

#include <aclapi.h>
#include <direct.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kvph {
namespace {

static_assert(sizeof(SHELLEXECUTEINFOW) == 112, "SHELLEXECUTEINFOW of the x64 platform");

HANDLE toNative(Handle handle) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}
Handle fromNative(HANDLE handle) {
    return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(handle));
}

// Empty optional text fields are passed as "not given".
const wchar_t* textOrNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}

// A security descriptor converted from SDDL, freed with LocalFree; empty text gives none.
class SecurityDescriptor {
public:
    explicit SecurityDescriptor(const std::wstring& sddl) {
        if (!sddl.empty() && !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                 sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)) {
            error_ = GetLastError();
        }
    }
    ~SecurityDescriptor() { LocalFree(descriptor_); }
    SecurityDescriptor(const SecurityDescriptor&) = delete;
    SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;

    DWORD error() const { return error_; }
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }
    // The attributes to create an object with; nullptr (the defaults) without a descriptor.
    SECURITY_ATTRIBUTES* attributes() {
        if (descriptor_ == nullptr) {
            return nullptr;
        }
        attributes_ = {sizeof(attributes_), descriptor_, FALSE};
        return &attributes_;
    }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
    DWORD error_ = ERROR_SUCCESS;
};

HKEY rootKey(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// Looks up an export and gives it the type the caller declares; GetProcAddress returns a generic pointer.
template <typename Function>
Function procedure(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The native counted string and object attributes, as ntdll expects them on x64.
struct NativeString {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};
struct NativeObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    NativeString* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
static_assert(sizeof(NativeObjectAttributes) == 48, "OBJECT_ATTRIBUTES of the x64 platform");

using NtOpenSymbolicLinkObjectCall = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, NativeObjectAttributes*);
using NtQuerySymbolicLinkObjectCall = LONG(NTAPI*)(HANDLE, NativeString*, PULONG);
using NtCloseCall = LONG(NTAPI*)(HANDLE);

constexpr LONG kStatusProcedureNotFound = static_cast<LONG>(0xC000007Au);

ProcessOutcome waitForExit(HANDLE process) {
    ProcessOutcome outcome;
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) {
        outcome.stage = ProcessOutcome::Stage::WaitFailed;
        outcome.error = GetLastError();
        CloseHandle(process);
        return outcome;
    }
    DWORD exitCode = 0;
    const BOOL read = GetExitCodeProcess(process, &exitCode);
    outcome.error = read ? ERROR_SUCCESS : GetLastError();
    CloseHandle(process);
    outcome.stage = read ? ProcessOutcome::Stage::Exited : ProcessOutcome::Stage::ExitCodeUnreadable;
    outcome.exitCode = read ? exitCode : 0;
    return outcome;
}

class Win32Platform final : public Platform {
public:
    void outputDebugStringW(const std::wstring& message) override { OutputDebugStringW(message.c_str()); }
    void outputDebugStringA(const std::string& message) override { OutputDebugStringA(message.c_str()); }
    void sleep(std::uint32_t milliseconds) override { Sleep(milliseconds); }

    std::optional<std::wstring> shGetSpecialFolderPathW(int csidl, bool create) override {
        wchar_t path[MAX_PATH] = {};
        if (!SHGetSpecialFolderPathW(nullptr, path, csidl, create ? TRUE : FALSE)) {
            return std::nullopt;
        }
        return std::wstring(path);
    }

    std::optional<std::wstring> getModuleFileNameW(std::uint32_t bufferUnits) override {
        HMODULE self = nullptr;
        const auto flags =
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
        if (!GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&moduleMarker), &self)) {
            return std::nullopt;
        }
        std::vector<wchar_t> buffer(bufferUnits + 1, L'\0');
        // A buffer that is too small gets the path cut and terminated within it, and the call returns the
        // buffer's size; the text ends at the terminator, not at the returned count.
        if (GetModuleFileNameW(self, buffer.data(), bufferUnits) == 0) {
            return std::nullopt;
        }
        return std::wstring(buffer.data());
    }

    std::optional<std::wstring> getSystemDirectoryW(std::uint32_t bufferUnits) override {
        std::vector<wchar_t> buffer(bufferUnits + 1, L'\0');
        const UINT length = GetSystemDirectoryW(buffer.data(), bufferUnits);
        // A result of bufferUnits or more is the size the buffer would have needed.
        if (length == 0 || length >= bufferUnits) {
            return std::nullopt;
        }
        return std::wstring(buffer.data(), length);
    }

    bool pathFileExistsW(const std::wstring& path) override { return PathFileExistsW(path.c_str()) != FALSE; }

    BoolResult setFileAttributesW(const std::wstring& path, std::uint32_t attributes) override {
        return boolResult(SetFileAttributesW(path.c_str(), attributes));
    }

    std::optional<std::uint32_t> getFileAttributesW(const std::wstring& path) override {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return std::nullopt;
        }
        return attributes;
    }

    BoolResult deleteFileW(const std::wstring& path) override {
        return boolResult(DeleteFileW(path.c_str()));
    }

    BoolResult moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                           std::uint32_t flags) override {
        return boolResult(MoveFileExW(existing.c_str(), replacement.c_str(), flags));
    }

    FileAttributeData getFileAttributesExW(const std::wstring& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            return {false, 0, 0, GetLastError()};
        }
        const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return {true, data.dwFileAttributes, size, ERROR_SUCCESS};
    }

    bool pathFileExistsA(const std::string& path) override { return PathFileExistsA(path.c_str()) != FALSE; }

    BoolResult setFileAttributesA(const std::string& path, std::uint32_t attributes) override {
        return boolResult(SetFileAttributesA(path.c_str(), attributes));
    }

    BoolResult deleteFileA(const std::string& path) override { return boolResult(DeleteFileA(path.c_str())); }

    int wmkdir(const std::wstring& path) override { return _wmkdir(path.c_str()); }

    BoolResult removeDirectoryW(const std::wstring& path) override {
        return boolResult(RemoveDirectoryW(path.c_str()));
    }

    HandleResult createFileW(const std::wstring& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                             const std::wstring& securityDescriptor) override {
        SecurityDescriptor security(securityDescriptor);
        if (security.error() != ERROR_SUCCESS) {
            return {fromNative(INVALID_HANDLE_VALUE), security.error()};
        }
        const HANDLE file = CreateFileW(path.c_str(), desiredAccess, shareMode, security.attributes(),
                                        creationDisposition, flagsAndAttributes, nullptr);
        return {fromNative(file), GetLastError()};
    }

    BoolResult createDirectoryW(const std::wstring& path, const std::wstring& securityDescriptor) override {
        SecurityDescriptor security(securityDescriptor);
        if (security.error() != ERROR_SUCCESS) {
            return {false, security.error()};
        }
        const BOOL ok = CreateDirectoryW(path.c_str(), security.attributes());
        return {ok != FALSE, ok ? ERROR_SUCCESS : GetLastError()};
    }

    BoolResult setNamedSecurityInfoW(const std::wstring& path, std::uint32_t securityInformation,
                                     const std::wstring& securityDescriptor) override {
        SecurityDescriptor security(securityDescriptor);
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL defaulted = FALSE;
        BOOL present = FALSE;
        if (security.get() == nullptr || !GetSecurityDescriptorOwner(security.get(), &owner, &defaulted) ||
            !GetSecurityDescriptorDacl(security.get(), &present, &dacl, &defaulted)) {
            return {false, security.error() != ERROR_SUCCESS ? security.error() : GetLastError()};
        }
        std::vector<wchar_t> name(path.begin(), path.end());
        name.push_back(L'\0');
        const DWORD status = SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, securityInformation, owner,
                                                   nullptr, dacl, nullptr);
        return {status == ERROR_SUCCESS, status};
    }

    HandleResult createFileA(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override {
        const HANDLE file = CreateFileA(path.c_str(), desiredAccess, shareMode, nullptr, creationDisposition,
                                        flagsAndAttributes, nullptr);
        return {fromNative(file), GetLastError()};
    }

    WriteResult writeFile(Handle file, const Bytes& data) override {
        DWORD written = 0;
        const BOOL ok =
            WriteFile(toNative(file), data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
        return {ok != FALSE, written, ok ? ERROR_SUCCESS : GetLastError()};
    }

    ReadResult readFile(Handle file, std::uint32_t bytesToRead) override {
        ReadResult result;
        result.data.assign(bytesToRead, 0);
        DWORD read = 0;
        result.ok = ReadFile(toNative(file), result.data.data(), bytesToRead, &read, nullptr) != FALSE;
        result.error = result.ok ? ERROR_SUCCESS : GetLastError();
        result.data.resize(read);
        return result;
    }

    BoolResult flushFileBuffers(Handle file) override { return boolResult(FlushFileBuffers(toNative(file))); }
    BoolResult closeHandle(Handle handle) override { return boolResult(CloseHandle(toNative(handle))); }

    std::wstring getPrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& defaultValue, std::uint32_t bufferUnits,
                                          const std::wstring& file) override {
        std::vector<wchar_t> buffer(bufferUnits + 1, L'\0');
        const DWORD copied = GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(),
                                                      buffer.data(), bufferUnits, file.c_str());
        return std::wstring(buffer.data(), copied);
    }

    std::uint32_t getPrivateProfileIntW(const std::wstring& section, const std::wstring& key,
                                        std::int32_t defaultValue, const std::wstring& file) override {
        return GetPrivateProfileIntW(section.c_str(), key.c_str(), defaultValue, file.c_str());
    }

    BoolResult writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& value, const std::wstring& file) override {
        return boolResult(
            WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), file.c_str()));
    }

    ProcessOutcome createProcessAndWait(const std::wstring& applicationName, const std::wstring& commandLine,
                                        std::uint32_t creationFlags) override {
        // CreateProcessW may write into the command line, so it gets a copy of its own.
        std::vector<wchar_t> writableLine(commandLine.begin(), commandLine.end());
        writableLine.push_back(L'\0');
        STARTUPINFOW startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(textOrNull(applicationName), writableLine.data(), nullptr, nullptr, FALSE,
                            creationFlags, nullptr, nullptr, &startup, &process)) {
            return {ProcessOutcome::Stage::NotStarted, 0, GetLastError()};
        }
        CloseHandle(process.hThread);
        return waitForExit(process.hProcess);
    }

    ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                       const std::wstring& parameters, const std::wstring& directory,
                                       int showCommand) override {
        SHELLEXECUTEINFOW execute;
        std::memset(&execute, 0, sizeof execute);
        execute.cbSize = sizeof execute;
        execute.fMask = SEE_MASK_NOCLOSEPROCESS;
        execute.lpVerb = textOrNull(verb);
        execute.lpFile = file.c_str();
        execute.lpParameters = parameters.c_str();
        execute.lpDirectory = textOrNull(directory);
        execute.nShow = showCommand;
        if (!ShellExecuteExW(&execute)) {
            return {ProcessOutcome::Stage::NotStarted, 0, GetLastError()};
        }
        // Success without a process (the request was handed to a running program) cannot be waited for.
        if (execute.hProcess == nullptr) {
            return {ProcessOutcome::Stage::WaitFailed, 0, ERROR_INVALID_HANDLE};
        }
        return waitForExit(execute.hProcess);
    }

    HandleResult createMutexW(const std::wstring& name) override {
        const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
        return {fromNative(mutex), GetLastError()};
    }

    std::uint32_t waitForSingleObject(Handle handle, std::uint32_t milliseconds) override {
        return WaitForSingleObject(toNative(handle), milliseconds);
    }

    BoolResult releaseMutex(Handle mutex) override { return boolResult(ReleaseMutex(toNative(mutex))); }

    // nullopt when the key cannot be opened, the value is missing, or it is not a REG_DWORD.
    std::optional<std::uint32_t> regQueryDword(RegistryRoot root, const std::wstring& subKey,
                                               const std::wstring& valueName) override {
        HKEY key = nullptr;
        if (RegOpenKeyExW(rootKey(root), subKey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        DWORD value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        const LONG status =
            RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS || type != REG_DWORD) {
            return std::nullopt;
        }
        return value;
    }

    BoolResult regSetDword(RegistryRoot root, const std::wstring& subKey, const std::wstring& valueName,
                           std::uint32_t value) override {
        HKEY key = nullptr;
        LONG status = RegCreateKeyExW(rootKey(root), subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            return {false, static_cast<std::uint32_t>(status)};
        }
        const DWORD data = value;
        status = RegSetValueExW(key, valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                sizeof data);
        RegCloseKey(key);
        return {status == ERROR_SUCCESS, static_cast<std::uint32_t>(status)};
    }

    BoolResult regDeleteValue(RegistryRoot root, const std::wstring& subKey,
                              const std::wstring& valueName) override {
        HKEY key = nullptr;
        LONG status = RegOpenKeyExW(rootKey(root), subKey.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
        if (status != ERROR_SUCCESS) {
            return {false, static_cast<std::uint32_t>(status)};
        }
        status = RegDeleteValueW(key, valueName.c_str());
        RegCloseKey(key);
        return {status == ERROR_SUCCESS, static_cast<std::uint32_t>(status)};
    }

    HandleResult regOpenKeyExW(RegistryRoot root, const std::wstring& subKey, std::uint32_t access) override {
        HKEY key = nullptr;
        const LONG status = RegOpenKeyExW(rootKey(root), subKey.c_str(), 0, access | KEY_WOW64_64KEY, &key);
        return {status == ERROR_SUCCESS ? fromNative(key) : kNullHandle, static_cast<std::uint32_t>(status)};
    }

    RegCreateResult regCreateKeyExW(RegistryRoot root, const std::wstring& subKey,
                                    std::uint32_t access) override {
        HKEY key = nullptr;
        DWORD disposition = 0;
        const LONG status =
            RegCreateKeyExW(rootKey(root), subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            access | KEY_WOW64_64KEY, nullptr, &key, &disposition);
        if (status != ERROR_SUCCESS) {
            return {kNullHandle, false, static_cast<std::uint32_t>(status)};
        }
        return {fromNative(key), disposition == REG_CREATED_NEW_KEY, ERROR_SUCCESS};
    }

    RegDwordQuery regQueryValueExDword(Handle key, const std::wstring& valueName) override {
        DWORD value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        const LONG status = RegQueryValueExW(static_cast<HKEY>(toNative(key)), valueName.c_str(), nullptr,
                                             &type, reinterpret_cast<BYTE*>(&value), &size);
        return {static_cast<std::uint32_t>(status), type, value};
    }

    std::uint32_t regSetValueExDword(Handle key, const std::wstring& valueName,
                                     std::uint32_t value) override {
        const DWORD data = value;
        return static_cast<std::uint32_t>(RegSetValueExW(static_cast<HKEY>(toNative(key)), valueName.c_str(),
                                                         0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                                                         sizeof data));
    }

    std::uint32_t regDeleteValueW(Handle key, const std::wstring& valueName) override {
        return static_cast<std::uint32_t>(
            RegDeleteValueW(static_cast<HKEY>(toNative(key)), valueName.c_str()));
    }

    RegKeyInfo regQueryInfoKeyW(Handle key) override {
        DWORD subKeys = 0;
        DWORD values = 0;
        const LONG status =
            RegQueryInfoKeyW(static_cast<HKEY>(toNative(key)), nullptr, nullptr, nullptr, &subKeys, nullptr,
                             nullptr, &values, nullptr, nullptr, nullptr, nullptr);
        return {static_cast<std::uint32_t>(status), subKeys, values};
    }

    std::uint32_t regDeleteKeyExW(RegistryRoot root, const std::wstring& subKey) override {
        return static_cast<std::uint32_t>(RegDeleteKeyExW(rootKey(root), subKey.c_str(), KEY_WOW64_64KEY, 0));
    }

    std::uint32_t regCloseKey(Handle key) override {
        return static_cast<std::uint32_t>(RegCloseKey(static_cast<HKEY>(toNative(key))));
    }

    std::optional<std::wstring> ansiToWide(const std::string& bytes) override {
        const int units =
            MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), static_cast<int>(bytes.size()) + 1, nullptr, 0);
        if (units <= 0) {
            return std::nullopt;
        }
        std::wstring converted(static_cast<std::size_t>(units), L'\0');
        if (MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), static_cast<int>(bytes.size()) + 1,
                                converted.data(), units) != units) {
            return std::nullopt;
        }
        converted.pop_back();
        return converted;
    }

    std::optional<std::string> wideToAnsi(const std::wstring& text, std::uint32_t flags) override {
        const int units = static_cast<int>(text.size()) + 1;
        const int bytes =
            WideCharToMultiByte(CP_ACP, flags, text.c_str(), units, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) {
            return std::nullopt;
        }
        std::string converted(static_cast<std::size_t>(bytes), '\0');
        if (WideCharToMultiByte(CP_ACP, flags, text.c_str(), units, converted.data(), bytes, nullptr,
                                nullptr) != bytes) {
            return std::nullopt;
        }
        converted.pop_back();
        return converted;
    }

    std::optional<std::wstring> stringFromCLSID(const std::uint8_t (&guid)[16],
                                                std::uint32_t& error) override {
        CLSID clsid;
        std::memcpy(&clsid, guid, sizeof clsid);
        LPOLESTR text = nullptr;
        const HRESULT result = StringFromCLSID(clsid, &text);
        if (FAILED(result)) {
            error = static_cast<std::uint32_t>(result);
            return std::nullopt;
        }
        std::wstring converted(text);
        CoTaskMemFree(text);
        error = 0;
        return converted;
    }

    IoResult deviceIoControl(Handle device, std::uint32_t controlCode, const Bytes& input,
                             std::uint32_t outputSize) override {
        IoResult result;
        result.output.assign(outputSize, 0);
        void* inputBuffer = input.empty() ? nullptr : const_cast<std::uint8_t*>(input.data());
        void* outputBuffer = outputSize == 0 ? nullptr : result.output.data();
        DWORD returned = 0;
        result.ok =
            DeviceIoControl(toNative(device), controlCode, inputBuffer, static_cast<DWORD>(input.size()),
                            outputBuffer, outputSize, &returned, nullptr) != FALSE;
        result.error = result.ok ? ERROR_SUCCESS : GetLastError();
        result.bytesReturned = returned;
        return result;
    }

    VolumeInformation getVolumeInformationW(const std::wstring& rootPath) override {
        wchar_t volumeName[MAX_PATH + 1] = {};
        wchar_t fileSystemName[MAX_PATH + 1] = {};
        DWORD maximumComponentLength = 0;
        DWORD flags = 0;
        VolumeInformation info;
        info.ok =
            GetVolumeInformationW(rootPath.c_str(), volumeName, MAX_PATH + 1, nullptr,
                                  &maximumComponentLength, &flags, fileSystemName, MAX_PATH + 1) != FALSE;
        if (!info.ok) {
            info.error = GetLastError();
            return info;
        }
        info.volumeName = volumeName;
        info.fileSystemName = fileSystemName;
        info.fileSystemFlags = flags;
        return info;
    }

    DiskFreeSpace getDiskFreeSpaceExW(const std::wstring& directory) override {
        ULARGE_INTEGER available = {};
        ULARGE_INTEGER total = {};
        ULARGE_INTEGER totalFree = {};
        DiskFreeSpace space;
        space.ok = GetDiskFreeSpaceExW(directory.c_str(), &available, &total, &totalFree) != FALSE;
        if (!space.ok) {
            space.error = GetLastError();
            return space;
        }
        space.freeBytesAvailableToCaller = available.QuadPart;
        space.totalBytes = total.QuadPart;
        space.totalFreeBytes = totalFree.QuadPart;
        return space;
    }

    std::uint32_t getDriveTypeW(const std::wstring& rootPath) override {
        return GetDriveTypeW(rootPath.c_str());
    }

    DriveMask getLogicalDrives() override {
        DriveMask drives;
        drives.mask = GetLogicalDrives();
        drives.error = drives.mask == 0 ? GetLastError() : ERROR_SUCCESS;
        return drives;
    }

    DriveStrings getLogicalDriveStringsW(std::uint32_t bufferUnits) override {
        std::vector<wchar_t> buffer(bufferUnits + 1, L'\0');
        DriveStrings drives;
        drives.result = GetLogicalDriveStringsW(bufferUnits, buffer.data());
        drives.error = drives.result == 0 ? GetLastError() : ERROR_SUCCESS;
        // A result of bufferUnits or more is the size needed; nothing was copied then.
        if (drives.result > 0 && drives.result < bufferUnits) {
            drives.strings.assign(buffer.data(), drives.result);
        }
        return drives;
    }

    std::optional<std::wstring> queryDosDeviceW(const std::wstring& deviceName,
                                                std::uint32_t bufferUnits) override {
        std::vector<wchar_t> buffer(bufferUnits + 1, L'\0');
        if (QueryDosDeviceW(deviceName.c_str(), buffer.data(), bufferUnits) == 0) {
            return std::nullopt;
        }
        return std::wstring(buffer.data());
    }

    bool loadSymbolicLinkCalls() override {
        static const HMODULE ntdll = LoadLibraryW(L"ntdll.dll");
        if (ntdll == nullptr) {
            return false;
        }
        openLink_ = procedure<NtOpenSymbolicLinkObjectCall>(ntdll, "NtOpenSymbolicLinkObject");
        queryLink_ = procedure<NtQuerySymbolicLinkObjectCall>(ntdll, "NtQuerySymbolicLinkObject");
        close_ = procedure<NtCloseCall>(ntdll, "NtClose");
        return openLink_ != nullptr && queryLink_ != nullptr && close_ != nullptr;
    }

    NtHandleResult ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t desiredAccess,
                                            std::uint32_t attributes) override {
        if (openLink_ == nullptr) {
            return {kStatusProcedureNotFound, kNullHandle};
        }
        std::wstring nameCopy = name;
        const auto nameBytes = static_cast<USHORT>(nameCopy.size() * sizeof(wchar_t));
        NativeString objectName = {nameBytes, static_cast<USHORT>(nameBytes + sizeof(wchar_t)),
                                   nameCopy.data()};
        NativeObjectAttributes objectAttributes = {
            sizeof(NativeObjectAttributes), nullptr, &objectName, attributes, nullptr, nullptr};
        HANDLE link = nullptr;
        const LONG status = openLink_(&link, desiredAccess, &objectAttributes);
        return {status, status == 0 ? fromNative(link) : kNullHandle};
    }

    NtTextResult ntQuerySymbolicLinkObject(Handle link, std::uint16_t maximumBytes) override {
        if (queryLink_ == nullptr) {
            return {kStatusProcedureNotFound, {}};
        }
        std::vector<wchar_t> buffer(maximumBytes / sizeof(wchar_t) + 1, L'\0');
        NativeString target = {0, maximumBytes, buffer.data()};
        const LONG status = queryLink_(toNative(link), &target, nullptr);
        if (status != 0) {
            return {status, {}};
        }
        const std::size_t units = std::min<std::size_t>(target.Length, maximumBytes) / sizeof(wchar_t);
        return {status, std::wstring(buffer.data(), units)};
    }

    std::int32_t ntClose(Handle handle) override {
        return close_ == nullptr ? kStatusProcedureNotFound : close_(toNative(handle));
    }

    // An address inside this module, used to find the module that holds the library.
    static char moduleMarker;

private:
    static BoolResult boolResult(BOOL ok) { return {ok != FALSE, ok ? ERROR_SUCCESS : GetLastError()}; }

    NtOpenSymbolicLinkObjectCall openLink_ = nullptr;
    NtQuerySymbolicLinkObjectCall queryLink_ = nullptr;
    NtCloseCall close_ = nullptr;
};

char Win32Platform::moduleMarker = 0;

}  // namespace

Platform& win32Platform() {
    static Win32Platform instance;
    return instance;
}

}  // namespace kvph
