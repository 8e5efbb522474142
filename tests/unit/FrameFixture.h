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

// The simulated machine, with a way to make the batch-file start end at a chosen stage, a look at
// temp.bat and the start's fields as they were when it was started, and the flags of direct starts.
class TestMachine : public sim::Machine {
public:
    ProcessOutcome shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                       const std::wstring& parameters, const std::wstring& directory,
                                       int showCommand) override {
        startedBatch = fileBytes(file).value_or("");
        startedVerb = verb;
        startedParameters = parameters;
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

    HandleResult createFileW(const std::wstring& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                             const std::wstring& securityDescriptor = std::wstring()) override {
        fileOpens.push_back({path, desiredAccess, shareMode, creationDisposition, flagsAndAttributes});
        return sim::Machine::createFileW(path, desiredAccess, shareMode, creationDisposition,
                                         flagsAndAttributes, securityDescriptor);
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
    std::wstring startedVerb;
    std::wstring startedParameters = L"(not started)";
    std::wstring startedDirectory;
    int startedShowCommand = -1;
    std::vector<std::uint32_t> processCreationFlags;
    std::uint32_t unreportedLetters = 0;  // bits GetLogicalDrives clears (bit 0 is A)
    struct FileOpen {
        std::wstring path;
        std::uint32_t access, sharing, disposition, attributes;
        bool operator==(const FileOpen& o) const {
            return path == o.path && access == o.access && sharing == o.sharing &&
                   disposition == o.disposition && attributes == o.attributes;
        }
    };
    std::vector<FileOpen> fileOpens;
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
