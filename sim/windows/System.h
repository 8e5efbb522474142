// The machine's own services: the debug output log, the virtual clock, the named mutex behind the
// library's call lock, closing handles, and the text and GUID conversions.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/windows/Shared.h"

namespace sim {

struct LogLine {
    bool wide = true;
    std::wstring text;  // narrow lines are widened byte per unit
};

class System {
public:
    System(Calls& calls, Handles& handles, const CodePage& codePage)
        : calls_(calls), handles_(handles), codePage_(codePage) {}
    ~System();
    System(const System&) = delete;
    System& operator=(const System&) = delete;

    const std::vector<LogLine>& log() const { return log_; }
    void clearLog() { log_.clear(); }
    std::uint64_t virtualMilliseconds() const { return clockMs_; }
    const std::vector<std::uint32_t>& sleeps() const { return sleeps_; }

    void outputDebugStringW(const std::wstring& message);
    void outputDebugStringA(const std::string& message);
    void sleep(std::uint32_t milliseconds);

    kvph::HandleResult createMutexW(const std::wstring& name);
    // WaitForSingleObject in two halves, so that the machine's lock is held for the first only: the
    // call's checks (the wait's failure result, nullopt when `handle` is the call lock's mutex), then the
    // wait itself, which blocks when `milliseconds` is INFINITE.
    std::optional<std::uint32_t> checkWait(kvph::Handle handle);
    std::uint32_t takeCallLock(std::uint32_t milliseconds);
    kvph::BoolResult releaseMutex(kvph::Handle mutex);

    kvph::BoolResult closeHandle(kvph::Handle handle);
    std::int32_t ntClose(kvph::Handle handle);

    std::optional<std::string> wideToAnsi(const std::wstring& text, std::uint32_t flags);
    std::optional<std::wstring> ansiToWide(const std::string& bytes);
    std::optional<std::wstring> stringFromCLSID(const std::uint8_t (&guid)[16], std::uint32_t& error);

private:
    Calls& calls_;
    Handles& handles_;
    const CodePage& codePage_;
    std::vector<LogLine> log_;
    std::vector<std::uint32_t> sleeps_;
    std::uint64_t clockMs_ = 0;
    std::recursive_mutex callMutex_;
    int callMutexDepth_ = 0;
};

}  // namespace sim
