#include "sim/windows/Registry.h"

#include <algorithm>

#include "platform/WinConstants.h"
#include "sim/windows/Text.h"

namespace sim {
namespace {

namespace win = kvph::win;

std::map<std::wstring, std::uint32_t>::iterator findValue(RegistryKey& key, const std::wstring& name) {
    for (auto it = key.dwords.begin(); it != key.dwords.end(); ++it) {
        if (text::equalsNoCase(it->first, name)) {
            return it;
        }
    }
    return key.dwords.end();
}

bool isSubKeyOf(const std::wstring& candidate, const std::wstring& parent) {
    return candidate.size() > parent.size() + 1 && candidate.compare(0, parent.size(), parent) == 0 &&
           candidate[parent.size()] == L'\\';
}

}  // namespace

std::wstring Registry::keyName(kvph::RegistryRoot root, const std::wstring& subKey) {
    std::wstring key = root == kvph::RegistryRoot::LocalMachine ? L"HKLM\\" : L"HKCU\\";
    key += subKey;
    while (!key.empty() && key.back() == L'\\') {
        key.pop_back();
    }
    return text::upper(key);
}

std::optional<std::uint32_t> Registry::queryDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                                  const std::wstring& valueName) {
    if (calls_.enter("regQueryDword", subKey)) {
        return std::nullopt;
    }
    auto key = model_.registry.find(keyName(root, subKey));
    if (key == model_.registry.end()) {
        return std::nullopt;
    }
    auto value = findValue(key->second, valueName);
    if (value == key->second.dwords.end()) {
        return std::nullopt;
    }
    return value->second;
}

kvph::BoolResult Registry::setDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                    const std::wstring& valueName, std::uint32_t value) {
    if (auto error = calls_.enter("regSetDword", subKey)) {
        return {false, *error};
    }
    RegistryKey& key = model_.registry[keyName(root, subKey)];
    auto existing = findValue(key, valueName);
    if (existing != key.dwords.end()) {
        existing->second = value;
    } else {
        key.dwords[valueName] = value;
    }
    return {true, 0};
}

kvph::BoolResult Registry::deleteValue(kvph::RegistryRoot root, const std::wstring& subKey,
                                       const std::wstring& valueName) {
    if (auto error = calls_.enter("regDeleteValue", subKey)) {
        return {false, *error};
    }
    auto key = model_.registry.find(keyName(root, subKey));
    if (key == model_.registry.end()) {
        return {false, win::ERROR_FILE_NOT_FOUND_};
    }
    auto value = findValue(key->second, valueName);
    if (value == key->second.dwords.end()) {
        return {false, win::ERROR_FILE_NOT_FOUND_};
    }
    key->second.dwords.erase(value);
    return {true, 0};
}

kvph::HandleResult Registry::regOpenKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                           std::uint32_t access) {
    if (auto error = calls_.enter("regOpenKeyExW", subKey)) {
        return {kvph::kNullHandle, *error};
    }
    const std::wstring key = keyName(root, subKey);
    if (model_.registry.find(key) == model_.registry.end()) {
        return {kvph::kNullHandle, win::ERROR_FILE_NOT_FOUND_};
    }
    return {handles_.add(OpenRegKey{key, access}), 0};
}

kvph::RegCreateResult Registry::regCreateKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                                std::uint32_t access) {
    if (auto error = calls_.enter("regCreateKeyExW", subKey)) {
        return {kvph::kNullHandle, false, *error};
    }
    const std::wstring key = keyName(root, subKey);
    const bool created = model_.registry.find(key) == model_.registry.end();
    model_.registry[key];
    return {handles_.add(OpenRegKey{key, access}), created, 0};
}

RegistryKey* Registry::openKey(kvph::Handle handle, std::uint32_t neededAccess, std::uint32_t& error) {
    const OpenRegKey* open = handles_.findAs<OpenRegKey>(handle);
    auto key = open != nullptr ? model_.registry.find(open->key) : model_.registry.end();
    if (key == model_.registry.end()) {
        error = win::ERROR_INVALID_HANDLE_;
        return nullptr;
    }
    if ((open->access & neededAccess) == 0) {
        error = win::ERROR_ACCESS_DENIED_;
        return nullptr;
    }
    return &key->second;
}

kvph::RegDwordQuery Registry::regQueryValueExDword(kvph::Handle handle, const std::wstring& valueName) {
    if (auto error = calls_.enter("regQueryValueExDword", valueName)) {
        return {*error, 0, 0};
    }
    std::uint32_t error = 0;
    RegistryKey* key = openKey(handle, win::KEY_QUERY_VALUE_, error);
    if (key == nullptr) {
        return {error, 0, 0};
    }
    auto value = findValue(*key, valueName);
    if (value == key->dwords.end()) {
        return {win::ERROR_FILE_NOT_FOUND_, 0, 0};
    }
    return {0, win::REG_DWORD_, value->second};
}

std::uint32_t Registry::regSetValueExDword(kvph::Handle handle, const std::wstring& valueName,
                                           std::uint32_t value) {
    if (auto error = calls_.enter("regSetValueExDword", valueName)) {
        return *error;
    }
    std::uint32_t error = 0;
    RegistryKey* key = openKey(handle, win::KEY_SET_VALUE_, error);
    if (key == nullptr) {
        return error;
    }
    auto existing = findValue(*key, valueName);
    if (existing != key->dwords.end()) {
        existing->second = value;
    } else {
        key->dwords[valueName] = value;
    }
    return 0;
}

std::uint32_t Registry::regDeleteValueW(kvph::Handle handle, const std::wstring& valueName) {
    if (auto error = calls_.enter("regDeleteValueW", valueName)) {
        return *error;
    }
    std::uint32_t error = 0;
    RegistryKey* key = openKey(handle, win::KEY_SET_VALUE_, error);
    if (key == nullptr) {
        return error;
    }
    auto value = findValue(*key, valueName);
    if (value == key->dwords.end()) {
        return win::ERROR_FILE_NOT_FOUND_;
    }
    key->dwords.erase(value);
    return 0;
}

kvph::RegKeyInfo Registry::regQueryInfoKeyW(kvph::Handle handle) {
    if (auto error = calls_.enter("regQueryInfoKeyW")) {
        return {*error, 0, 0};
    }
    const OpenRegKey* open = handles_.findAs<OpenRegKey>(handle);
    auto key = open != nullptr ? model_.registry.find(open->key) : model_.registry.end();
    if (key == model_.registry.end()) {
        return {win::ERROR_INVALID_HANDLE_, 0, 0};
    }
    const auto subKeys =
        std::count_if(model_.registry.begin(), model_.registry.end(),
                      [&](const auto& entry) { return isSubKeyOf(entry.first, key->first); });
    return {0, static_cast<std::uint32_t>(subKeys), static_cast<std::uint32_t>(key->second.dwords.size())};
}

std::uint32_t Registry::regDeleteKeyExW(kvph::RegistryRoot root, const std::wstring& subKey) {
    if (auto error = calls_.enter("regDeleteKeyExW", subKey)) {
        return *error;
    }
    const std::wstring key = keyName(root, subKey);
    auto found = model_.registry.find(key);
    if (found == model_.registry.end()) {
        return win::ERROR_FILE_NOT_FOUND_;
    }
    const bool hasSubKeys = std::any_of(model_.registry.begin(), model_.registry.end(),
                                        [&](const auto& entry) { return isSubKeyOf(entry.first, key); });
    if (hasSubKeys) {
        return win::ERROR_ACCESS_DENIED_;
    }
    model_.registry.erase(found);
    return 0;
}

std::uint32_t Registry::regCloseKey(kvph::Handle handle) {
    if (auto error = calls_.enter("regCloseKey")) {
        return *error;
    }
    if (handles_.findAs<OpenRegKey>(handle) == nullptr) {
        return win::ERROR_INVALID_HANDLE_;
    }
    handles_.close(handle);
    return 0;
}

}  // namespace sim
