// Little-endian reads from a byte buffer that never leave it: bytes beyond the end read as zero, the
// value the library's zero-filled output buffers hold where a driver wrote nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace PER {

class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit ByteReader(const std::vector<std::uint8_t>& bytes) : data_(bytes.data()), size_(bytes.size()) {}

    std::size_t size() const { return size_; }
    bool holds(std::size_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }

    std::uint8_t u8(std::size_t offset) const { return holds(offset, 1) ? data_[offset] : 0; }
    std::uint16_t u16(std::size_t offset) const { return static_cast<std::uint16_t>(unsignedAt(offset, 2)); }
    std::uint32_t u32(std::size_t offset) const { return static_cast<std::uint32_t>(unsignedAt(offset, 4)); }
    std::uint64_t u64(std::size_t offset) const { return unsignedAt(offset, 8); }
    std::int64_t i64(std::size_t offset) const { return static_cast<std::int64_t>(unsignedAt(offset, 8)); }

    template <std::size_t N>
    std::array<std::uint8_t, N> bytes(std::size_t offset) const {
        std::array<std::uint8_t, N> out{};
        for (std::size_t i = 0; i < N; ++i) {
            out[i] = u8(offset + i);
        }
        return out;
    }

private:
    std::uint64_t unsignedAt(std::size_t offset, std::size_t count) const {
        std::uint64_t value = 0;
        for (std::size_t i = count; i > 0; --i) {
            value = (value << 8) | u8(offset + i - 1);
        }
        return value;
    }

    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace PER
