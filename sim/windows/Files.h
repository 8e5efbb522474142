// Files and folders: the in-memory file system over the model's `files` and `folders`, the folder
// paths the machine reports, and file handles. Files on a drive that does not exist (a detached
// virtual disk's volume) are not found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/windows/Shared.h"

namespace sim {

class Drives;

// Upper-cased, separator-normalised key of a Windows path (no trailing backslash except on roots).
std::wstring pathKey(const std::wstring& path);

class Files {
public:
    Files(MachineModel& model, Calls& calls, Handles& handles, const Drives& drives)
        : model_(model), calls_(calls), handles_(handles), drives_(drives) {}

    // Size of a virtual disk's file made by "create vdisk" or implied by a machine file: its headers and
    // metadata, not its contents.
    static constexpr std::size_t kNewVdiskFileBytes = 4u << 20;
    // The size a file has on its volume: its logical size when one is set, else its bytes.
    static std::uint64_t fileSize(const File& file) { return file.logicalSize.value_or(file.content.size()); }

    // `key` is a pathKey().
    File* findFile(const std::wstring& key);
    const File* findFile(const std::wstring& key) const;
    const File* findFolder(const std::wstring& key) const;
    bool folderExists(const std::wstring& key) const;
    bool parentFolderExists(const std::wstring& key) const;
    // Writes a file as a program does (the parent folder must exist, read-only files refuse): the
    // error, or nullopt on success.
    std::optional<std::uint32_t> storeFile(const std::wstring& path, const std::string& bytes, bool append);
    // Creates the missing folders along a folder path below its root; false when one cannot be made.
    bool createFolderChain(const std::wstring& path);

    // Direct edits for tests and tools, without the platform's checks.
    void putFile(const std::wstring& path, const std::string& bytes, std::uint32_t attributes);
    void putFolder(const std::wstring& path);
    // Removes a folder that holds nothing, as RemoveDirectoryW does: false when it is missing or not empty.
    bool removeEmptyFolder(const std::wstring& path);

    std::optional<std::wstring> shGetSpecialFolderPathW(int csidl, bool create);
    std::optional<std::wstring> getModuleFileNameW(std::uint32_t bufferUnits);
    std::optional<std::wstring> getSystemDirectoryW(std::uint32_t bufferUnits);

    bool pathFileExistsW(const std::wstring& path);
    kvph::BoolResult setFileAttributesW(const std::wstring& path, std::uint32_t attributes);
    std::optional<std::uint32_t> getFileAttributesW(const std::wstring& path);
    kvph::BoolResult deleteFileW(const std::wstring& path);
    // Renames a file within its volume; MOVEFILE_REPLACE_EXISTING lets it take the place of another file.
    kvph::BoolResult moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                 std::uint32_t flags);
    kvph::FileAttributeData getFileAttributesExW(const std::wstring& path);
    // The ANSI calls name the file that the path's wide form in the machine's code page names.
    bool pathFileExistsA(const std::wstring& widePath);
    kvph::BoolResult setFileAttributesA(const std::wstring& widePath, std::uint32_t attributes);
    kvph::BoolResult deleteFileA(const std::wstring& widePath);
    int wmkdir(const std::wstring& path);
    kvph::BoolResult removeDirectoryW(const std::wstring& path);
    kvph::BoolResult createDirectoryW(const std::wstring& path, const std::wstring& securityDescriptor);
    // Keeps the descriptor asked for on the file or folder.
    kvph::BoolResult setNamedSecurityInfoW(const std::wstring& path, std::uint32_t securityInformation,
                                           const std::wstring& securityDescriptor);
    // Opens or creates a file (device paths are the drives' business, see Machine::createFileW). A file
    // that is created keeps `securityDescriptor`; an existing one keeps its own, as on the platform.
    kvph::HandleResult createFile(const std::wstring& path, std::uint32_t desiredAccess,
                                  std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                                  const std::wstring& securityDescriptor);
    kvph::WriteResult writeFile(kvph::Handle file, const kvph::Bytes& data);
    kvph::ReadResult readFile(kvph::Handle file, std::uint32_t bytesToRead);
    kvph::BoolResult flushFileBuffers(kvph::Handle file);

private:
    bool onReadOnlyVolume(const std::wstring& key) const;

    MachineModel& model_;
    Calls& calls_;
    Handles& handles_;
    const Drives& drives_;
};

}  // namespace sim
