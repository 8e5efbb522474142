// GPT partition type GUIDs the walk tells apart, in the platform's in-memory byte order.
#pragma once

#include <array>
#include <cstdint>

#include "per/LayoutEntry.h"

namespace PER {

// A GUID in its in-memory byte order, from the fields of its text form.
constexpr GuidBytes guidFromFields(std::uint32_t a, std::uint16_t b, std::uint16_t c,
                                   std::array<std::uint8_t, 8> d) {
    return {static_cast<std::uint8_t>(a),
            static_cast<std::uint8_t>(a >> 8),
            static_cast<std::uint8_t>(a >> 16),
            static_cast<std::uint8_t>(a >> 24),
            static_cast<std::uint8_t>(b),
            static_cast<std::uint8_t>(b >> 8),
            static_cast<std::uint8_t>(c),
            static_cast<std::uint8_t>(c >> 8),
            d[0],
            d[1],
            d[2],
            d[3],
            d[4],
            d[5],
            d[6],
            d[7]};
}

inline constexpr GuidBytes kReservedType =
    guidFromFields(0xe3c9e316, 0x0b5c, 0x4db8, {0x81, 0x7d, 0xf9, 0x2d, 0xf0, 0x02, 0x15, 0xae});
inline constexpr GuidBytes kEfiSystemType =
    guidFromFields(0xc12a7328, 0xf81f, 0x11d2, {0xba, 0x4b, 0x00, 0xa0, 0xc9, 0x3e, 0xc9, 0x3b});
inline constexpr GuidBytes kBasicDataType =
    guidFromFields(0xebd0a0a2, 0xb9e5, 0x4433, {0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7});
inline constexpr GuidBytes kRecoveryType =
    guidFromFields(0xde94bba4, 0x06d1, 0x4d40, {0xa1, 0x6a, 0xbf, 0xd5, 0x01, 0x79, 0xd6, 0xac});

}  // namespace PER
