#include "sim/machine/MbrChain.h"

#include <algorithm>

#include "sim/machine/DiskLayout.h"

namespace sim {

namespace {

constexpr std::uint64_t kBootRecordLead = 2048;  // sectors between a boot record and its drive
constexpr std::uint8_t kLinkType = 0x05;

std::uint64_t bootRecordSector(const MbrTable& table, std::uint64_t extendedStart,
                               std::uint64_t logicalStart) {
    if (table.chain.empty()) {
        return extendedStart;
    }
    const MbrSlot& previous = table.chain.back().slots[0];
    const std::uint64_t previousEnd =
        std::max(previous.start + previous.sectors, table.chain.back().sector + 1);
    const std::uint64_t lead = logicalStart >= kBootRecordLead ? logicalStart - kBootRecordLead : 0;
    std::uint64_t sector = std::max(lead, previousEnd);
    if (sector >= logicalStart && logicalStart > extendedStart) {
        sector = logicalStart - 1;
    }
    return sector;
}

}  // namespace

const MbrSlot* extendedSlot(const MbrTable& table) {
    for (const MbrSlot& slot : table.primary) {
        if (isContainerType(slot.type)) {
            return &slot;
        }
    }
    return nullptr;
}

void appendLogicalDrive(MbrTable& table, const MbrSlot& logical) {
    const MbrSlot* extended = extendedSlot(table);
    const std::uint64_t extendedStart = extended != nullptr ? extended->start : 0;
    MbrTable::BootRecord record;
    record.sector = bootRecordSector(table, extendedStart, logical.start);
    record.slots[0] = logical;
    if (!table.chain.empty()) {
        MbrSlot& link = table.chain.back().slots[1];
        link.type = kLinkType;
        link.start = record.sector;
        link.sectors = logical.start + logical.sectors - record.sector;
    }
    table.chain.push_back(record);
}

}  // namespace sim
