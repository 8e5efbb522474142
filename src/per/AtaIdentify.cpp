#include "per/AtaIdentify.h"

#include "per/ByteReader.h"
#include "platform/WinConstants.h"

namespace PER {

namespace {

namespace ata = kvph::win::ata;

constexpr std::uint32_t kAtaTimeOutSeconds = 10;
constexpr std::size_t kCommandRegister = 6;  // byte of the task file that holds the command

}  // namespace

kvph::Bytes IdentifyDeviceRequest() {
    kvph::Bytes request(ata::kHeaderSize + ata::kDataSize, 0);
    const auto put = [&](std::size_t offset, std::uint64_t value, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) {
            request[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    put(ata::kLength, ata::kHeaderSize, 2);
    put(ata::kAtaFlags, ata::ATA_FLAGS_DRDY_REQUIRED_ | ata::ATA_FLAGS_DATA_IN_, 2);
    put(ata::kDataTransferLength, ata::kDataSize, 4);
    put(ata::kTimeOutValue, kAtaTimeOutSeconds, 4);
    put(ata::kDataBufferOffset, ata::kHeaderSize, 8);
    request[ata::kCurrentTaskFile + kCommandRegister] = ata::IDE_COMMAND_IDENTIFY_;
    return request;
}

std::uint16_t RotationRateOf(const kvph::Bytes& answer) {
    return ByteReader(answer).u16(ata::kHeaderSize + 2 * ata::kRotationRateWord);
}

}  // namespace PER
