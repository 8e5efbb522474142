// The seam between the library's logic and the operating system.
//
// Each method mirrors one Win32 (or C runtime) call the library makes and is named after it. The real
// backend (src/platform/win32) only forwards and translates types; the simulated machine (sim/) answers
// the same calls from its model. No decision of the library lives behind this seam: buffer sizes, flags,
// call order and retries are chosen by the caller and passed through.
//
// Conventions: text is std::wstring (UTF-16 on Windows), narrow text is std::string in the bytes the
// platform uses; binary buffers are byte vectors; handles are opaque integers where 0 means "no handle";
// every call that can fail returns the thread's last-error value as the platform set it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvph {

using Handle = std::uint64_t;
constexpr Handle kNullHandle = 0;
// INVALID_HANDLE_VALUE as an integer: what a failed CreateFile returns.
constexpr Handle kInvalidHandle = ~static_cast<Handle>(0);

using Bytes = std::vector<std::uint8_t>;

struct BoolResult {
    bool ok = false;
    std::uint32_t error = 0;
};

struct HandleResult {
    Handle handle = kNullHandle;  // as the call returned it: kNullHandle or kInvalidHandle on failure
    std::uint32_t error = 0;
};

struct IoResult {
    bool ok = false;
    std::uint32_t bytesReturned = 0;
    Bytes output;  // always outputSize bytes: the caller's zero-filled buffer as the driver left it
    std::uint32_t error = 0;
};

struct WriteResult {
    bool ok = false;
    std::uint32_t bytesWritten = 0;
    std::uint32_t error = 0;
};

struct ReadResult {
    bool ok = false;
    Bytes data;
    std::uint32_t error = 0;
};

// How a started child process ended, stage by stage as CreateProcessW / ShellExecuteExW,
// WaitForSingleObject and GetExitCodeProcess report it. The backend closes every handle it got.
struct ProcessOutcome {
    enum class Stage {
        NotStarted,          // CreateProcessW / ShellExecuteExW failed
        WaitFailed,          // WaitForSingleObject did not return WAIT_OBJECT_0
        ExitCodeUnreadable,  // GetExitCodeProcess failed
        Exited,              // exitCode holds the process's exit code
    };
    Stage stage = Stage::NotStarted;
    std::uint32_t exitCode = 0;
    std::uint32_t error = 0;
};

struct VolumeInformation {
    bool ok = false;
    std::wstring volumeName;
    std::wstring fileSystemName;
    std::uint32_t fileSystemFlags = 0;
    std::uint32_t error = 0;
};

// GetFileAttributesExW with GetFileExInfoStandard: the attributes and the 64-bit size of a file.
struct FileAttributeData {
    bool ok = false;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    std::uint32_t error = 0;
};

// RegCreateKeyExW: the key handle and whether the key was created by the call (REG_CREATED_NEW_KEY).
struct RegCreateResult {
    Handle key = kNullHandle;
    bool created = false;
    std::uint32_t status = 0;  // the call's LSTATUS: 0 on success
};

// RegQueryValueExW into a 4-byte buffer: the status, the type the value has and the buffer's content.
struct RegDwordQuery {
    std::uint32_t status = 0;
    std::uint32_t type = 0;
    std::uint32_t value = 0;
};

// RegQueryInfoKeyW: how many subkeys and values the key holds.
struct RegKeyInfo {
    std::uint32_t status = 0;
    std::uint32_t subKeys = 0;
    std::uint32_t values = 0;
};

struct DiskFreeSpace {
    bool ok = false;
    std::uint64_t freeBytesAvailableToCaller = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t totalFreeBytes = 0;
    std::uint32_t error = 0;
};

// GetLogicalDriveStringsW: `result` is the API's return value (characters copied without the final
// terminator, the size needed when the buffer is too small, 0 on failure); `strings` holds what was
// copied, NUL separators included.
struct DriveStrings {
    std::uint32_t result = 0;
    std::wstring strings;
    std::uint32_t error = 0;
};

// GetLogicalDrives: one bit per drive letter that is assigned (bit 0 is A), 0 with the error on failure.
struct DriveMask {
    std::uint32_t mask = 0;
    std::uint32_t error = 0;
};

// An NTSTATUS (0 = success) with an optional handle or text.
struct NtHandleResult {
    std::int32_t status = 0;
    Handle handle = kNullHandle;
};
struct NtTextResult {
    std::int32_t status = 0;
    std::wstring text;  // Length / 2 characters of the returned counted string
};

enum class RegistryRoot { LocalMachine, CurrentUser };

class Platform {
public:
    virtual ~Platform() = default;

    // Debug output and time.
    virtual void outputDebugStringW(const std::wstring& message) = 0;
    virtual void outputDebugStringA(const std::string& message) = 0;
    virtual void sleep(std::uint32_t milliseconds) = 0;

    // Folders of the library.
    // SHGetSpecialFolderPathW(nullptr, path, csidl, create).
    virtual std::optional<std::wstring> shGetSpecialFolderPathW(int csidl, bool create) = 0;
    // GetModuleFileNameW for the library's own module, with a buffer of `bufferUnits`.
    virtual std::optional<std::wstring> getModuleFileNameW(std::uint32_t bufferUnits) = 0;
    // GetSystemDirectoryW with a buffer of `bufferUnits`.
    virtual std::optional<std::wstring> getSystemDirectoryW(std::uint32_t bufferUnits) = 0;

    // Files and folders.
    virtual bool pathFileExistsW(const std::wstring& path) = 0;
    virtual BoolResult setFileAttributesW(const std::wstring& path, std::uint32_t attributes) = 0;
    // GetFileAttributesW; nullopt for INVALID_FILE_ATTRIBUTES.
    virtual std::optional<std::uint32_t> getFileAttributesW(const std::wstring& path) = 0;
    virtual BoolResult deleteFileW(const std::wstring& path) = 0;
    // MoveFileExW(existing, replacement, flags).
    virtual BoolResult moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                   std::uint32_t flags) = 0;
    // GetFileAttributesExW(path, GetFileExInfoStandard, ...): works on files that others hold open.
    virtual FileAttributeData getFileAttributesExW(const std::wstring& path) = 0;
    // The same file calls with a path in the ANSI code page, as diskpart sees the path.
    virtual bool pathFileExistsA(const std::string& path) = 0;
    virtual BoolResult setFileAttributesA(const std::string& path, std::uint32_t attributes) = 0;
    virtual BoolResult deleteFileA(const std::string& path) = 0;
    // _wmkdir: 0 on success, -1 on failure.
    virtual int wmkdir(const std::wstring& path) = 0;
    // RemoveDirectoryW: removes an empty folder.
    virtual BoolResult removeDirectoryW(const std::wstring& path) = 0;
    // CreateFileW; a non-empty `securityDescriptor` (SDDL) is passed as the new file's security attributes.
    virtual HandleResult createFileW(const std::wstring& path, std::uint32_t desiredAccess,
                                     std::uint32_t shareMode, std::uint32_t creationDisposition,
                                     std::uint32_t flagsAndAttributes,
                                     const std::wstring& securityDescriptor = std::wstring()) = 0;
    // CreateDirectoryW with security attributes made from `securityDescriptor` (SDDL) by
    // ConvertStringSecurityDescriptorToSecurityDescriptorW.
    virtual BoolResult createDirectoryW(const std::wstring& path, const std::wstring& securityDescriptor) = 0;
    // SetNamedSecurityInfoW(path, SE_FILE_OBJECT, securityInformation, owner, nullptr, dacl, nullptr) with
    // the owner and DACL of `securityDescriptor` (SDDL).
    virtual BoolResult setNamedSecurityInfoW(const std::wstring& path, std::uint32_t securityInformation,
                                             const std::wstring& securityDescriptor) = 0;
    // CreateFileA with a path in the ANSI code page (physical drives).
    virtual HandleResult createFileA(const std::string& path, std::uint32_t desiredAccess,
                                     std::uint32_t shareMode, std::uint32_t creationDisposition,
                                     std::uint32_t flagsAndAttributes) = 0;
    virtual WriteResult writeFile(Handle file, const Bytes& data) = 0;
    virtual ReadResult readFile(Handle file, std::uint32_t bytesToRead) = 0;
    virtual BoolResult flushFileBuffers(Handle file) = 0;
    virtual BoolResult closeHandle(Handle handle) = 0;

    // Private-profile (INI) files.
    // GetPrivateProfileStringW: the text as the API leaves it in a buffer of `bufferUnits` units.
    virtual std::wstring getPrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                  const std::wstring& defaultValue, std::uint32_t bufferUnits,
                                                  const std::wstring& file) = 0;
    virtual std::uint32_t getPrivateProfileIntW(const std::wstring& section, const std::wstring& key,
                                                std::int32_t defaultValue, const std::wstring& file) = 0;
    virtual BoolResult writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                  const std::wstring& value, const std::wstring& file) = 0;

    // Processes. Both start the process, close what they must, wait without a time-out and read the
    // exit code (see ProcessOutcome).
    // CreateProcessW(applicationName or nullptr when empty, commandLine, nullptr, nullptr, FALSE,
    // creationFlags, nullptr, nullptr, &si, &pi).
    virtual ProcessOutcome createProcessAndWait(const std::wstring& applicationName,
                                                const std::wstring& commandLine,
                                                std::uint32_t creationFlags) = 0;
    // ShellExecuteExW with SEE_MASK_NOCLOSEPROCESS and the given fields.
    virtual ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                               const std::wstring& parameters, const std::wstring& directory,
                                               int showCommand) = 0;

    // Machine-wide call lock: CreateMutexW / WaitForSingleObject(INFINITE) / ReleaseMutex.
    virtual HandleResult createMutexW(const std::wstring& name) = 0;
    // Returns the wait result: WAIT_OBJECT_0, WAIT_ABANDONED or WAIT_FAILED.
    virtual std::uint32_t waitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;
    virtual BoolResult releaseMutex(Handle mutex) = 0;

    // Registry values (REG_DWORD).
    virtual std::optional<std::uint32_t> regQueryDword(RegistryRoot root, const std::wstring& subKey,
                                                       const std::wstring& valueName) = 0;
    virtual BoolResult regSetDword(RegistryRoot root, const std::wstring& subKey,
                                   const std::wstring& valueName, std::uint32_t value) = 0;
    virtual BoolResult regDeleteValue(RegistryRoot root, const std::wstring& subKey,
                                      const std::wstring& valueName) = 0;

    // Registry keys. Each call returns the LSTATUS it got (0 on success); keys are opened in the 64-bit
    // view. RegOpenKeyExW(root, subKey, 0, access, &key).
    virtual HandleResult regOpenKeyExW(RegistryRoot root, const std::wstring& subKey,
                                       std::uint32_t access) = 0;
    // RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, &disp).
    virtual RegCreateResult regCreateKeyExW(RegistryRoot root, const std::wstring& subKey,
                                            std::uint32_t access) = 0;
    virtual RegDwordQuery regQueryValueExDword(Handle key, const std::wstring& valueName) = 0;
    // RegSetValueExW(key, valueName, 0, REG_DWORD, &value, 4).
    virtual std::uint32_t regSetValueExDword(Handle key, const std::wstring& valueName,
                                             std::uint32_t value) = 0;
    virtual std::uint32_t regDeleteValueW(Handle key, const std::wstring& valueName) = 0;
    virtual RegKeyInfo regQueryInfoKeyW(Handle key) = 0;
    // RegDeleteKeyExW(root, subKey, KEY_WOW64_64KEY, 0): refuses a key that has subkeys.
    virtual std::uint32_t regDeleteKeyExW(RegistryRoot root, const std::wstring& subKey) = 0;
    virtual std::uint32_t regCloseKey(Handle key) = 0;

    // Text conversion: WideCharToMultiByte(CP_ACP, flags, text with terminator, ...) with the system's
    // default character; the result without its terminator. nullopt when the conversion fails.
    virtual std::optional<std::string> wideToAnsi(const std::wstring& text, std::uint32_t flags) = 0;
    // MultiByteToWideChar(CP_ACP, 0, bytes with terminator, ...): the result without its terminator.
    virtual std::optional<std::wstring> ansiToWide(const std::string& bytes) = 0;
    // StringFromCLSID on 16 GUID bytes: "{XXXXXXXX-...}" or nullopt with the failing HRESULT in `error`.
    virtual std::optional<std::wstring> stringFromCLSID(const std::uint8_t (&guid)[16],
                                                        std::uint32_t& error) = 0;

    // Devices.
    virtual IoResult deviceIoControl(Handle device, std::uint32_t controlCode, const Bytes& input,
                                     std::uint32_t outputSize) = 0;

    // Volumes and drive letters.
    virtual VolumeInformation getVolumeInformationW(const std::wstring& rootPath) = 0;
    virtual DiskFreeSpace getDiskFreeSpaceExW(const std::wstring& directory) = 0;
    virtual std::uint32_t getDriveTypeW(const std::wstring& rootPath) = 0;
    virtual DriveStrings getLogicalDriveStringsW(std::uint32_t bufferUnits) = 0;
    virtual DriveMask getLogicalDrives() = 0;
    // QueryDosDeviceW(deviceName, buffer of bufferUnits): the first string of the result.
    virtual std::optional<std::wstring> queryDosDeviceW(const std::wstring& deviceName,
                                                        std::uint32_t bufferUnits) = 0;

    // Native symbolic links, from "ntdll.dll".
    // LoadLibraryW("ntdll.dll") on first use (kept for the process) and GetProcAddress of
    // NtOpenSymbolicLinkObject, NtQuerySymbolicLinkObject and NtClose: true when all three are there.
    virtual bool loadSymbolicLinkCalls() = 0;
    virtual NtHandleResult ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t desiredAccess,
                                                    std::uint32_t attributes) = 0;
    virtual NtTextResult ntQuerySymbolicLinkObject(Handle link, std::uint16_t maximumBytes) = 0;
    virtual std::int32_t ntClose(Handle handle) = 0;
};

// The platform the library uses. On Windows the real backend is installed by default; elsewhere a
// platform must be installed before any export is called.
Platform& platform();
bool hasPlatform();

// Installs a platform for the lifetime of the guard and restores the previous one afterwards.
class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform& replacement);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    Platform* previous_;
};

}  // namespace kvph
