#include "kvph/commands/DisksCommand.h"

#include <cstdio>

#include <algorithm>
#include <sstream>

#include "kvph/base/ToolText.h"
#include "per/DriveManager.h"

namespace kvph::tool {

namespace {

constexpr std::size_t kBarWidth = 64;
constexpr std::size_t kMaxBarWidth = kBarWidth + 16;

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

// A record's letter as "E:", or empty for a record without one (the library keeps ":" or nothing there).
std::string letterOf(const PER::PartitionRecord& record) {
    const bool lettered = !record.letter.empty() && record.letter[0] != L':';
    return lettered ? toUtf8(record.letter.substr(0, 1)) + ":" : std::string();
}

// Columns a record of `sizeMB` takes in a bar of kBarWidth for a disk of `diskMB`, at most the whole
// bar: a record larger than its disk (a broken table) must not make the picture grow without bound.
std::size_t columnsFor(std::int64_t sizeMB, std::int64_t diskMB) {
    if (diskMB <= 0 || sizeMB <= 0) {
        return 0;
    }
    const long double share = static_cast<long double>(sizeMB) * kBarWidth / static_cast<long double>(diskMB);
    return share >= kBarWidth ? kBarWidth : static_cast<std::size_t>(share);
}

// One character per share of the disk, each record a segment opened by '|' and labelled with its
// drive letter (or kind mark). The extended container is left out: its logical drives and gaps follow it.
// The whole bar is cut at kMaxBarWidth, ending in '>', when the records add up to more than the disk.
std::string diskBar(const PER::DriveData& data, std::int64_t diskMB) {
    std::string bar;
    for (std::size_t i = 0; i < data.GetPartitionCount() && bar.size() <= kMaxBarWidth; ++i) {
        const PER::PartitionRecord& record = *data.GetPartition(i);
        if (record.kind == PER::PartitionKind::Extended) {
            continue;
        }
        std::string segment(std::max<std::size_t>(columnsFor(record.sizeMB, diskMB), 2),
                            kindMark(record.kind));
        segment[0] = '|';
        const std::string letter = letterOf(record);
        segment[1] = letter.empty() ? kindMark(record.kind) : letter[0];
        bar += segment;
    }
    if (bar.size() > kMaxBarWidth) {
        return bar.substr(0, kMaxBarWidth) + ">";
    }
    return bar + "|";
}

std::string textOf(const std::wstring& text) {
    return toUtf8(text);
}

// "1" or "0", and "-" where the library could not tell.
std::string readOnlyText(int readOnly) {
    return readOnly < 0 ? "-" : std::to_string(readOnly);
}

std::string recordLine(std::size_t position, const PER::PartitionRecord& record) {
    char line[256];
    std::snprintf(line, sizeof line, "  %3zu  %-9s %4u %9lld  %-4s %-28s %-16s %2s", position + 1,
                  PER::PartitionKindName(record.kind), record.partitionNumber,
                  static_cast<long long>(record.sizeMB), letterOf(record).c_str(),
                  escaped(record.fileSystem).c_str(), escaped(record.label).c_str(),
                  readOnlyText(record.readOnly).c_str());
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

std::string disksPicture() {
    PER::DriveManager* manager = PER::DriveManager::GetInstance();
    manager->Enumerate();
    std::ostringstream text;
    for (std::size_t i = 0; i < manager->GetDriveCount(); ++i) {
        const PER::DriveDevice& device = *manager->GetDrive(i);
        const PER::DriveData& data = *device.GetDriveData();
        char title[64];
        std::snprintf(title, sizeof title, "Disk %d %-3s %8lld MB  ",
                      static_cast<int>(device.GetDriveNumber()), styleName(data.GetPartitionStyle()),
                      static_cast<long long>(data.GetDiskSize() >> 20));
        text << title << diskBar(data, data.GetDiskSize() >> 20) << "\n";
    }
    PER::DriveManager::ReleaseInstance();
    return text.str();
}

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

}  // namespace kvph::tool
