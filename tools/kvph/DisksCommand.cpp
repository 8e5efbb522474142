#include "DisksCommand.h"

#include <cstdio>

#ifndef _WIN32
#include <algorithm>
#include <sstream>

#include "ToolText.h"
#include "per/DriveManager.h"
#endif

namespace kvph::tool {

#ifdef _WIN32

// The enumeration classes are not exported by the DLL; the command runs on the simulated machine only.
CommandResult listDisks(Host&, const std::vector<std::wstring>&) {
    return {0, std::string("the disks command needs the simulated machine (run kvph off Windows)"), nullptr};
}

#else

namespace {

constexpr std::size_t kBarWidth = 72;

const char* styleName(int style) {
    switch (style) {
        case 0:
            return "MBR";
        case 1:
            return "GPT";
        case 2:
            return "RAW";
        default:
            return "Unknown";
    }
}

char kindMark(PER::PartitionKind kind) {
    switch (kind) {
        case PER::PartitionKind::Data:
            return 'd';
        case PER::PartitionKind::Logical:
            return 'l';
        case PER::PartitionKind::Reserved:
            return 'r';
        case PER::PartitionKind::EfiSystem:
            return 'e';
        default:
            return '.';
    }
}

// One character per share of the disk, each record a segment opened by '|' and labelled with its
// drive letter (or kind mark). The extended container is left out: its logical drives and gaps follow it.
std::string diskBar(const PER::DriveData& data, std::int64_t diskMB) {
    std::string bar;
    for (std::size_t i = 0; i < data.GetPartitionCount(); ++i) {
        const PER::PartitionRecord& record = *data.GetPartition(i);
        if (record.kind == PER::PartitionKind::Extended) {
            continue;
        }
        const std::size_t share =
            diskMB <= 0
                ? 1
                : static_cast<std::size_t>(std::max<std::int64_t>(record.sizeMB, 0) * kBarWidth / diskMB);
        std::string segment(std::max<std::size_t>(share, 2), kindMark(record.kind));
        segment[0] = '|';
        const bool lettered = !record.letter.empty() && record.letter[0] != L':';
        segment[1] = lettered ? static_cast<char>(record.letter[0]) : kindMark(record.kind);
        bar += segment;
    }
    return bar + "|";
}

std::string textOf(const std::wstring& text) {
    return toUtf8(text);
}

std::string recordLine(std::size_t position, const PER::PartitionRecord& record) {
    char line[256];
    std::snprintf(line, sizeof line, "  %3zu  %-9s %4u %9lld  %-4s %-28s %-16s %2d", position + 1,
                  PER::PartitionKindName(record.kind), record.partitionNumber,
                  static_cast<long long>(record.sizeMB), textOf(record.letter).c_str(),
                  textOf(record.fileSystem).c_str(), textOf(record.label).c_str(), record.readOnly);
    return line;
}

nlohmann::ordered_json recordJson(std::size_t position, const PER::PartitionRecord& record) {
    return {{"position", position + 1},
            {"kind", PER::PartitionKindName(record.kind)},
            {"partitionNumber", record.partitionNumber},
            {"sizeMB", record.sizeMB},
            {"letter", textOf(record.letter)},
            {"fileSystem", textOf(record.fileSystem)},
            {"label", textOf(record.label)},
            {"readOnly", record.readOnly}};
}

}  // namespace

CommandResult listDisks(Host&, const std::vector<std::wstring>&) {
    PER::DriveManager* manager = PER::DriveManager::GetInstance();
    manager->Enumerate();
    std::ostringstream text;
    nlohmann::ordered_json drives = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < manager->GetDriveCount(); ++i) {
        const PER::DriveDevice& device = *manager->GetDrive(i);
        const PER::DriveData& data = *device.GetDriveData();
        const std::int64_t sizeBytes = data.GetDiskSize();
        const char* style = styleName(data.GetPartitionStyle());
        text << "\nDisk " << device.GetDriveNumber() << "  " << style << "  " << (sizeBytes >> 20) << " MB\n";
        text << "  pos  kind      part   size MB  ltr  file system                  label            ro\n";
        nlohmann::ordered_json records = nlohmann::ordered_json::array();
        for (std::size_t p = 0; p < data.GetPartitionCount(); ++p) {
            text << recordLine(p, *data.GetPartition(p)) << "\n";
            records.push_back(recordJson(p, *data.GetPartition(p)));
        }
        text << "  " << diskBar(data, sizeBytes >> 20) << "\n";
        drives.push_back({{"number", device.GetDriveNumber()},
                          {"style", style},
                          {"sizeBytes", sizeBytes},
                          {"records", records}});
    }
    PER::DriveManager::ReleaseInstance();
    return {1, text.str(), {{"drives", drives}}};
}

#endif

}  // namespace kvph::tool
