#include "lifecycle/DwordRegHelper.h"

#include <utility>

#include "frame/UniqueRegKey.h"
#include "platform/WinConstants.h"

namespace kvph {

DwordRegHelper::DwordRegHelper(RegistryRoot root, std::wstring keyPath, std::wstring valueName)
    : root_(root), keyPath_(std::move(keyPath)), valueName_(std::move(valueName)) {}

SavedDword DwordRegHelper::Save() const {
    Platform& os = platform();
    const HandleResult opened = os.regOpenKeyExW(root_, keyPath_, win::KEY_QUERY_VALUE_);
    UniqueRegKey key(opened.error == win::ERROR_SUCCESS_ ? opened.handle : kNullHandle);
    SavedDword saved;
    if (!key.valid()) {
        return saved;
    }
    saved.keyExisted = true;
    const RegDwordQuery query = os.regQueryValueExDword(key.get(), valueName_);
    saved.valueExisted = query.status != win::ERROR_FILE_NOT_FOUND_;
    saved.value = query.status == win::ERROR_SUCCESS_ ? query.value : 0;
    return saved;
}

int DwordRegHelper::Write(std::uint32_t value) {
    value_ = value;
    Platform& os = platform();
    const RegCreateResult created = os.regCreateKeyExW(root_, keyPath_, win::KEY_SET_VALUE_);
    UniqueRegKey key(created.status == win::ERROR_SUCCESS_ ? created.key : kNullHandle);
    if (!key.valid()) {
        return 0;
    }
    keyCreated_ = keyCreated_ || created.created;
    return os.regSetValueExDword(key.get(), valueName_, value) == win::ERROR_SUCCESS_ ? 1 : 0;
}

bool DwordRegHelper::Restore(const SavedDword& saved) {
    if (saved.valueExisted) {
        Write(saved.value);
        return true;
    }
    if (!saved.keyExisted && !keyCreated_) {
        return false;  // the key could not be read before and was not made here: its old state is unknown
    }
    Platform& os = platform();
    const HandleResult opened =
        os.regOpenKeyExW(root_, keyPath_, win::KEY_QUERY_VALUE_ | win::KEY_SET_VALUE_);
    UniqueRegKey key(opened.error == win::ERROR_SUCCESS_ ? opened.handle : kNullHandle);
    if (!key.valid()) {
        return false;
    }
    os.regDeleteValueW(key.get(), valueName_);
    if (!keyCreated_) {
        return true;
    }
    const RegKeyInfo info = os.regQueryInfoKeyW(key.get());
    key.reset();
    if (info.status == win::ERROR_SUCCESS_ && info.subKeys == 0 && info.values == 0) {
        os.regDeleteKeyExW(root_, keyPath_);
    }
    return true;
}

}  // namespace kvph
