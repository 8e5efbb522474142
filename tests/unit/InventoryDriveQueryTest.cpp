// The simulated drives' answers to the two queries the listing makes: a malformed request must be
// refused the way a driver refuses it, or the listing's own requests would go unchecked.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "platform/WinConstants.h"
#include "sim/windows/StorageQuery.h"

namespace kvph::test {
namespace {

namespace ata = win::ata;

sim::Disk driveWith(std::optional<std::uint32_t> bus, std::optional<std::uint16_t> rotationRate) {
    sim::Disk disk;
    disk.bus = bus;
    disk.rotationRate = rotationRate;
    return disk;
}

void put(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

Bytes identifyRequest() {
    Bytes request(ata::kHeaderSize + ata::kDataSize, 0);
    put(request, ata::kLength, ata::kHeaderSize, 2);
    put(request, ata::kAtaFlags, ata::ATA_FLAGS_DRDY_REQUIRED_ | ata::ATA_FLAGS_DATA_IN_, 2);
    put(request, ata::kDataTransferLength, ata::kDataSize, 4);
    put(request, ata::kTimeOutValue, 10, 4);
    put(request, ata::kDataBufferOffset, ata::kHeaderSize, 8);
    request[ata::kCurrentTaskFile + 6] = ata::IDE_COMMAND_IDENTIFY_;
    return request;
}

std::uint16_t wordAt(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

struct AtaCase {
    const char* name;
    std::function<void(Bytes&)> change;
    std::uint32_t outputSize;
    std::uint32_t error;  // 0: answered
};

// Printed by name: gtest would otherwise print the case as its bytes, unset members and padding included.
void PrintTo(const AtaCase& c, std::ostream* os) {
    *os << c.name;
}

class AtaPassThroughTest : public ::testing::TestWithParam<AtaCase> {};

TEST_P(AtaPassThroughTest, RequestIsCheckedBeforeTheDriveAnswers) {
    Bytes request = identifyRequest();
    GetParam().change(request);
    const IoResult answer = sim::answerAtaPassThrough(driveWith(11, 7200), request, GetParam().outputSize);
    ASSERT_EQ(answer.output.size(), GetParam().outputSize);
    EXPECT_EQ(answer.ok, GetParam().error == 0);
    EXPECT_EQ(answer.error, GetParam().error);
    if (answer.ok) {
        EXPECT_EQ(wordAt(answer.output, 482), 7200);
        EXPECT_EQ(answer.bytesReturned, 560u);
    }
}

const AtaCase kAtaCases[] = {
    {"IdentifyAsTheListingSendsIt", [](Bytes&) {}, 560, 0},
    {"HeaderLengthOfA32BitCaller", [](Bytes& r) { put(r, ata::kLength, 40, 2); }, 560,
     win::ERROR_INVALID_PARAMETER_},
    {"NoTimeOut", [](Bytes& r) { put(r, ata::kTimeOutValue, 0, 4); }, 560, win::ERROR_INVALID_PARAMETER_},
    {"DataOverlapsTheHeader", [](Bytes& r) { put(r, ata::kDataBufferOffset, 8, 8); }, 560,
     win::ERROR_INVALID_PARAMETER_},
    {"DataBeyondTheBuffer", [](Bytes& r) { put(r, ata::kDataBufferOffset, 64, 8); }, 560,
     win::ERROR_INVALID_PARAMETER_},
    {"OutputTooSmallForTheData", [](Bytes&) {}, 512, win::ERROR_INVALID_PARAMETER_},
    {"InputCutShort", [](Bytes& r) { r.resize(40); }, 560, win::ERROR_INVALID_PARAMETER_},
    {"NotDataIn", [](Bytes& r) { put(r, ata::kAtaFlags, ata::ATA_FLAGS_DRDY_REQUIRED_, 2); }, 560,
     win::ERROR_NOT_SUPPORTED_},
    {"OtherCommand", [](Bytes& r) { r[ata::kCurrentTaskFile + 6] = 0x25; }, 560, win::ERROR_NOT_SUPPORTED_},
};

INSTANTIATE_TEST_SUITE_P(Requests, AtaPassThroughTest, ::testing::ValuesIn(kAtaCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct PropertyCase {
    const char* name;
    std::optional<std::uint32_t> bus;
    Bytes query;
    std::uint32_t outputSize;
    std::uint32_t error;  // 0: answered
    std::uint32_t bytesReturned;
};

// Printed by name: gtest would otherwise print the case as its bytes, unset members and padding included.
void PrintTo(const PropertyCase& c, std::ostream* os) {
    *os << c.name;
}

class StorageQueryTest : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(StorageQueryTest, DeviceDescriptorCarriesTheBus) {
    const PropertyCase& c = GetParam();
    const IoResult answer = sim::answerStorageQuery(driveWith(c.bus, 1), c.query, c.outputSize);
    ASSERT_EQ(answer.output.size(), c.outputSize);
    EXPECT_EQ(answer.ok, c.error == 0);
    EXPECT_EQ(answer.error, c.error);
    EXPECT_EQ(answer.bytesReturned, c.bytesReturned);
    if (answer.bytesReturned >= 32) {
        EXPECT_EQ(answer.output[28], *c.bus);
    }
}

const Bytes kDeviceQuery(12, 0);
const Bytes kExistsQuery = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
const Bytes kAdapterQuery = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

const PropertyCase kPropertyCases[] = {
    {"Usb", 7, kDeviceQuery, 40, 0, 40},
    {"Nvme", 17, kDeviceQuery, 40, 0, 40},
    {"FileBackedVirtual", 15, kDeviceQuery, 40, 0, 40},
    {"HeaderOnly", 7, kDeviceQuery, 8, 0, 8},
    {"BufferBelowTheHeader", 7, kDeviceQuery, 4, win::ERROR_INSUFFICIENT_BUFFER_, 0},
    {"QueryCutShort", 7, Bytes(8, 0), 40, win::ERROR_INVALID_PARAMETER_, 0},
    {"PropertyExists", 7, kExistsQuery, 40, 0, 0},
    {"AdapterPropertyNotKept", 7, kAdapterQuery, 40, win::ERROR_NOT_SUPPORTED_, 0},
    {"NoDescriptor", std::nullopt, kDeviceQuery, 40, win::ERROR_NOT_SUPPORTED_, 0},
};

INSTANTIATE_TEST_SUITE_P(Queries, StorageQueryTest, ::testing::ValuesIn(kPropertyCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kvph::test
