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
        saved.known = opened.error == win::ERROR_FILE_NOT_FOUND_;
        return saved;
    }
    saved.keyExisted = true;
    const RegDwordQuery query = os.regQueryValueExDword(key.get(), valueName_);
    saved.known = query.status == win::ERROR_SUCCESS_ || query.status == win::ERROR_FILE_NOT_FOUND_;
    saved.valueExisted = query.status == win::ERROR_SUCCESS_;
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

RestoreOutcome DwordRegHelper::Restore(const SavedDword& saved) {
    if (!saved.known || (!saved.valueExisted && !saved.keyExisted && !keyCreated_)) {
        return RestoreOutcome::NothingToUndo;  // the old state is unknown, or there is nothing to undo
    }
    return RestoreOnce(saved) || RestoreOnce(saved) ? RestoreOutcome::Restored : RestoreOutcome::Failed;
}

RestoreOutcome DwordRegHelper::RestoreAfterKill(const SavedDword& saved) {
    keyCreated_ = !saved.keyExisted;
    return Restore(saved);
}

bool DwordRegHelper::RestoreOnce(const SavedDword& saved) {
    if (saved.valueExisted) {
        return Write(saved.value) == 1;
    }
    Platform& os = platform();
    const HandleResult opened =
        os.regOpenKeyExW(root_, keyPath_, win::KEY_QUERY_VALUE_ | win::KEY_SET_VALUE_);
    UniqueRegKey key(opened.error == win::ERROR_SUCCESS_ ? opened.handle : kNullHandle);
    if (!key.valid()) {
        return opened.error == win::ERROR_FILE_NOT_FOUND_;  // the key is gone already
    }
    const std::uint32_t deleted = os.regDeleteValueW(key.get(), valueName_);
    if (deleted != win::ERROR_SUCCESS_ && deleted != win::ERROR_FILE_NOT_FOUND_) {
        return false;
    }
    if (!keyCreated_) {
        return true;
    }
    const RegKeyInfo info = os.regQueryInfoKeyW(key.get());
    key.reset();
    if (info.status != win::ERROR_SUCCESS_) {
        return false;
    }
    if (info.subKeys != 0 || info.values != 0) {
        return true;  // something else lives in the key now: it stays
    }
    const std::uint32_t removed = os.regDeleteKeyExW(root_, keyPath_);
    return removed == win::ERROR_SUCCESS_ || removed == win::ERROR_FILE_NOT_FOUND_;
}

}  // namespace kvph
