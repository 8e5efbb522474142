// The small pieces every role of the simulated machine shares: the watch over seam calls (counting and
// injected faults), the table of open handles and the machine's ANSI code page.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Platform.h"
#include "sim/machine/Model.h"

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

// Every seam method of every role enters here first: the call is counted, and an injected fault that
// matches it is the error the call fails with.
class Calls {
public:
    std::optional<std::uint32_t> enter(const char* method, const std::wstring& argument = {});

    const std::map<std::string, int>& counts() const { return counts_; }
    void resetCounts() { counts_.clear(); }
    void inject(Fault fault) { faults_.push_back(std::move(fault)); }
    void clearFaults() { faults_.clear(); }

    // Seam calls entered since the machine was made.
    std::uint64_t total() const { return total_; }
    // Kills the calling process as the call with this 0-based index enters: `onKill` runs first (it keeps
    // the machine as the killed process leaves it), and that call and every later one fail, so that what
    // the library does after its death changes nothing that counts.
    void killAt(std::uint64_t index, std::function<void()> onKill);
    bool killed() const { return killed_; }

private:
    std::map<std::string, int> counts_;
    std::vector<Fault> faults_;
    std::uint64_t total_ = 0;
    std::optional<std::uint64_t> killAt_;
    std::function<void()> onKill_;
    bool killed_ = false;
};

struct OpenFile {
    std::wstring key;  // pathKey of the file
    std::uint32_t access = 0;
    std::uint64_t position = 0;
};
struct OpenDevice {
    int diskNumber = 0;  // physical drive number (attached vdisks included)
};
struct OpenLink {
    std::wstring target;
};
struct OpenMutex {
    std::wstring name;
};
struct OpenRegKey {
    std::wstring key;  // the model's registry key name
    std::uint32_t access = 0;
};
using OpenObject = std::variant<OpenFile, OpenDevice, OpenLink, OpenMutex, OpenRegKey>;

class Handles {
public:
    kvph::Handle add(OpenObject object);
    OpenObject* find(kvph::Handle handle);
    const OpenObject* find(kvph::Handle handle) const;
    // The object of this kind behind the handle, or null.
    template <typename Kind>
    Kind* findAs(kvph::Handle handle) {
        OpenObject* object = find(handle);
        return object != nullptr ? std::get_if<Kind>(object) : nullptr;
    }
    bool close(kvph::Handle handle) { return objects_.erase(handle) == 1; }
    bool fileIsOpen(const std::wstring& key) const;
    std::size_t size() const { return objects_.size(); }

private:
    std::map<kvph::Handle, OpenObject> objects_;
    kvph::Handle next_ = 0x100;
};

// The NTSTATUS a native call reports for an injected Win32 error.
std::int32_t ntStatusFor(std::uint32_t error);

// Text in the machine's ANSI code page, read from the model at each call.
class CodePage {
public:
    explicit CodePage(const MachineModel& model) : model_(model) {}
    std::string toAnsi(const std::wstring& text, bool bestFit = false) const;
    std::wstring fromAnsi(const std::string& bytes) const;
    std::uint32_t number() const { return model_.codePage; }

private:
    const MachineModel& model_;
};

}  // namespace sim
