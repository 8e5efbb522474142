// One REG_DWORD registry value with its location, saved before a change and restored exactly after it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace kvph {

// What a value was before the call changed it.
struct SavedDword {
    bool known = false;  // false: the key or value could not be read, so nothing may be changed
    bool keyExisted = false;
    bool valueExisted = false;
    std::uint32_t value = 0;
};

enum class RestoreOutcome { NothingToUndo, Restored, Failed };

class DwordRegHelper {
public:
    DwordRegHelper(RegistryRoot root, std::wstring keyPath, std::wstring valueName);
    virtual ~DwordRegHelper() = default;
    DwordRegHelper(const DwordRegHelper&) = delete;
    DwordRegHelper& operator=(const DwordRegHelper&) = delete;

    // Reads the value through a key opened for query only.
    SavedDword Save() const;
    // Sets the value, creating the key when it is missing: 1 when the value was set.
    int Write(std::uint32_t value);
    // Puts back what Save found: the old value, or no value, or no key when Write created it and it is
    // empty again, trying a second time when a registry call fails.
    RestoreOutcome Restore(const SavedDword& saved);
    // Restore for a change that a process killed since then made: a key that did not exist before counts
    // as created by that process.
    RestoreOutcome RestoreAfterKill(const SavedDword& saved);

private:
    bool RestoreOnce(const SavedDword& saved);

    RegistryRoot root_;
    std::wstring keyPath_;
    std::wstring valueName_;
    std::uint32_t value_ = 0;
    bool keyCreated_ = false;
};

}  // namespace kvph
