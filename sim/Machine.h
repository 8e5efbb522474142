// A simulated Windows machine that answers the library's platform calls from a MachineModel.
//
// Seam methods may be called from several threads at once: each takes the machine's lock (see mutex_).
//
// Machine owns the model and forwards each platform call to the object of its role, each with its own
// state, header and source:
//   Files      (windows/Files)       files and folders, file handles, the folder paths the machine reports
//   Profiles   (windows/Profiles)    private-profile (INI) files
//   Processes  (diskpart/Processes)  process starts and batch files
//   Diskpart   (diskpart/Runner)     the stand-in diskpart; its commands are tables, see diskpart/Runner.h
//   Drives     (windows/Drives)      physical drives and volumes: geometry, layout, property query, ATA
//                                    pass-through, letters, DOS devices, symbolic links, vdisk plug-in
//   Registry   (windows/Registry)    registry keys and values
//   System     (windows/System)      debug log, virtual clock, call lock mutex, handle closing, text calls
// and the pieces they share (windows/Shared): Calls, through which every seam method is counted and can be
// made to fail (injectFault), the handle table and the ANSI code page. Roles reach each other through
// the references they are built with. Machine routes only what crosses roles: CreateFileW/A open files
// or devices, and each reaches the other through the virtual seam as the platform does.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "sim/diskpart/Processes.h"
#include "sim/diskpart/Runner.h"
#include "sim/machine/Model.h"
#include "sim/windows/Drives.h"
#include "sim/windows/Files.h"
#include "sim/windows/Profiles.h"
#include "sim/windows/Registry.h"
#include "sim/windows/Shared.h"
#include "sim/windows/System.h"

namespace sim {

class Machine : public kvph::Platform {
public:
    Machine();
    explicit Machine(MachineModel model);
    ~Machine() override;

    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    MachineModel& model() { return model_; }
    const MachineModel& model() const { return model_; }

    // --- Observation and control for tests, the kvph tool and benchmarks.
    const std::vector<LogLine>& log() const { return system_.log(); }
    std::vector<std::wstring> logTexts() const;
    void clearLog() { system_.clearLog(); }
    const std::vector<DiskpartRun>& diskpartRuns() const { return diskpart_.runs(); }
    std::uint64_t virtualMilliseconds() const { return system_.virtualMilliseconds(); }
    const std::vector<std::uint32_t>& sleeps() const { return system_.sleeps(); }
    const std::map<std::string, int>& callCounts() const { return calls_.counts(); }
    void resetCallCounts() { calls_.resetCounts(); }
    std::size_t openHandleCount() const { return handles_.size(); }
    const Handles& handles() const { return handles_; }
    void injectFault(Fault fault) { calls_.inject(std::move(fault)); }
    void clearFaults() { calls_.clearFaults(); }
    // Seam calls made so far, and a kill of the calling process as the call with this 0-based index
    // enters: killedModel() is then the machine as the process left it (files, disks, registry; its
    // handles die with it), which a new Machine takes up as the machine after the kill. Calls after the
    // kill fail and change nothing that killedModel() holds.
    std::uint64_t totalCalls() const { return calls_.total(); }
    void killAtCall(std::uint64_t index);
    const std::optional<MachineModel>& killedModel() const { return killedModel_; }
    // Every physical drive the machine has now: its disks, then attached vdisks with their numbers.
    std::vector<const Disk*> allDisks() const { return drives_.allDisks(); }
    // Text in the machine's ANSI code page.
    std::string toAnsi(const std::wstring& text) const { return codePage_.toAnsi(text); }
    std::wstring fromAnsi(const std::string& bytes) const { return codePage_.fromAnsi(bytes); }

    // Convenience for tests: file content and attributes by Windows path.
    bool fileExists(const std::wstring& path) const;
    std::optional<std::string> fileBytes(const std::wstring& path) const;
    std::optional<std::uint32_t> fileAttributes(const std::wstring& path) const;
    void putFile(const std::wstring& path, const std::string& bytes, std::uint32_t attributes = 0x80) {
        files_.putFile(path, bytes, attributes);
    }
    void putFolder(const std::wstring& path) { files_.putFolder(path); }
    bool removeEmptyFolder(const std::wstring& path);
    // The security descriptor (SDDL) of a file or folder: empty when it has the one it inherits, nullopt
    // when there is no such file or folder. setSecurity gives one without the platform's checks.
    std::optional<std::wstring> security(const std::wstring& path) const;
    void setSecurity(const std::wstring& path, const std::wstring& securityDescriptor);

    // Upper-cased, separator-normalised key of a Windows path (no trailing backslash except on roots).
    static std::wstring pathKey(const std::wstring& path) { return sim::pathKey(path); }

    // --- kvph::Platform.
    void outputDebugStringW(const std::wstring& message) override;
    void outputDebugStringA(const std::string& message) override;
    void sleep(std::uint32_t milliseconds) override;

    std::optional<std::wstring> shGetSpecialFolderPathW(int csidl, bool create) override;
    std::optional<std::wstring> getModuleFileNameW(std::uint32_t bufferUnits) override;
    std::optional<std::wstring> getSystemDirectoryW(std::uint32_t bufferUnits) override;

    bool pathFileExistsW(const std::wstring& path) override;
    kvph::BoolResult setFileAttributesW(const std::wstring& path, std::uint32_t attributes) override;
    std::optional<std::uint32_t> getFileAttributesW(const std::wstring& path) override;
    kvph::BoolResult deleteFileW(const std::wstring& path) override;
    kvph::BoolResult moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                 std::uint32_t flags) override;
    kvph::FileAttributeData getFileAttributesExW(const std::wstring& path) override;
    bool pathFileExistsA(const std::string& path) override;
    kvph::BoolResult setFileAttributesA(const std::string& path, std::uint32_t attributes) override;
    kvph::BoolResult deleteFileA(const std::string& path) override;
    int wmkdir(const std::wstring& path) override;
    kvph::BoolResult removeDirectoryW(const std::wstring& path) override;
    kvph::HandleResult createFileW(const std::wstring& path, std::uint32_t desiredAccess,
                                   std::uint32_t shareMode, std::uint32_t creationDisposition,
                                   std::uint32_t flagsAndAttributes,
                                   const std::wstring& securityDescriptor = std::wstring()) override;
    kvph::BoolResult createDirectoryW(const std::wstring& path,
                                      const std::wstring& securityDescriptor) override;
    kvph::BoolResult setNamedSecurityInfoW(const std::wstring& path, std::uint32_t securityInformation,
                                           const std::wstring& securityDescriptor) override;
    kvph::HandleResult createFileA(const std::string& path, std::uint32_t desiredAccess,
                                   std::uint32_t shareMode, std::uint32_t creationDisposition,
                                   std::uint32_t flagsAndAttributes) override;
    kvph::WriteResult writeFile(kvph::Handle file, const kvph::Bytes& data) override;
    kvph::ReadResult readFile(kvph::Handle file, std::uint32_t bytesToRead) override;
    kvph::BoolResult flushFileBuffers(kvph::Handle file) override;
    kvph::BoolResult closeHandle(kvph::Handle handle) override;

    std::wstring getPrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& defaultValue, std::uint32_t bufferUnits,
                                          const std::wstring& file) override;
    std::uint32_t getPrivateProfileIntW(const std::wstring& section, const std::wstring& key,
                                        std::int32_t defaultValue, const std::wstring& file) override;
    kvph::BoolResult writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                const std::wstring& value, const std::wstring& file) override;

    kvph::ProcessOutcome createProcessAndWait(const std::wstring& applicationName,
                                              const std::wstring& commandLine,
                                              std::uint32_t creationFlags) override;
    kvph::ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                             const std::wstring& parameters, const std::wstring& directory,
                                             int showCommand) override;

    kvph::HandleResult createMutexW(const std::wstring& name) override;
    std::uint32_t waitForSingleObject(kvph::Handle handle, std::uint32_t milliseconds) override;
    kvph::BoolResult releaseMutex(kvph::Handle mutex) override;

    std::optional<std::uint32_t> regQueryDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                               const std::wstring& valueName) override;
    kvph::BoolResult regSetDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                 const std::wstring& valueName, std::uint32_t value) override;
    kvph::BoolResult regDeleteValue(kvph::RegistryRoot root, const std::wstring& subKey,
                                    const std::wstring& valueName) override;

    kvph::HandleResult regOpenKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                     std::uint32_t access) override;
    kvph::RegCreateResult regCreateKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                          std::uint32_t access) override;
    kvph::RegDwordQuery regQueryValueExDword(kvph::Handle key, const std::wstring& valueName) override;
    std::uint32_t regSetValueExDword(kvph::Handle key, const std::wstring& valueName,
                                     std::uint32_t value) override;
    std::uint32_t regDeleteValueW(kvph::Handle key, const std::wstring& valueName) override;
    kvph::RegKeyInfo regQueryInfoKeyW(kvph::Handle key) override;
    std::uint32_t regDeleteKeyExW(kvph::RegistryRoot root, const std::wstring& subKey) override;
    std::uint32_t regCloseKey(kvph::Handle key) override;

    std::optional<std::string> wideToAnsi(const std::wstring& text, std::uint32_t flags) override;
    std::optional<std::wstring> ansiToWide(const std::string& bytes) override;
    std::optional<std::wstring> stringFromCLSID(const std::uint8_t (&guid)[16],
                                                std::uint32_t& error) override;

    kvph::IoResult deviceIoControl(kvph::Handle device, std::uint32_t controlCode, const kvph::Bytes& input,
                                   std::uint32_t outputSize) override;

    kvph::VolumeInformation getVolumeInformationW(const std::wstring& rootPath) override;
    kvph::DiskFreeSpace getDiskFreeSpaceExW(const std::wstring& directory) override;
    std::uint32_t getDriveTypeW(const std::wstring& rootPath) override;
    kvph::DriveStrings getLogicalDriveStringsW(std::uint32_t bufferUnits) override;
    kvph::DriveMask getLogicalDrives() override;
    std::optional<std::wstring> queryDosDeviceW(const std::wstring& deviceName,
                                                std::uint32_t bufferUnits) override;

    bool loadSymbolicLinkCalls() override;
    kvph::NtHandleResult ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t desiredAccess,
                                                  std::uint32_t attributes) override;
    kvph::NtTextResult ntQuerySymbolicLinkObject(kvph::Handle link, std::uint16_t maximumBytes) override;
    std::int32_t ntClose(kvph::Handle handle) override;

private:
    using Lock = std::lock_guard<std::recursive_mutex>;

    // Taken by every seam method, so that threads may call the machine at once; the sim diskpart runs
    // and nested seam calls happen under it. The call lock's wait is the one call made without it.
    mutable std::recursive_mutex mutex_;
    MachineModel model_;
    std::optional<MachineModel> killedModel_;
    Calls calls_;
    Handles handles_;
    CodePage codePage_{model_};
    System system_{calls_, handles_, codePage_};
    Registry registry_{model_, calls_, handles_};
    Drives drives_{model_, calls_, handles_};
    Files files_{model_, calls_, handles_, drives_};
    Profiles profiles_{calls_, files_, codePage_};
    Diskpart diskpart_{model_, files_, drives_, codePage_};
    Processes processes_{model_, calls_, files_, diskpart_, codePage_};
};

}  // namespace sim
