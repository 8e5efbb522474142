#include "per/LayoutEntry.h"

#include "per/SaturatingMath.h"
#include "platform/WinConstants.h"

namespace PER {

namespace offsets = kvph::win::partition;

std::int64_t LayoutEntry::end() const {
    return saturatingAdd(start, length);
}

LayoutEntry LayoutEntry::parse(const ByteReader& buffer, std::size_t offset) {
    LayoutEntry entry;
    entry.raw = buffer.bytes<kPartitionInfoBytes>(offset);
    ByteReader own(entry.raw.data(), entry.raw.size());
    entry.start = own.i64(offsets::kStartingOffset);
    entry.length = own.i64(offsets::kPartitionLength);
    entry.number = own.u32(offsets::kPartitionNumber);
    entry.mbrType = own.u8(offsets::kMbrPartitionType);
    entry.gptType = own.bytes<16>(offsets::kGptPartitionType);
    return entry;
}

}  // namespace PER
