// What `kvph check` finds on the machine before it starts and puts back on every way out: the files the
// library keeps in its own folder and in its data directory (a host service on the same machine shares
// UserData.ini), the data directory's folders, and the AutoRun policy value the attach changes for a
// while. Read and written through the platform seam: the simulated machine, or Win32 on Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kvph/base/Host.h"

namespace kvph::tool {

struct SavedFile {
    std::wstring path;
    bool existed = false;
    std::string bytes;
    std::uint32_t attributes = 0;
};

struct SavedFolder {
    std::wstring path;
    bool existed = false;
};

struct SavedAutoRun {
    bool keyExisted = false;
    std::optional<std::uint32_t> value;
};

class SavedMachineState {
public:
    // The state as it is now; nullopt with the reason in `why` when part of it cannot be read, since
    // what cannot be read cannot be put back.
    static std::optional<SavedMachineState> read(Host& host, std::string& why);

    // Puts back whatever differs from the saved state: files rewritten or deleted, folders the library
    // made removed when empty, the AutoRun value and key as they were. One line per thing it could not
    // put back.
    std::vector<std::string> restore(Host& host) const;

    // What differs between this state and `now`, one line each.
    std::vector<std::string> differences(const SavedMachineState& now) const;

    // The files that must not be there before a check: a host service's drive lives in that folder.
    std::vector<std::wstring> hostDriveStateFiles() const;

private:
    std::vector<SavedFile> files_;
    std::vector<SavedFolder> folders_;  // the data directory, deepest first
    SavedAutoRun autoRun_;
};

}  // namespace kvph::tool
