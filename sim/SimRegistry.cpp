#include "SimRegistry.h"

#include "SimText.h"
#include "platform/WinConstants.h"

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

}  // namespace sim
