// A simulated Windows machine that answers the library's platform calls from a MachineModel.
//
// The implementation is split by role: Machine.cpp (handles, faults, log, clock, text, registry, locks),
// SimFiles.cpp, SimProfiles.cpp, SimProcesses.cpp and SimDiskpart.cpp (the stand-in diskpart),
// SimDevices.cpp (physical drives: geometry and layout), SimStorageQuery.cpp (property query and ATA
// pass-through), SimVolumes.cpp (volumes, letters, DOS devices, symbolic links), MachineJson.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Model.h"
#include "platform/Platform.h"

namespace sim {

// A fault injected at one seam method: the next `times` calls after `skip` matching calls fail with
// `error`. `argumentContains` restricts matching to calls whose first text argument (path, command
// line, section...) contains it, compared without regard to case.
// Besides the seam's own method names, "processWait" and "processExitCode" make the wait for a started
// process, or the reading of its exit code, fail (argument: the command line or the file started).
// The profile calls match their argument against "file|section|key".
struct Fault {
    std::string method;
    std::uint32_t error = 5;  // ERROR_ACCESS_DENIED
    int skip = 0;
    int times = 1;  // -1: every matching call
    std::wstring argumentContains;
};

struct LogLine {
    bool wide = true;
    std::wstring text;  // narrow lines are widened byte per unit
};

class Machine : public kvph::Platform {
public:
    Machine();
    explicit Machine(MachineModel model);
    ~Machine() override;

    MachineModel& model() { return model_; }
    const MachineModel& model() const { return model_; }

    // --- Observation and control for tests, the kvph tool and benchmarks.
    const std::vector<LogLine>& log() const { return log_; }
    std::vector<std::wstring> logTexts() const;
    void clearLog() { log_.clear(); }
    const std::vector<DiskpartRun>& diskpartRuns() const { return diskpartRuns_; }
    std::uint64_t virtualMilliseconds() const { return clockMs_; }
    const std::vector<std::uint32_t>& sleeps() const { return sleeps_; }
    const std::map<std::string, int>& callCounts() const { return callCounts_; }
    void resetCallCounts() { callCounts_.clear(); }
    std::size_t openHandleCount() const { return handles_.size(); }
    void injectFault(Fault fault) { faults_.push_back(std::move(fault)); }
    void clearFaults() { faults_.clear(); }

    // Convenience for tests: file content and attributes by Windows path.
    bool fileExists(const std::wstring& path) const;
    std::optional<std::string> fileBytes(const std::wstring& path) const;
    std::optional<std::uint32_t> fileAttributes(const std::wstring& path) const;
    void putFile(const std::wstring& path, const std::string& bytes, std::uint32_t attributes = 0x80);
    void putFolder(const std::wstring& path);

    // Upper-cased, separator-normalised key of a Windows path (no trailing backslash except on roots).
    static std::wstring pathKey(const std::wstring& path);

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
    kvph::FileAttributeData getFileAttributesExW(const std::wstring& path) override;
    bool pathFileExistsA(const std::string& path) override;
    kvph::BoolResult setFileAttributesA(const std::string& path, std::uint32_t attributes) override;
    kvph::BoolResult deleteFileA(const std::string& path) override;
    int wmkdir(const std::wstring& path) override;
    kvph::HandleResult createFileW(const std::wstring& path, std::uint32_t desiredAccess,
                                   std::uint32_t shareMode, std::uint32_t creationDisposition,
                                   std::uint32_t flagsAndAttributes) override;
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

    kvph::ProcessOutcome createProcessAndWait(const std::wstring& commandLine,
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

    std::optional<std::string> wideToAnsi(const std::wstring& text) override;
    std::optional<std::wstring> ansiToWide(const std::string& bytes) override;
    std::optional<std::wstring> stringFromCLSID(const std::uint8_t (&guid)[16],
                                                std::uint32_t& error) override;

    kvph::IoResult deviceIoControl(kvph::Handle device, std::uint32_t controlCode, const kvph::Bytes& input,
                                   std::uint32_t outputSize) override;

    kvph::VolumeInformation getVolumeInformationW(const std::wstring& rootPath) override;
    kvph::DiskFreeSpace getDiskFreeSpaceExW(const std::wstring& directory) override;
    std::uint32_t getDriveTypeW(const std::wstring& rootPath) override;
    kvph::DriveStrings getLogicalDriveStringsW(std::uint32_t bufferUnits) override;
    std::optional<std::wstring> queryDosDeviceW(const std::wstring& deviceName,
                                                std::uint32_t bufferUnits) override;

    bool loadSymbolicLinkCalls() override;
    kvph::NtHandleResult ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t desiredAccess,
                                                  std::uint32_t attributes) override;
    kvph::NtTextResult ntQuerySymbolicLinkObject(kvph::Handle link, std::uint16_t maximumBytes) override;
    std::int32_t ntClose(kvph::Handle handle) override;

    // --- Shared by the implementation files.
    struct OpenFile {
        std::wstring key;
        std::uint32_t access = 0;
        std::uint64_t position = 0;
    };
    struct OpenDevice {
        int diskNumber = 0;  // physical drive number (vdisks included, see allDisks())
    };
    struct OpenLink {
        std::wstring target;
    };
    struct OpenMutex {
        std::wstring name;
    };
    struct OpenRegKey {
        std::wstring key;  // registry map key ("HKLM\\..." upper-cased)
        std::uint32_t access = 0;
    };
    using OpenObject = std::variant<OpenFile, OpenDevice, OpenLink, OpenMutex, OpenRegKey>;

    // Records the call in callCounts and answers whether an injected fault hits it.
    std::optional<std::uint32_t> enter(const char* method, const std::wstring& argument = {});
    kvph::Handle addHandle(OpenObject object);
    OpenObject* findHandle(kvph::Handle handle);

    // Every physical drive the machine has now: its disks, then attached vdisks with their numbers.
    std::vector<const Disk*> allDisks() const;
    // Makes an attached vdisk a physical drive: the lowest drive number no other drive has, bus 15
    // (file-backed virtual disk), a fixed drive.
    void plugInVdisk(VirtualDisk& vdisk);
    const Disk* diskByNumber(int number) const;
    // The volume mounted under a letter, with the disk that holds it.
    struct MountedVolume {
        const Disk* disk = nullptr;
        const Volume* volume = nullptr;
    };
    std::optional<MountedVolume> volumeByLetter(wchar_t letter) const;

    // Storage property query and ATA pass-through answers (SimStorageQuery.cpp).
    kvph::IoResult answerStorageQuery(const Disk& disk, const kvph::Bytes& input, std::uint32_t outputSize);
    kvph::IoResult answerAtaPassThrough(const Disk& disk, const kvph::Bytes& input, std::uint32_t outputSize);
    // Geometry and layout answers (SimDevices.cpp).
    kvph::IoResult answerGeometry(const Disk& disk, std::uint32_t outputSize);
    kvph::IoResult answerLayout(const Disk& disk, std::uint32_t outputSize);

    // The stand-in diskpart: runs the script text and returns its exit code, appending what it prints
    // to `output` (SimDiskpart.cpp).
    std::uint32_t runDiskpart(const std::string& script, std::string& output);

    // Text in the machine's ANSI code page (Machine.cpp).
    std::string toAnsi(const std::wstring& text) const;
    std::wstring fromAnsi(const std::string& bytes) const;

    // The in-memory file system (SimFiles.cpp). `key` is a pathKey(); files on a drive that does not
    // exist (a detached virtual disk's volume) are not found.
    File* findFile(const std::wstring& key);
    bool rootExists(wchar_t letter) const;
    bool folderExists(const std::wstring& key) const;
    bool parentFolderExists(const std::wstring& key) const;
    // Writes a file as a program does (the parent folder must exist, read-only files refuse): the
    // error, or nullopt on success.
    std::optional<std::uint32_t> storeFile(const std::wstring& path, const std::string& bytes, bool append);
    // Size of a virtual disk's file made by "create vdisk" or implied by a machine file: its headers and
    // metadata, not its contents.
    static constexpr std::size_t kNewVdiskFileBytes = 4u << 20;
    // The size a file has on its volume: its logical size when one is set, else its bytes.
    static std::uint64_t fileSize(const File& file);
    // Creates the missing folders along a folder path below its root; false when one cannot be made.
    bool createFolderChain(const std::wstring& path);

private:
    // Process starts (SimProcesses.cpp): diskpart with its words as parsed from the command line, and
    // batch files run line by line; a line that runs no command leaves the errorlevel (nullopt).
    std::uint32_t startDiskpart(const std::vector<std::wstring>& words, const std::wstring& commandLine,
                                const std::wstring& directory, std::string& output);
    std::uint32_t runBatch(const std::string& bytes, const std::wstring& directory);
    std::optional<std::uint32_t> runBatchLine(const std::wstring& line, const std::wstring& directory,
                                              bool& utf8Console);

    MachineModel model_;
    std::vector<LogLine> log_;
    std::vector<DiskpartRun> diskpartRuns_;
    std::vector<std::uint32_t> sleeps_;
    std::uint64_t clockMs_ = 0;
    std::map<std::string, int> callCounts_;
    std::vector<Fault> faults_;
    std::map<kvph::Handle, OpenObject> handles_;
    kvph::Handle nextHandle_ = 0x100;
    std::recursive_mutex callMutex_;
    int callMutexDepth_ = 0;
    bool symbolicLinkCallsLoaded_ = false;
};

}  // namespace sim
