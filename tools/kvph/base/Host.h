// What the kvph tool needs from the place the library runs in: the twelve exports and the log lines
// they wrote. On Windows the host loads KvPartitionHelper.dll, or with a machine file runs the library's
// code on a simulated machine, as it always does elsewhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KvPartitionHelper.h"

namespace kvph::tool {

struct Exports {
    decltype(&PH_ListFixedPartition) listFixedPartition = nullptr;
    decltype(&PH_CreateVHDX) createVHDX = nullptr;
    decltype(&PH_AttachVHDX) attachVHDX = nullptr;
    decltype(&PH_DetachVHDX) detachVHDX = nullptr;
    decltype(&PH_CheckExistVHDX) checkExistVHDX = nullptr;
    decltype(&PH_FormatNTFS) formatNTFS = nullptr;
    decltype(&PH_FindUsableLabel) findUsableLabel = nullptr;
    decltype(&PH_CompactThenAttachVHDX) compactThenAttachVHDX = nullptr;
    decltype(&PH_GetVHDXVolumeLabel) getVHDXVolumeLabel = nullptr;
    decltype(&PH_CheckVHDXReadOnly) checkVHDXReadOnly = nullptr;
    decltype(&PH_SetHidden) setHidden = nullptr;
    decltype(&PH_SetNonHidden) setNonHidden = nullptr;
};

struct DiskpartRunRecord {
    std::string script;
    unsigned exitCode = 0;
};

class Host {
public:
    virtual ~Host() = default;
    virtual const Exports& exports() const = 0;
    // Log lines written since the last call, in order.
    virtual std::vector<std::wstring> takeLog() = 0;
    // diskpart runs since the last call; false where the host cannot see them (a real machine).
    virtual bool takeDiskpartRuns(std::vector<DiskpartRunRecord>& runs) = 0;
    // The folder the library keeps Partition.ini in, ending with a backslash.
    virtual std::wstring libraryFolder() = 0;
    // The bytes of a file on the machine the library runs on; false when it cannot be read.
    virtual bool readFile(const std::wstring& path, std::string& bytes) = 0;
    // The ANSI code page of the machine the library runs on.
    virtual std::uint32_t codePage() = 0;
    // Writes the machine description after the commands; false with a message where not possible.
    virtual bool save(const std::string& path, std::string& error) = 0;
    // Whether the tool runs with an administrator's rights (the simulated machine's user is one).
    virtual bool isAdministrator() = 0;
    // The temporary folder of the machine the library runs on, ending with a backslash.
    virtual std::wstring temporaryFolder() = 0;
    // Removes a folder that holds nothing; false when it is missing, not empty or cannot be removed.
    virtual bool removeEmptyFolder(const std::wstring& path) = 0;
    // From now on reports each change the library makes to the machine (see TracingPlatform.h); false
    // where the host cannot see the library's calls (the real DLL).
    virtual bool startTrace(std::function<void(const std::string&)> report) = 0;
};

// Ctrl+C (and on Windows closing the console) asks a long command to stop at its next safe point
// instead of ending the process, so that it can put the machine back first. Until the watch starts the
// platform's default applies.
void watchForInterrupts();
bool interruptRequested();
// The command has put everything back; on Windows a console that is being closed may go now.
void interruptHandled();

// The program's arguments as UTF-8 (on Windows read from the wide command line, so that paths with
// characters outside the ANSI code page survive).
std::vector<std::string> utf8Arguments(int argc, char** argv);

// Builds the host for this platform: on Windows the real library unless a machine file is given,
// elsewhere always the simulated machine.
std::unique_ptr<Host> makeHost(const std::string& machineFile, std::string& error);

#ifdef _WIN32
// KvPartitionHelper.dll from the tool's own folder, loaded as a host service loads it.
std::unique_ptr<Host> makeLibraryHost(std::string& error);
#endif

// The library's own code on a simulated machine: the one `machineFile` describes, or the built-in
// default machine when it is empty.
std::unique_ptr<Host> makeSimulatedHost(const std::string& machineFile, std::string& error);

}  // namespace kvph::tool
