// The stand-in diskpart's "shrink desired=" and "extend": they move the end of the selected partition and
// change its volume's size and free space with it.
#include <algorithm>

#include "sim/diskpart/Runner.h"

namespace sim {
namespace {

using namespace diskpart;

constexpr std::uint64_t kMiB = 1u << 20;

std::uint64_t sectorsPerMiB(const Disk& disk) {
    return kMiB / disk.geometry.bytesPerSector;
}

void setSectors(DiskpartPartition& partition, std::uint64_t sectors) {
    if (partition.mbr != nullptr) {
        partition.mbr->sectors = sectors;
    } else {
        partition.gpt->sectors = sectors;
    }
    partition.sectors = sectors;
}

// Where the unallocated space after a primary partition or GPT entry ends: the next partition's start or
// the end of the usable disk.
std::uint64_t roomEnd(const Disk& disk, std::uint64_t start) {
    std::uint64_t end = disk.sizeBytes / disk.geometry.bytesPerSector;
    if (disk.style == PartitionStyle::Gpt) {
        end = disk.gpt.lastUsable != 0 ? disk.gpt.lastUsable + 1 : end - 33;
        for (const GptEntry& entry : disk.gpt.entries) {
            if (entry.start > start) {
                end = std::min(end, entry.start);
            }
        }
        return end;
    }
    for (const MbrSlot& slot : disk.mbr.primary) {
        if (slot.type != 0 && slot.start > start) {
            end = std::min(end, slot.start);
        }
    }
    return end;
}

struct Selection {
    Disk* disk = nullptr;
    DiskpartPartition partition;
    Volume* volume = nullptr;
};

std::optional<std::uint32_t> select(DiskpartContext& context, Selection& selection) {
    selection.disk = selectedDisk(context);
    const auto partition = selectedPartition(context);
    if (selection.disk == nullptr || !partition) {
        return context.fail(kNoSelection, L"There is no partition selected.");
    }
    selection.partition = *partition;
    selection.volume = volumeAt(*selection.disk, partition->start);
    if (selection.volume == nullptr || !selection.volume->fileSystem || partition->container ||
        partition->logical) {
        return context.fail(kInvalidState, L"The selected partition holds no volume that can be resized.");
    }
    return refusedWhenReadOnly(context);
}

std::uint32_t shrink(DiskpartContext& context, const DiskpartArguments& arguments) {
    const auto desiredMB = positiveNumber(parameter(arguments, L"desired"));
    if (!desiredMB) {
        return context.fail(kInvalidParameter, L"The arguments specified for this command are not valid.");
    }
    Selection selection;
    if (auto failed = select(context, selection)) {
        return *failed;
    }
    const std::uint64_t bytes = static_cast<std::uint64_t>(*desiredMB) * kMiB;
    if (bytes >= selection.volume->freeBytes) {
        return context.fail(kInvalidParameter,
                            L"The specified shrink size is too big and will cause the volume to be smaller "
                            L"than the minimum volume size.");
    }
    const std::uint64_t sectors = static_cast<std::uint64_t>(*desiredMB) * sectorsPerMiB(*selection.disk);
    setSectors(selection.partition, selection.partition.sectors - sectors);
    selection.volume->freeBytes -= bytes;
    selection.disk->image.clear();
    context.print(L"");
    context.print(L"DiskPart successfully shrunk the volume by:  " + std::to_wstring(*desiredMB) + L" MB");
    return 0;
}

std::uint32_t extend(DiskpartContext& context, const DiskpartArguments&) {
    Selection selection;
    if (auto failed = select(context, selection)) {
        return *failed;
    }
    const std::uint64_t end = selection.partition.start + selection.partition.sectors;
    const std::uint64_t limit = roomEnd(*selection.disk, selection.partition.start);
    const std::uint64_t step = sectorsPerMiB(*selection.disk);
    const std::uint64_t added = limit > end ? (limit - end) / step * step : 0;
    if (added == 0) {
        return context.fail(
            kNotEnoughSpace,
            L"There is not enough usable free space on specified disk(s) to extend the volume.");
    }
    setSectors(selection.partition, selection.partition.sectors + added);
    selection.volume->freeBytes += added * selection.disk->geometry.bytesPerSector;
    selection.disk->image.clear();
    context.print(L"");
    context.print(L"DiskPart successfully extended the volume.");
    return 0;
}

}  // namespace

const std::vector<DiskpartCommand>& resizeCommands() {
    static const std::vector<DiskpartCommand> table = {{{L"shrink"}, shrink}, {{L"extend"}, extend}};
    return table;
}

}  // namespace sim
