// Feeds arbitrary geometry and layout answers to the opening of one physical drive, and so to the GPT,
// MBR and raw partition walks.
//
// Input: 56 bytes of geometry answer (DISK_GEOMETRY_EX with DISK_PARTITION_INFO, whose style picks the
// walk), one mode byte, four bytes of "bytes returned" for the layout, then the layout bytes.
// Mode bit 0: answer ERROR_INSUFFICIENT_BUFFER while the buffer is smaller than the layout bytes.
// Mode bit 1: fail the layout call with another error while reporting the returned bytes.
// Mode bit 2: fail the geometry query after the first one (the walk's own queries).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "per/ByteReader.h"
#include "per/DriveDevice.h"
#include "platform/WinConstants.h"
#include "sim/Machine.h"

namespace {

namespace win = kvph::win;

constexpr std::size_t kGeometryBytes = 56;
constexpr std::size_t kHeaderBytes = kGeometryBytes + 1 + 4;
constexpr std::size_t kMaxLayoutBytes = 64 * 1024;
constexpr kvph::Handle kDrive = 0x40;

class FuzzedDrive : public sim::Machine {
public:
    FuzzedDrive(const std::uint8_t* data, std::size_t size)
        : geometry_(data, data + kGeometryBytes),
          mode_(data[kGeometryBytes]),
          bytesReturned_(PER::ByteReader(data + kGeometryBytes + 1, 4).u32(0)),
          layout_(data + kHeaderBytes, data + std::min(size, kHeaderBytes + kMaxLayoutBytes)) {}

    kvph::HandleResult createFileA(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t,
                                   std::uint32_t) override {
        return {kDrive, 0};
    }

    kvph::BoolResult closeHandle(kvph::Handle) override { return {true, 0}; }

    kvph::IoResult deviceIoControl(kvph::Handle, std::uint32_t code, const kvph::Bytes&,
                                   std::uint32_t outputSize) override {
        kvph::IoResult result;
        result.output.assign(outputSize, 0);
        if (code == win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_) {
            if ((mode_ & 4) != 0 && geometryCalls_++ > 0) {
                result.error = win::ERROR_NOT_READY_;
                return result;
            }
            return answer(result, geometry_,
                          static_cast<std::uint32_t>(std::min<std::size_t>(outputSize, 56)));
        }
        if ((mode_ & 1) != 0 && outputSize < layout_.size()) {
            result.error = win::ERROR_INSUFFICIENT_BUFFER_;
            return result;
        }
        answer(result, layout_, bytesReturned_);
        if ((mode_ & 2) != 0) {
            result.ok = false;
            result.error = 31;
        }
        return result;
    }

private:
    static kvph::IoResult& answer(kvph::IoResult& result, const kvph::Bytes& bytes, std::uint32_t returned) {
        std::copy_n(bytes.begin(), std::min(bytes.size(), result.output.size()), result.output.begin());
        result.ok = true;
        result.bytesReturned = returned;
        return result;
    }

    kvph::Bytes geometry_;
    std::uint8_t mode_;
    std::uint32_t bytesReturned_;
    kvph::Bytes layout_;
    int geometryCalls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes) {
        return 0;
    }
    FuzzedDrive machine(data, size);
    kvph::ScopedPlatform installed(machine);
    PER::DriveDevice device(0);
    device.SetPath("\\\\.\\PhysicalDrive0");
    if (device.Open() && device.GetDriveData() != nullptr) {
        const PER::DriveData& records = *device.GetDriveData();
        for (std::size_t i = 0; i < records.GetPartitionCount(); ++i) {
            if (records.GetPartition(i)->index != i) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
