#include "sim/Machine.h"

#include "sim/windows/Text.h"

namespace sim {

Machine::Machine() = default;

Machine::Machine(MachineModel model) : model_(std::move(model)) {
    for (VirtualDisk& vdisk : model_.vdisks) {
        if (vdisk.attached) {
            drives_.plugInVdisk(vdisk);
        }
    }
}

Machine::~Machine() = default;

void Machine::killAtCall(std::uint64_t index) {
    const Lock lock(mutex_);
    calls_.killAt(index, [this] { killedModel_ = model_; });
}

std::vector<std::wstring> Machine::logTexts() const {
    std::vector<std::wstring> texts;
    texts.reserve(log().size());
    for (const LogLine& line : log()) {
        texts.push_back(line.text);
    }
    return texts;
}

bool Machine::fileExists(const std::wstring& path) const {
    return files_.findFile(pathKey(path)) != nullptr;
}

bool Machine::removeEmptyFolder(const std::wstring& path) {
    const Lock lock(mutex_);
    return files_.removeEmptyFolder(path);
}

std::optional<std::string> Machine::fileBytes(const std::wstring& path) const {
    const File* file = files_.findFile(pathKey(path));
    if (file == nullptr) {
        return std::nullopt;
    }
    return std::string(file->content.begin(), file->content.end());
}

std::optional<std::uint32_t> Machine::fileAttributes(const std::wstring& path) const {
    const std::wstring key = pathKey(path);
    if (const File* file = files_.findFile(key)) {
        return file->attributes;
    }
    if (const File* folder = files_.findFolder(key)) {
        return folder->attributes;
    }
    return std::nullopt;
}

std::optional<std::wstring> Machine::security(const std::wstring& path) const {
    const std::wstring key = pathKey(path);
    const File* file = files_.findFile(key);
    if (file == nullptr) {
        file = files_.findFolder(key);
    }
    return file != nullptr ? std::optional<std::wstring>(file->security) : std::nullopt;
}

void Machine::setSecurity(const std::wstring& path, const std::wstring& securityDescriptor) {
    const std::wstring key = pathKey(path);
    auto folder = model_.folders.find(key);
    File& file = folder != model_.folders.end() ? folder->second : model_.files.at(key);
    file.security = securityDescriptor;
}

// Device paths go to the drives, others to the file system. Each call converts the path and goes through
// the other's seam method, as the platform's CreateFileW and CreateFileA do.
kvph::HandleResult Machine::createFileW(const std::wstring& path, std::uint32_t desiredAccess,
                                        std::uint32_t shareMode, std::uint32_t creationDisposition,
                                        std::uint32_t flagsAndAttributes,
                                        const std::wstring& securityDescriptor) {
    const Lock lock(mutex_);
    if (auto error = calls_.enter("createFileW", path)) {
        return {kvph::kInvalidHandle, *error};
    }
    if (Drives::isDevicePath(path)) {
        return createFileA(toAnsi(path), desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
    }
    return files_.createFile(path, desiredAccess, creationDisposition, flagsAndAttributes,
                             securityDescriptor);
}

kvph::HandleResult Machine::createFileA(const std::string& path, std::uint32_t desiredAccess,
                                        std::uint32_t shareMode, std::uint32_t creationDisposition,
                                        std::uint32_t flagsAndAttributes) {
    const Lock lock(mutex_);
    const std::wstring widePath = fromAnsi(path);
    if (auto error = calls_.enter("createFileA", widePath)) {
        return {kvph::kInvalidHandle, *error};
    }
    if (!Drives::isDevicePath(widePath)) {
        return createFileW(widePath, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
    }
    return drives_.openDevice(widePath);
}

// --- Forwarders.

void Machine::outputDebugStringW(const std::wstring& message) {
    const Lock lock(mutex_);
    system_.outputDebugStringW(message);
}
void Machine::outputDebugStringA(const std::string& message) {
    const Lock lock(mutex_);
    system_.outputDebugStringA(message);
}
void Machine::sleep(std::uint32_t milliseconds) {
    const Lock lock(mutex_);
    system_.sleep(milliseconds);
}
kvph::HandleResult Machine::createMutexW(const std::wstring& name) {
    const Lock lock(mutex_);
    return system_.createMutexW(name);
}
std::uint32_t Machine::waitForSingleObject(kvph::Handle handle, std::uint32_t milliseconds) {
    {
        const Lock lock(mutex_);
        if (const auto failure = system_.checkWait(handle)) {
            return *failure;
        }
    }
    // Waiting for the call lock while holding the machine would keep its holder from releasing it.
    return system_.takeCallLock(milliseconds);
}
kvph::BoolResult Machine::releaseMutex(kvph::Handle mutex) {
    const Lock lock(mutex_);
    return system_.releaseMutex(mutex);
}
kvph::BoolResult Machine::closeHandle(kvph::Handle handle) {
    const Lock lock(mutex_);
    return system_.closeHandle(handle);
}
std::int32_t Machine::ntClose(kvph::Handle handle) {
    const Lock lock(mutex_);
    return system_.ntClose(handle);
}
std::optional<std::wstring> Machine::ansiToWide(const std::string& bytes) {
    const Lock lock(mutex_);
    return system_.ansiToWide(bytes);
}

kvph::HandleResult Machine::regOpenKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                          std::uint32_t access) {
    const Lock lock(mutex_);
    return registry_.regOpenKeyExW(root, subKey, access);
}
kvph::RegCreateResult Machine::regCreateKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                               std::uint32_t access) {
    const Lock lock(mutex_);
    return registry_.regCreateKeyExW(root, subKey, access);
}
kvph::RegDwordQuery Machine::regQueryValueExDword(kvph::Handle key, const std::wstring& valueName) {
    const Lock lock(mutex_);
    return registry_.regQueryValueExDword(key, valueName);
}
std::uint32_t Machine::regSetValueExDword(kvph::Handle key, const std::wstring& valueName,
                                          std::uint32_t value) {
    const Lock lock(mutex_);
    return registry_.regSetValueExDword(key, valueName, value);
}
std::uint32_t Machine::regDeleteValueW(kvph::Handle key, const std::wstring& valueName) {
    const Lock lock(mutex_);
    return registry_.regDeleteValueW(key, valueName);
}
kvph::RegKeyInfo Machine::regQueryInfoKeyW(kvph::Handle key) {
    const Lock lock(mutex_);
    return registry_.regQueryInfoKeyW(key);
}
std::uint32_t Machine::regDeleteKeyExW(kvph::RegistryRoot root, const std::wstring& subKey) {
    const Lock lock(mutex_);
    return registry_.regDeleteKeyExW(root, subKey);
}
std::uint32_t Machine::regCloseKey(kvph::Handle key) {
    const Lock lock(mutex_);
    return registry_.regCloseKey(key);
}

std::optional<std::string> Machine::wideToAnsi(const std::wstring& text, std::uint32_t flags) {
    const Lock lock(mutex_);
    return system_.wideToAnsi(text, flags);
}
std::optional<std::wstring> Machine::stringFromCLSID(const std::uint8_t (&guid)[16], std::uint32_t& error) {
    const Lock lock(mutex_);
    return system_.stringFromCLSID(guid, error);
}

std::optional<std::wstring> Machine::shGetSpecialFolderPathW(int csidl, bool create) {
    const Lock lock(mutex_);
    return files_.shGetSpecialFolderPathW(csidl, create);
}
std::optional<std::wstring> Machine::getModuleFileNameW(std::uint32_t bufferUnits) {
    const Lock lock(mutex_);
    return files_.getModuleFileNameW(bufferUnits);
}
std::optional<std::wstring> Machine::getSystemDirectoryW(std::uint32_t bufferUnits) {
    const Lock lock(mutex_);
    return files_.getSystemDirectoryW(bufferUnits);
}
bool Machine::pathFileExistsW(const std::wstring& path) {
    const Lock lock(mutex_);
    return files_.pathFileExistsW(path);
}
kvph::BoolResult Machine::setFileAttributesW(const std::wstring& path, std::uint32_t attributes) {
    const Lock lock(mutex_);
    return files_.setFileAttributesW(path, attributes);
}
std::optional<std::uint32_t> Machine::getFileAttributesW(const std::wstring& path) {
    const Lock lock(mutex_);
    return files_.getFileAttributesW(path);
}
kvph::FileAttributeData Machine::getFileAttributesExW(const std::wstring& path) {
    const Lock lock(mutex_);
    return files_.getFileAttributesExW(path);
}
bool Machine::pathFileExistsA(const std::string& path) {
    const Lock lock(mutex_);
    return files_.pathFileExistsA(fromAnsi(path));
}
kvph::BoolResult Machine::setFileAttributesA(const std::string& path, std::uint32_t attributes) {
    const Lock lock(mutex_);
    return files_.setFileAttributesA(fromAnsi(path), attributes);
}
kvph::BoolResult Machine::deleteFileA(const std::string& path) {
    const Lock lock(mutex_);
    return files_.deleteFileA(fromAnsi(path));
}

kvph::BoolResult Machine::deleteFileW(const std::wstring& path) {
    const Lock lock(mutex_);
    return files_.deleteFileW(path);
}
kvph::BoolResult Machine::moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                      std::uint32_t flags) {
    const Lock lock(mutex_);
    return files_.moveFileExW(existing, replacement, flags);
}
int Machine::wmkdir(const std::wstring& path) {
    const Lock lock(mutex_);
    return files_.wmkdir(path);
}
kvph::BoolResult Machine::removeDirectoryW(const std::wstring& path) {
    const Lock lock(mutex_);
    return files_.removeDirectoryW(path);
}
kvph::BoolResult Machine::createDirectoryW(const std::wstring& path, const std::wstring& securityDescriptor) {
    const Lock lock(mutex_);
    return files_.createDirectoryW(path, securityDescriptor);
}
kvph::BoolResult Machine::setNamedSecurityInfoW(const std::wstring& path, std::uint32_t securityInformation,
                                                const std::wstring& securityDescriptor) {
    const Lock lock(mutex_);
    return files_.setNamedSecurityInfoW(path, securityInformation, securityDescriptor);
}
kvph::WriteResult Machine::writeFile(kvph::Handle file, const kvph::Bytes& data) {
    const Lock lock(mutex_);
    return files_.writeFile(file, data);
}
kvph::ReadResult Machine::readFile(kvph::Handle file, std::uint32_t bytesToRead) {
    const Lock lock(mutex_);
    return files_.readFile(file, bytesToRead);
}
kvph::BoolResult Machine::flushFileBuffers(kvph::Handle file) {
    const Lock lock(mutex_);
    return files_.flushFileBuffers(file);
}

std::wstring Machine::getPrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                               const std::wstring& defaultValue, std::uint32_t bufferUnits,
                                               const std::wstring& file) {
    const Lock lock(mutex_);
    return profiles_.getPrivateProfileStringW(section, key, defaultValue, bufferUnits, file);
}
std::uint32_t Machine::getPrivateProfileIntW(const std::wstring& section, const std::wstring& key,
                                             std::int32_t defaultValue, const std::wstring& file) {
    const Lock lock(mutex_);
    return profiles_.getPrivateProfileIntW(section, key, defaultValue, file);
}
kvph::BoolResult Machine::writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                     const std::wstring& value, const std::wstring& file) {
    const Lock lock(mutex_);
    return profiles_.writePrivateProfileStringW(section, key, value, file);
}

kvph::ProcessOutcome Machine::createProcessAndWait(const std::wstring& applicationName,
                                                   const std::wstring& commandLine, std::uint32_t) {
    const Lock lock(mutex_);
    return processes_.createProcessAndWait(applicationName, commandLine);
}
kvph::ProcessOutcome Machine::shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                                  const std::wstring&, const std::wstring& directory, int) {
    const Lock lock(mutex_);
    return processes_.shellExecuteAndWait(verb, file, directory);
}

std::optional<std::uint32_t> Machine::regQueryDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                                    const std::wstring& valueName) {
    const Lock lock(mutex_);
    return registry_.queryDword(root, subKey, valueName);
}
kvph::BoolResult Machine::regSetDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                      const std::wstring& valueName, std::uint32_t value) {
    const Lock lock(mutex_);
    return registry_.setDword(root, subKey, valueName, value);
}
kvph::BoolResult Machine::regDeleteValue(kvph::RegistryRoot root, const std::wstring& subKey,
                                         const std::wstring& valueName) {
    const Lock lock(mutex_);
    return registry_.deleteValue(root, subKey, valueName);
}

kvph::IoResult Machine::deviceIoControl(kvph::Handle device, std::uint32_t controlCode,
                                        const kvph::Bytes& input, std::uint32_t outputSize) {
    const Lock lock(mutex_);
    return drives_.deviceIoControl(device, controlCode, input, outputSize);
}
kvph::VolumeInformation Machine::getVolumeInformationW(const std::wstring& rootPath) {
    const Lock lock(mutex_);
    return drives_.getVolumeInformationW(rootPath);
}
kvph::DiskFreeSpace Machine::getDiskFreeSpaceExW(const std::wstring& directory) {
    const Lock lock(mutex_);
    return drives_.getDiskFreeSpaceExW(directory);
}
std::uint32_t Machine::getDriveTypeW(const std::wstring& rootPath) {
    const Lock lock(mutex_);
    return drives_.getDriveTypeW(rootPath);
}
kvph::DriveStrings Machine::getLogicalDriveStringsW(std::uint32_t bufferUnits) {
    const Lock lock(mutex_);
    return drives_.getLogicalDriveStringsW(bufferUnits);
}
kvph::DriveMask Machine::getLogicalDrives() {
    const Lock lock(mutex_);
    return drives_.getLogicalDrives();
}
std::optional<std::wstring> Machine::queryDosDeviceW(const std::wstring& deviceName,
                                                     std::uint32_t bufferUnits) {
    const Lock lock(mutex_);
    return drives_.queryDosDeviceW(deviceName, bufferUnits);
}
bool Machine::loadSymbolicLinkCalls() {
    const Lock lock(mutex_);
    return drives_.loadSymbolicLinkCalls();
}
kvph::NtHandleResult Machine::ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t,
                                                       std::uint32_t attributes) {
    const Lock lock(mutex_);
    return drives_.ntOpenSymbolicLinkObject(name, attributes);
}
kvph::NtTextResult Machine::ntQuerySymbolicLinkObject(kvph::Handle link, std::uint16_t maximumBytes) {
    const Lock lock(mutex_);
    return drives_.ntQuerySymbolicLinkObject(link, maximumBytes);
}

}  // namespace sim
