// Helpers of the enumeration tests: a machine whose device answers can be observed and altered, a
// compact view of a record list, and disk images made by the real partitioning tools.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "per/DriveData.h"
#include "platform/Platform.h"
#include "sim/Machine.h"

namespace kvph::test {

// The simulated machine, recording each drive open, with a hook that may replace
// the answer to a control code.
class ObservedMachine : public sim::Machine {
public:
    using sim::Machine::Machine;

    using IoHook = std::function<std::optional<IoResult>(std::uint32_t controlCode, std::uint32_t outputSize,
                                                         const IoResult& real)>;

    IoResult deviceIoControl(Handle device, std::uint32_t controlCode, const Bytes& input,
                             std::uint32_t outputSize) override {
        IoResult real = sim::Machine::deviceIoControl(device, controlCode, input, outputSize);
        if (ioHook) {
            if (std::optional<IoResult> replaced = ioHook(controlCode, outputSize, real)) {
                return *replaced;
            }
        }
        return real;
    }

    struct OpenCall {
        std::string path;
        std::uint32_t desiredAccess;
        std::uint32_t shareMode;
        std::uint32_t creationDisposition;
        std::uint32_t flagsAndAttributes;
    };

    HandleResult createFileA(const std::string& path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override {
        opens.push_back({path, desiredAccess, shareMode, creationDisposition, flagsAndAttributes});
        return sim::Machine::createFileA(path, desiredAccess, shareMode, creationDisposition,
                                         flagsAndAttributes);
    }

    int calls(const std::string& method) const {
        auto it = callCounts().find(method);
        return it == callCounts().end() ? 0 : it->second;
    }

    std::vector<OpenCall> opens;
    IoHook ioHook;
};

// What a test asserts of one record.
struct RecordView {
    PER::PartitionKind kind;
    std::uint32_t partitionNumber;
    std::int64_t sizeMB;
    std::wstring letter;
    std::wstring fileSystem;

    bool operator==(const RecordView& other) const {
        return kind == other.kind && partitionNumber == other.partitionNumber && sizeMB == other.sizeMB &&
               letter == other.letter && fileSystem == other.fileSystem;
    }
};

inline std::ostream& operator<<(std::ostream& out, const RecordView& view) {
    return out << "{" << PER::PartitionKindName(view.kind) << ", #" << view.partitionNumber << ", "
               << view.sizeMB << " MB, '" << std::string(view.letter.begin(), view.letter.end()) << "', '"
               << std::string(view.fileSystem.begin(), view.fileSystem.end()) << "'}";
}

// The records of a disk in list order; also checks that each record's index is its position.
inline std::vector<RecordView> recordsOf(const PER::DriveData& data) {
    std::vector<RecordView> views;
    for (std::size_t i = 0; i < data.GetPartitionCount(); ++i) {
        const PER::PartitionRecord& record = *data.GetPartition(i);
        EXPECT_EQ(record.index, i);
        views.push_back(
            {record.kind, record.partitionNumber, record.sizeMB, record.letter, record.fileSystem});
    }
    return views;
}

// MiB of a sector count of 512 bytes, truncated: how a table's own numbers become record sizes.
constexpr std::int64_t mbOfSectors(std::uint64_t sectors) {
    return static_cast<std::int64_t>(sectors * 512 / 1048576);
}

// Sparse image files under the build tree, partitioned by sfdisk or sgdisk.
class DiskImages {
public:
    static bool toolsPresent();
    // A path in this process's own scratch folder under the build tree, which goes with the process:
    // test processes that run at once (ctest, valgrind, sanitizers) never share a file.
    static std::string scratchPath(const std::string& name);
    // For a fixture's SetUp: without the tools the test is skipped, or fails when CI is set, so that
    // a build machine missing them cannot pass by running none of these tests.
    static void requireTools();
    // A sparse file of `sizeBytes`, partitioned by `sfdisk` reading `script`; the path, or "" on failure.
    static std::string withSfdisk(const std::string& name, std::uint64_t sizeBytes,
                                  const std::string& script);
    // The same with `sgdisk` run with `arguments` (each already quoted where needed).
    static std::string withSgdisk(const std::string& name, std::uint64_t sizeBytes,
                                  const std::string& arguments);
    // A sparse 1 GiB image whose boot records (by sector) hold the given slots {type, first, sectors}
    // as a table stores them, which the partitioning tools would refuse to write.
    using Slots = std::vector<std::array<std::uint32_t, 3>>;
    static std::string withBootRecords(const std::string& name,
                                       const std::map<std::uint32_t, Slots>& records);
    // Overwrites one 512-byte sector of an image with zeros.
    static bool zeroSector(const std::string& path, std::uint64_t sector);
};

}  // namespace kvph::test
