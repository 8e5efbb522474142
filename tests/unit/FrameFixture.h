// A small machine with drive C:, the common application data folder and the library's folder, installed
// as the platform for the test's lifetime.
#pragma once

#include <gtest/gtest.h>

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

// The simulated machine, with a way to make the batch-file start end at a chosen stage, a look at
// temp.bat and the start's folder and window as they were when it was started, and the flags of direct
// starts.
class TestMachine : public sim::Machine {
public:
    ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                       const std::wstring& parameters, const std::wstring& directory,
                                       int showCommand) override {
        startedBatch = fileBytes(file).value_or("");
        startedDirectory = directory;
        startedShowCommand = showCommand;
        if (forcedStage) {
            ProcessOutcome outcome;
            outcome.stage = *forcedStage;
            return outcome;
        }
        return sim::Machine::shellExecuteAndWait(verb, file, parameters, directory, showCommand);
    }

    ProcessOutcome createProcessAndWait(const std::wstring& applicationName, const std::wstring& commandLine,
                                        std::uint32_t creationFlags) override {
        processCreationFlags.push_back(creationFlags);
        return sim::Machine::createProcessAndWait(applicationName, commandLine, creationFlags);
    }

    DriveMask getLogicalDrives() override {
        DriveMask drives = sim::Machine::getLogicalDrives();
        drives.mask &= ~unreportedLetters;
        return drives;
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
    int startedShowCommand = -1;
    std::vector<std::uint32_t> processCreationFlags;
    std::uint32_t unreportedLetters = 0;  // bits GetLogicalDrives clears (bit 0 is A)
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
    // How often the library made a seam call since the counts were last reset.
    int calls(const char* method) const {
        const auto found = machine.callCounts().find(method);
        return found == machine.callCounts().end() ? 0 : found->second;
    }

    TestMachine machine;
    ScopedPlatform installed{machine};
};

}  // namespace kvph::test
