#include "per/PartitionRecord.h"

namespace PER {

const char* PartitionKindName(PartitionKind kind) {
    switch (kind) {
        case PartitionKind::Data:
            return "Data";
        case PartitionKind::Extended:
            return "Extended";
        case PartitionKind::Logical:
            return "Logical";
        case PartitionKind::Reserved:
            return "Reserved";
        case PartitionKind::EfiSystem:
            return "EfiSystem";
        case PartitionKind::Unused:
            return "Unused";
    }
    return "Unknown";
}

}  // namespace PER
