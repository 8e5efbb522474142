#include "per/RAWData.h"

#include "platform/WinConstants.h"

namespace PER {

RAWData::RAWData() = default;
RAWData::~RAWData() = default;

bool RAWData::LoadLayout() {
    return true;
}

std::wstring RAWData::GetDiskId() const {
    return {};
}

int RAWData::GetPartitionStyle() const {
    return static_cast<int>(kvph::win::PARTITION_STYLE_RAW_);
}

}  // namespace PER
