#include "Machine.h"
#include "platform/WinConstants.h"

namespace sim {

std::vector<const Disk*> Machine::allDisks() const { return {}; }

const Disk* Machine::diskByNumber(int) const { return nullptr; }

kvph::HandleResult Machine::createFileA(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t,
                                        std::uint32_t) {
    return {kvph::kInvalidHandle, kvph::win::ERROR_FILE_NOT_FOUND_};
}

kvph::IoResult Machine::deviceIoControl(kvph::Handle, std::uint32_t, const kvph::Bytes&, std::uint32_t outputSize) {
    kvph::IoResult result;
    result.output.assign(outputSize, 0);
    result.error = kvph::win::ERROR_INVALID_HANDLE_;
    return result;
}

kvph::IoResult Machine::answerGeometry(const Disk&, std::uint32_t outputSize) {
    kvph::IoResult result;
    result.output.assign(outputSize, 0);
    result.error = kvph::win::ERROR_NOT_SUPPORTED_;
    return result;
}

kvph::IoResult Machine::answerLayout(const Disk&, std::uint32_t outputSize) { return answerGeometry(Disk{}, outputSize); }

}  // namespace sim
