// A small machine with drive C:, the common application data folder and the library's folder, installed
// as the platform for the test's lifetime.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "sim/Machine.h"

namespace kvph::test {

inline constexpr wchar_t kDataDirectory[] = L"C:\\ProgramData\\Norvel\\Quillmark\\";
inline constexpr wchar_t kScriptFile[] = L"C:\\ProgramData\\Norvel\\Quillmark\\Command.txt";
inline constexpr wchar_t kLibraryFolder[] = L"C:\\Program Files\\Host\\";
inline constexpr wchar_t kResultFile[] = L"C:\\Program Files\\Host\\result.txt";
inline constexpr wchar_t kBatchFile[] = L"C:\\Program Files\\Host\\temp.bat";

// The simulated machine, with a way to make the batch-file start end at a chosen stage and a look at
// temp.bat as it was when it was started.
class TestMachine : public sim::Machine {
public:
    ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                       const std::wstring& parameters, const std::wstring& directory,
                                       int showCommand) override {
        startedBatch = fileBytes(file).value_or("");
        startedDirectory = directory;
        if (forcedStage) {
            ProcessOutcome outcome;
            outcome.stage = *forcedStage;
            return outcome;
        }
        return sim::Machine::shellExecuteAndWait(verb, file, parameters, directory, showCommand);
    }

    // A write that succeeds but reports one byte fewer than it was given.
    WriteResult writeFile(Handle file, const Bytes& data) override {
        WriteResult result = sim::Machine::writeFile(file, data);
        if (shortWrites && result.ok && result.bytesWritten > 0) {
            --result.bytesWritten;
        }
        return result;
    }

    std::optional<ProcessOutcome::Stage> forcedStage;
    bool shortWrites = false;
    std::string startedBatch;
    std::wstring startedDirectory;
};

class FrameTest : public ::testing::Test {
protected:
    FrameTest() {
        machine.model().letters.push_back(L'C');
        machine.putFolder(L"C:\\ProgramData");
        machine.putFolder(L"C:\\Program Files");
        machine.putFolder(L"C:\\Program Files\\Host");
    }

    std::vector<std::wstring> log() const { return machine.logTexts(); }

    bool logged(const std::wstring& line) const {
        const auto lines = log();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    TestMachine machine;
    ScopedPlatform installed{machine};
};

}  // namespace kvph::test
