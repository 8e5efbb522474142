// A platform that forwards every call to another one and reports, as they happen, the calls that change
// the machine: each process started (a diskpart run with the script it was given and its exit code),
// each registry change, and each file or folder the library wrote, created or deleted. Reads are
// forwarded without a word, so the trace shows what a run would do to the machine and nothing else.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/Platform.h"

namespace kvph::tool {

class TracingPlatform final : public Platform {
public:
    // `report` gets one event at a time as UTF-8 text; a diskpart script follows its first line.
    TracingPlatform(Platform& inner, std::function<void(const std::string&)> report)
        : inner_(inner), report_(std::move(report)) {}

    void outputDebugStringW(const std::wstring& message) override { inner_.outputDebugStringW(message); }
    void outputDebugStringA(const std::string& message) override { inner_.outputDebugStringA(message); }
    void sleep(std::uint32_t milliseconds) override { inner_.sleep(milliseconds); }

    std::optional<std::wstring> shGetSpecialFolderPathW(int csidl, bool create) override {
        return inner_.shGetSpecialFolderPathW(csidl, create);
    }
    std::optional<std::wstring> getModuleFileNameW(std::uint32_t bufferUnits) override {
        return inner_.getModuleFileNameW(bufferUnits);
    }
    std::optional<std::wstring> getSystemDirectoryW(std::uint32_t bufferUnits) override {
        return inner_.getSystemDirectoryW(bufferUnits);
    }

    bool pathFileExistsW(const std::wstring& path) override { return inner_.pathFileExistsW(path); }
    BoolResult setFileAttributesW(const std::wstring& path, std::uint32_t attributes) override {
        return inner_.setFileAttributesW(path, attributes);
    }
    std::optional<std::uint32_t> getFileAttributesW(const std::wstring& path) override {
        return inner_.getFileAttributesW(path);
    }
    BoolResult deleteFileW(const std::wstring& path) override;
    BoolResult moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                           std::uint32_t flags) override;
    FileAttributeData getFileAttributesExW(const std::wstring& path) override {
        return inner_.getFileAttributesExW(path);
    }
    bool pathFileExistsA(const std::string& path) override { return inner_.pathFileExistsA(path); }
    BoolResult setFileAttributesA(const std::string& path, std::uint32_t attributes) override {
        return inner_.setFileAttributesA(path, attributes);
    }
    BoolResult deleteFileA(const std::string& path) override;
    int wmkdir(const std::wstring& path) override;
    BoolResult removeDirectoryW(const std::wstring& path) override;
    HandleResult createFileW(const std::wstring& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                             const std::wstring& securityDescriptor = std::wstring()) override;
    BoolResult createDirectoryW(const std::wstring& path, const std::wstring& securityDescriptor) override;
    BoolResult setNamedSecurityInfoW(const std::wstring& path, std::uint32_t securityInformation,
                                     const std::wstring& securityDescriptor) override;
    HandleResult createFileA(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override;
    WriteResult writeFile(Handle file, const Bytes& data) override;
    ReadResult readFile(Handle file, std::uint32_t bytesToRead) override {
        return inner_.readFile(file, bytesToRead);
    }
    BoolResult flushFileBuffers(Handle file) override { return inner_.flushFileBuffers(file); }
    BoolResult closeHandle(Handle handle) override;

    std::wstring getPrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& defaultValue, std::uint32_t bufferUnits,
                                          const std::wstring& file) override {
        return inner_.getPrivateProfileStringW(section, key, defaultValue, bufferUnits, file);
    }
    std::uint32_t getPrivateProfileIntW(const std::wstring& section, const std::wstring& key,
                                        std::int32_t defaultValue, const std::wstring& file) override {
        return inner_.getPrivateProfileIntW(section, key, defaultValue, file);
    }
    BoolResult writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& value, const std::wstring& file) override;

    ProcessOutcome createProcessAndWait(const std::wstring& applicationName, const std::wstring& commandLine,
                                        std::uint32_t creationFlags) override;
    ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                       const std::wstring& parameters, const std::wstring& directory,
                                       int showCommand) override;

    HandleResult createMutexW(const std::wstring& name) override { return inner_.createMutexW(name); }
    std::uint32_t waitForSingleObject(Handle handle, std::uint32_t milliseconds) override {
        return inner_.waitForSingleObject(handle, milliseconds);
    }
    BoolResult releaseMutex(Handle mutex) override { return inner_.releaseMutex(mutex); }

    std::optional<std::uint32_t> regQueryDword(RegistryRoot root, const std::wstring& subKey,
                                               const std::wstring& valueName) override {
        return inner_.regQueryDword(root, subKey, valueName);
    }
    BoolResult regSetDword(RegistryRoot root, const std::wstring& subKey, const std::wstring& valueName,
                           std::uint32_t value) override;
    BoolResult regDeleteValue(RegistryRoot root, const std::wstring& subKey,
                              const std::wstring& valueName) override;

    HandleResult regOpenKeyExW(RegistryRoot root, const std::wstring& subKey, std::uint32_t access) override;
    RegCreateResult regCreateKeyExW(RegistryRoot root, const std::wstring& subKey,
                                    std::uint32_t access) override;
    RegDwordQuery regQueryValueExDword(Handle key, const std::wstring& valueName) override {
        return inner_.regQueryValueExDword(key, valueName);
    }
    std::uint32_t regSetValueExDword(Handle key, const std::wstring& valueName, std::uint32_t value) override;
    std::uint32_t regDeleteValueW(Handle key, const std::wstring& valueName) override;
    RegKeyInfo regQueryInfoKeyW(Handle key) override { return inner_.regQueryInfoKeyW(key); }
    std::uint32_t regDeleteKeyExW(RegistryRoot root, const std::wstring& subKey) override;
    std::uint32_t regCloseKey(Handle key) override;

    std::optional<std::string> wideToAnsi(const std::wstring& text, std::uint32_t flags) override {
        return inner_.wideToAnsi(text, flags);
    }
    std::optional<std::wstring> ansiToWide(const std::string& bytes) override {
        return inner_.ansiToWide(bytes);
    }
    std::optional<std::wstring> stringFromCLSID(const std::uint8_t (&guid)[16],
                                                std::uint32_t& error) override {
        return inner_.stringFromCLSID(guid, error);
    }

    IoResult deviceIoControl(Handle device, std::uint32_t controlCode, const Bytes& input,
                             std::uint32_t outputSize) override {
        return inner_.deviceIoControl(device, controlCode, input, outputSize);
    }

    VolumeInformation getVolumeInformationW(const std::wstring& rootPath) override {
        return inner_.getVolumeInformationW(rootPath);
    }
    DiskFreeSpace getDiskFreeSpaceExW(const std::wstring& directory) override {
        return inner_.getDiskFreeSpaceExW(directory);
    }
    std::uint32_t getDriveTypeW(const std::wstring& rootPath) override {
        return inner_.getDriveTypeW(rootPath);
    }
    DriveStrings getLogicalDriveStringsW(std::uint32_t bufferUnits) override {
        return inner_.getLogicalDriveStringsW(bufferUnits);
    }
    DriveMask getLogicalDrives() override { return inner_.getLogicalDrives(); }
    std::optional<std::wstring> queryDosDeviceW(const std::wstring& deviceName,
                                                std::uint32_t bufferUnits) override {
        return inner_.queryDosDeviceW(deviceName, bufferUnits);
    }

    bool loadSymbolicLinkCalls() override { return inner_.loadSymbolicLinkCalls(); }
    NtHandleResult ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t desiredAccess,
                                            std::uint32_t attributes) override {
        return inner_.ntOpenSymbolicLinkObject(name, desiredAccess, attributes);
    }
    NtTextResult ntQuerySymbolicLinkObject(Handle link, std::uint16_t maximumBytes) override {
        return inner_.ntQuerySymbolicLinkObject(link, maximumBytes);
    }
    std::int32_t ntClose(Handle handle) override { return inner_.ntClose(handle); }

private:
    struct OpenFile {
        std::wstring path;
        bool created = false;  // opened with a disposition that makes or truncates the file
        std::string written;
        bool wrote = false;
    };

    void report(const std::string& event) { report_(event); }
    std::wstring fromAnsi(const std::string& bytes);
    std::string scriptOf(const std::wstring& commandLine) const;
    void trackOpen(Handle handle, std::wstring path, std::uint32_t access, std::uint32_t disposition);

    Platform& inner_;
    std::function<void(const std::string&)> report_;
    std::map<Handle, OpenFile> openFiles_;
    std::map<Handle, std::wstring> openKeys_;
    std::map<std::wstring, std::string> lastContent_;  // by upper-cased path: what the library last wrote
};

}  // namespace kvph::tool
