// One PARTITION_INFORMATION_EX entry of a drive layout, read from its 144 bytes.
#pragma once

#include <array>
#include <cstdint>

#include "per/ByteReader.h"
#include "per/PartitionRecord.h"

namespace PER {

using GuidBytes = std::array<std::uint8_t, 16>;

struct LayoutEntry {
    std::int64_t start = 0;   // StartingOffset in bytes
    std::int64_t length = 0;  // PartitionLength in bytes
    std::uint32_t number = 0;
    std::uint8_t mbrType = 0;
    GuidBytes gptType{};
    std::array<std::uint8_t, kPartitionInfoBytes> raw{};

    std::int64_t end() const;  // start + length, saturated

    // The entry at `offset` of a layout buffer; bytes past the buffer read as zero.
    static LayoutEntry parse(const ByteReader& buffer, std::size_t offset);
};

}  // namespace PER
