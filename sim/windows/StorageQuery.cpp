// The storage property query and the ATA pass-through of a simulated physical drive. Requests are
// checked the way the disk and port drivers check them before the drive answers from its model: `bus`
// for the device descriptor, `rotationRate` for IDENTIFY DEVICE word 217.
#include <algorithm>
#include <cstddef>
#include <string>

#include "platform/WinConstants.h"
#include "sim/windows/StorageQuery.h"

namespace sim {

namespace {

namespace storage = kvph::win::storage;
namespace ata = kvph::win::ata;

constexpr std::uint32_t kStorageDeviceProperty = 0;
constexpr std::uint32_t kPropertyStandardQuery = 0;
constexpr std::uint32_t kPropertyExistsQuery = 1;
constexpr std::uint32_t kDescriptorHeaderSize = 8;  // STORAGE_DESCRIPTOR_HEADER: Version, Size
constexpr std::uint32_t kDescriptorVersion = 0;
constexpr std::uint32_t kDescriptorSize = 4;
constexpr std::uint32_t kDescriptorDeviceType = 8;
constexpr std::uint8_t kDirectAccessDevice = 0x00;

constexpr std::uint32_t kMaxAtaTimeOutSeconds = 108000;
constexpr std::uint32_t kIdentifyWords = 256;
constexpr std::uint32_t kIdentifyModelWord = 27;
constexpr std::uint32_t kIdentifyModelWords = 20;
constexpr std::uint16_t kIdentifyGeneralConfigFixed = 0x0040;
constexpr std::uint32_t kCommandRegister = 6;
constexpr std::uint32_t kStatusRegister = 7;
constexpr std::uint8_t kStatusReadyAndSeekComplete = 0x50;

std::uint32_t readU32(const kvph::Bytes& bytes, std::size_t offset) {
    if (offset + 4 > bytes.size()) {
        return 0;
    }
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint16_t readU16(const kvph::Bytes& bytes, std::size_t offset) {
    if (offset + 2 > bytes.size()) {
        return 0;
    }
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint64_t readU64(const kvph::Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint64_t>(readU32(bytes, offset)) |
           static_cast<std::uint64_t>(readU32(bytes, offset + 4)) << 32;
}

void writeU16(kvph::Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void writeU32(kvph::Bytes& bytes, std::size_t offset, std::uint32_t value) {
    writeU16(bytes, offset, static_cast<std::uint16_t>(value));
    writeU16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

kvph::IoResult failed(std::uint32_t outputSize, std::uint32_t error) {
    kvph::IoResult result;
    result.output.assign(outputSize, 0);
    result.error = error;
    return result;
}

kvph::Bytes deviceDescriptor(const Disk& disk, std::uint32_t busType) {
    kvph::Bytes descriptor(storage::kDescriptorFixedSize, 0);
    writeU32(descriptor, kDescriptorVersion, storage::kDescriptorFixedSize);
    writeU32(descriptor, kDescriptorSize, storage::kDescriptorFixedSize);
    descriptor[kDescriptorDeviceType] = kDirectAccessDevice;
    descriptor[storage::kDescriptorRemovable] = disk.driveType == DriveType::Removable ? 1 : 0;
    writeU32(descriptor, storage::kDescriptorBusType, busType);
    return descriptor;
}

// ATA strings hold two characters per word, the first in the high byte.
void writeIdentifyModel(kvph::Bytes& buffer, std::size_t dataOffset, const std::string& model) {
    std::string padded = model;
    padded.resize(kIdentifyModelWords * 2, ' ');
    for (std::uint32_t i = 0; i < kIdentifyModelWords; ++i) {
        const auto high = static_cast<std::uint8_t>(padded[2 * i]);
        const auto low = static_cast<std::uint8_t>(padded[2 * i + 1]);
        writeU16(buffer, dataOffset + 2 * (kIdentifyModelWord + i),
                 static_cast<std::uint16_t>(high << 8 | low));
    }
}

// What the port driver refuses before the command reaches the drive.
std::optional<std::uint32_t> ataRequestError(const kvph::Bytes& input, std::uint32_t outputSize) {
    if (input.size() < ata::kHeaderSize || readU16(input, ata::kLength) != ata::kHeaderSize) {
        return kvph::win::ERROR_INVALID_PARAMETER_;
    }
    const std::uint32_t transferLength = readU32(input, ata::kDataTransferLength);
    const std::uint64_t dataOffset = readU64(input, ata::kDataBufferOffset);
    const std::uint32_t timeOut = readU32(input, ata::kTimeOutValue);
    if (timeOut == 0 || timeOut > kMaxAtaTimeOutSeconds) {
        return kvph::win::ERROR_INVALID_PARAMETER_;
    }
    if (transferLength > 0 &&
        (dataOffset < ata::kHeaderSize ||
         dataOffset + transferLength > std::min<std::uint64_t>(input.size(), outputSize))) {
        return kvph::win::ERROR_INVALID_PARAMETER_;
    }
    if (outputSize < ata::kHeaderSize) {
        return kvph::win::ERROR_INSUFFICIENT_BUFFER_;
    }
    return std::nullopt;
}

// The simulated drives implement IDENTIFY DEVICE only, reading a full 512-byte sector into the host.
bool isIdentifyRequest(const kvph::Bytes& input) {
    const std::uint16_t flags = readU16(input, ata::kAtaFlags);
    return input[ata::kCurrentTaskFile + kCommandRegister] == ata::IDE_COMMAND_IDENTIFY_ &&
           (flags & ata::ATA_FLAGS_DATA_IN_) != 0 &&
           readU32(input, ata::kDataTransferLength) == ata::kDataSize;
}

}  // namespace

kvph::IoResult answerStorageQuery(const Disk& disk, const kvph::Bytes& input, std::uint32_t outputSize) {
    if (input.size() < storage::kQuerySize) {
        return failed(outputSize, kvph::win::ERROR_INVALID_PARAMETER_);
    }
    const std::uint32_t propertyId = readU32(input, 0);
    const std::uint32_t queryType = readU32(input, 4);
    if (propertyId != kStorageDeviceProperty || !disk.bus) {
        return failed(outputSize, kvph::win::ERROR_NOT_SUPPORTED_);
    }
    if (queryType == kPropertyExistsQuery) {
        kvph::IoResult result;
        result.ok = true;
        result.output.assign(outputSize, 0);
        return result;
    }
    if (queryType != kPropertyStandardQuery) {
        return failed(outputSize, kvph::win::ERROR_INVALID_PARAMETER_);
    }
    if (outputSize < kDescriptorHeaderSize) {
        return failed(outputSize, kvph::win::ERROR_INSUFFICIENT_BUFFER_);
    }
    const kvph::Bytes descriptor = deviceDescriptor(disk, *disk.bus);
    kvph::IoResult result;
    result.ok = true;
    result.output.assign(outputSize, 0);
    const std::size_t copied = std::min<std::size_t>(outputSize, descriptor.size());
    std::copy_n(descriptor.begin(), copied, result.output.begin());
    result.bytesReturned = static_cast<std::uint32_t>(copied);
    return result;
}

kvph::IoResult answerAtaPassThrough(const Disk& disk, const kvph::Bytes& input, std::uint32_t outputSize) {
    if (!disk.rotationRate) {
        return failed(outputSize, kvph::win::ERROR_INVALID_FUNCTION_);
    }
    if (const auto error = ataRequestError(input, outputSize)) {
        return failed(outputSize, *error);
    }
    if (!isIdentifyRequest(input)) {
        return failed(outputSize, kvph::win::ERROR_NOT_SUPPORTED_);
    }
    kvph::IoResult result;
    result.ok = true;
    result.output.assign(outputSize, 0);
    std::copy_n(input.begin(), std::min<std::size_t>(input.size(), outputSize), result.output.begin());
    const auto dataOffset = static_cast<std::size_t>(readU64(input, ata::kDataBufferOffset));
    std::fill_n(result.output.begin() + static_cast<std::ptrdiff_t>(dataOffset), ata::kDataSize, 0);
    writeU16(result.output, dataOffset, kIdentifyGeneralConfigFixed);
    writeIdentifyModel(result.output, dataOffset, "SIMULATED DISK " + std::to_string(disk.number));
    writeU16(result.output, dataOffset + 2 * ata::kRotationRateWord, *disk.rotationRate);
    result.output[ata::kCurrentTaskFile + kStatusRegister] = kStatusReadyAndSeekComplete;
    result.bytesReturned = static_cast<std::uint32_t>(dataOffset + ata::kDataSize);
    static_assert(kIdentifyWords * 2 == ata::kDataSize, "IDENTIFY data is one sector");
    return result;
}

}  // namespace sim
