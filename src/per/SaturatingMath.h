// Byte offsets from a driver's layout are signed 64-bit values that a damaged table can push to the
// limits; sums and differences of them saturate instead of overflowing.
#pragma once

#include <cstdint>
#include <limits>

namespace PER {

inline std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

inline std::int64_t saturatingSub(std::int64_t a, std::int64_t b) {
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference)) {
        return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return difference;
}

constexpr std::int64_t kBytesPerMB = 1048576;

// Whole MiB of a byte count, truncated toward zero.
inline std::int64_t megabytes(std::int64_t bytes) {
    return bytes / kBytesPerMB;
}

}  // namespace PER
