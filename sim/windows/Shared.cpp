#include "sim/windows/Shared.h"

#include <algorithm>

#include "platform/WinConstants.h"
#include "sim/windows/Text.h"

namespace sim {

namespace {

// What a call of a process that was killed gets: it never returns to a caller that could act on it.
constexpr std::uint32_t kErrorProcessAborted = 1067;

}  // namespace

void Calls::killAt(std::uint64_t index, std::function<void()> onKill) {
    killAt_ = index;
    onKill_ = std::move(onKill);
}

std::optional<std::uint32_t> Calls::enter(const char* method, const std::wstring& argument) {
    if (!killed_ && killAt_ && total_ == *killAt_) {
        killed_ = true;
        if (onKill_) {
            onKill_();
        }
    }
    if (killed_) {
        return kErrorProcessAborted;
    }
    ++total_;
    ++counts_[method];
    for (Fault& fault : faults_) {
        if (fault.method != method || fault.times == 0) {
            continue;
        }
        if (!fault.argumentContains.empty() && !text::containsNoCase(argument, fault.argumentContains)) {
            continue;
        }
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        if (fault.times > 0) {
            --fault.times;
        }
        return fault.error;
    }
    return std::nullopt;
}

kvph::Handle Handles::add(OpenObject object) {
    const kvph::Handle handle = next_;
    next_ += 4;  // handle values are multiples of four, as the platform hands them out
    objects_.emplace(handle, std::move(object));
    return handle;
}

OpenObject* Handles::find(kvph::Handle handle) {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : &it->second;
}

const OpenObject* Handles::find(kvph::Handle handle) const {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : &it->second;
}

bool Handles::fileIsOpen(const std::wstring& key) const {
    return std::any_of(objects_.begin(), objects_.end(), [&](const auto& entry) {
        const OpenFile* open = std::get_if<OpenFile>(&entry.second);
        return open != nullptr && open->key == key;
    });
}

std::int32_t ntStatusFor(std::uint32_t error) {
    constexpr std::int32_t kStatusAccessDenied = static_cast<std::int32_t>(0xC0000022u);
    constexpr std::int32_t kStatusUnsuccessful = static_cast<std::int32_t>(0xC0000001u);
    if (error == kvph::win::ERROR_ACCESS_DENIED_) {
        return kStatusAccessDenied;
    }
    if (error == kvph::win::ERROR_FILE_NOT_FOUND_) {
        return kvph::win::STATUS_OBJECT_NAME_NOT_FOUND_;
    }
    return kStatusUnsuccessful;
}

std::string CodePage::toAnsi(const std::wstring& wide, bool bestFit) const {
    return text::toCodePage(wide, model_.codePage, bestFit);
}

std::wstring CodePage::fromAnsi(const std::string& bytes) const {
    return text::fromCodePage(bytes, model_.codePage);
}

}  // namespace sim
