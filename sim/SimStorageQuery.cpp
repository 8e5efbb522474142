#include "Machine.h"
#include "platform/WinConstants.h"

namespace sim {

kvph::IoResult Machine::answerStorageQuery(const Disk&, const kvph::Bytes&, std::uint32_t outputSize) {
    kvph::IoResult result;
    result.output.assign(outputSize, 0);
    result.error = kvph::win::ERROR_NOT_SUPPORTED_;
    return result;
}

kvph::IoResult Machine::answerAtaPassThrough(const Disk&, const kvph::Bytes&, std::uint32_t outputSize) {
    return answerStorageQuery(Disk{}, {}, outputSize);
}

}  // namespace sim
