// The registry: keys exist or not, each with its REG_DWORD values. A key is found by its full path;
// its subkeys are the keys whose path continues it after a backslash.
#include <algorithm>

#include "Machine.h"
#include "SimText.h"
#include "platform/WinConstants.h"

namespace sim {
namespace {

namespace win = kvph::win;

std::wstring registryKey(kvph::RegistryRoot root, const std::wstring& subKey) {
    std::wstring key = root == kvph::RegistryRoot::LocalMachine ? L"HKLM\\" : L"HKCU\\";
    key += subKey;
    while (!key.empty() && key.back() == L'\\') {
        key.pop_back();
    }
    return text::upper(key);
}

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

std::optional<std::uint32_t> Machine::regQueryDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                                    const std::wstring& valueName) {
    if (enter("regQueryDword", subKey)) {
        return std::nullopt;
    }
    auto key = model_.registry.find(registryKey(root, subKey));
    if (key == model_.registry.end()) {
        return std::nullopt;
    }
    auto value = findValue(key->second, valueName);
    if (value == key->second.dwords.end()) {
        return std::nullopt;
    }
    return value->second;
}

kvph::BoolResult Machine::regSetDword(kvph::RegistryRoot root, const std::wstring& subKey,
                                      const std::wstring& valueName, std::uint32_t value) {
    if (auto error = enter("regSetDword", subKey)) {
        return {false, *error};
    }
    RegistryKey& key = model_.registry[registryKey(root, subKey)];
    auto existing = findValue(key, valueName);
    if (existing != key.dwords.end()) {
        existing->second = value;
    } else {
        key.dwords[valueName] = value;
    }
    return {true, 0};
}

kvph::BoolResult Machine::regDeleteValue(kvph::RegistryRoot root, const std::wstring& subKey,
                                         const std::wstring& valueName) {
    if (auto error = enter("regDeleteValue", subKey)) {
        return {false, *error};
    }
    auto key = model_.registry.find(registryKey(root, subKey));
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

kvph::HandleResult Machine::regOpenKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                          std::uint32_t access) {
    if (auto error = enter("regOpenKeyExW", subKey)) {
        return {kvph::kNullHandle, *error};
    }
    const std::wstring key = registryKey(root, subKey);
    if (model_.registry.find(key) == model_.registry.end()) {
        return {kvph::kNullHandle, win::ERROR_FILE_NOT_FOUND_};
    }
    return {addHandle(OpenRegKey{key, access}), 0};
}

kvph::RegCreateResult Machine::regCreateKeyExW(kvph::RegistryRoot root, const std::wstring& subKey,
                                               std::uint32_t access) {
    if (auto error = enter("regCreateKeyExW", subKey)) {
        return {kvph::kNullHandle, false, *error};
    }
    const std::wstring key = registryKey(root, subKey);
    const bool created = model_.registry.find(key) == model_.registry.end();
    model_.registry[key];
    return {addHandle(OpenRegKey{key, access}), created, 0};
}

namespace {

// The key an open handle names, when the handle is a registry key whose key still exists.
RegistryKey* openKey(Machine& machine, kvph::Handle handle, std::uint32_t& access) {
    Machine::OpenObject* object = machine.findHandle(handle);
    const Machine::OpenRegKey* open = object != nullptr ? std::get_if<Machine::OpenRegKey>(object) : nullptr;
    if (open == nullptr) {
        return nullptr;
    }
    access = open->access;
    auto key = machine.model().registry.find(open->key);
    return key != machine.model().registry.end() ? &key->second : nullptr;
}

}  // namespace

kvph::RegDwordQuery Machine::regQueryValueExDword(kvph::Handle handle, const std::wstring& valueName) {
    if (auto error = enter("regQueryValueExDword", valueName)) {
        return {*error, 0, 0};
    }
    std::uint32_t access = 0;
    RegistryKey* key = openKey(*this, handle, access);
    if (key == nullptr) {
        return {win::ERROR_INVALID_HANDLE_, 0, 0};
    }
    if ((access & win::KEY_QUERY_VALUE_) == 0) {
        return {win::ERROR_ACCESS_DENIED_, 0, 0};
    }
    auto value = findValue(*key, valueName);
    if (value == key->dwords.end()) {
        return {win::ERROR_FILE_NOT_FOUND_, 0, 0};
    }
    return {0, win::REG_DWORD_, value->second};
}

std::uint32_t Machine::regSetValueExDword(kvph::Handle handle, const std::wstring& valueName,
                                          std::uint32_t value) {
    if (auto error = enter("regSetValueExDword", valueName)) {
        return *error;
    }
    std::uint32_t access = 0;
    RegistryKey* key = openKey(*this, handle, access);
    if (key == nullptr) {
        return win::ERROR_INVALID_HANDLE_;
    }
    if ((access & win::KEY_SET_VALUE_) == 0) {
        return win::ERROR_ACCESS_DENIED_;
    }
    auto existing = findValue(*key, valueName);
    if (existing != key->dwords.end()) {
        existing->second = value;
    } else {
        key->dwords[valueName] = value;
    }
    return 0;
}

std::uint32_t Machine::regDeleteValueW(kvph::Handle handle, const std::wstring& valueName) {
    if (auto error = enter("regDeleteValueW", valueName)) {
        return *error;
    }
    std::uint32_t access = 0;
    RegistryKey* key = openKey(*this, handle, access);
    if (key == nullptr) {
        return win::ERROR_INVALID_HANDLE_;
    }
    if ((access & win::KEY_SET_VALUE_) == 0) {
        return win::ERROR_ACCESS_DENIED_;
    }
    auto value = findValue(*key, valueName);
    if (value == key->dwords.end()) {
        return win::ERROR_FILE_NOT_FOUND_;
    }
    key->dwords.erase(value);
    return 0;
}

kvph::RegKeyInfo Machine::regQueryInfoKeyW(kvph::Handle handle) {
    if (auto error = enter("regQueryInfoKeyW")) {
        return {*error, 0, 0};
    }
    Machine::OpenObject* object = findHandle(handle);
    const OpenRegKey* open = object != nullptr ? std::get_if<OpenRegKey>(object) : nullptr;
    auto key = open != nullptr ? model_.registry.find(open->key) : model_.registry.end();
    if (key == model_.registry.end()) {
        return {win::ERROR_INVALID_HANDLE_, 0, 0};
    }
    const auto subKeys =
        std::count_if(model_.registry.begin(), model_.registry.end(),
                      [&](const auto& entry) { return isSubKeyOf(entry.first, key->first); });
    return {0, static_cast<std::uint32_t>(subKeys), static_cast<std::uint32_t>(key->second.dwords.size())};
}

std::uint32_t Machine::regDeleteKeyExW(kvph::RegistryRoot root, const std::wstring& subKey) {
    if (auto error = enter("regDeleteKeyExW", subKey)) {
        return *error;
    }
    const std::wstring key = registryKey(root, subKey);
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

std::uint32_t Machine::regCloseKey(kvph::Handle handle) {
    if (auto error = enter("regCloseKey")) {
        return *error;
    }
    Machine::OpenObject* object = findHandle(handle);
    if (object == nullptr || !std::holds_alternative<OpenRegKey>(*object)) {
        return win::ERROR_INVALID_HANDLE_;
    }
    handles_.erase(handle);
    return 0;
}

}  // namespace sim
