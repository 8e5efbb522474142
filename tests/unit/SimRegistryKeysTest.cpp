// The simulated registry through key handles: keys exist or not, values exist or not.
#include <gtest/gtest.h>

#include "platform/WinConstants.h"
#include "sim/Machine.h"

namespace kvph::test {
namespace {

constexpr auto kRoot = RegistryRoot::LocalMachine;
constexpr wchar_t kParent[] = L"SOFTWARE\\Policies";
constexpr wchar_t kKey[] = L"SOFTWARE\\Policies\\Explorer";

TEST(SimRegistryKeys, KeysValuesAccessAndRemoval) {
    sim::Machine machine;
    EXPECT_EQ(machine.regOpenKeyExW(kRoot, kKey, win::KEY_QUERY_VALUE_).error, win::ERROR_FILE_NOT_FOUND_);

    const RegCreateResult created = machine.regCreateKeyExW(kRoot, kKey, win::KEY_SET_VALUE_);
    ASSERT_EQ(created.status, 0u);
    EXPECT_TRUE(created.created);
    EXPECT_EQ(machine.regQueryValueExDword(created.key, L"Value").status, win::ERROR_ACCESS_DENIED_);
    EXPECT_EQ(machine.regSetValueExDword(created.key, L"Value", 7), 0u);
    EXPECT_EQ(machine.regCloseKey(created.key), 0u);
    EXPECT_EQ(machine.regCloseKey(created.key), win::ERROR_INVALID_HANDLE_);

    const RegCreateResult again = machine.regCreateKeyExW(kRoot, L"software\\policies\\explorer\\", 0);
    EXPECT_FALSE(again.created);
    EXPECT_EQ(machine.regSetValueExDword(again.key, L"Value", 8), win::ERROR_ACCESS_DENIED_);
    machine.regCloseKey(again.key);

    const HandleResult opened =
        machine.regOpenKeyExW(kRoot, kKey, win::KEY_QUERY_VALUE_ | win::KEY_SET_VALUE_);
    ASSERT_EQ(opened.error, 0u);
    const RegDwordQuery value = machine.regQueryValueExDword(opened.handle, L"VALUE");
    EXPECT_EQ(value.status, 0u);
    EXPECT_EQ(value.type, win::REG_DWORD_);
    EXPECT_EQ(value.value, 7u);
    EXPECT_EQ(machine.regQueryInfoKeyW(opened.handle).values, 1u);
    EXPECT_EQ(machine.regDeleteValueW(opened.handle, L"Value"), 0u);
    EXPECT_EQ(machine.regDeleteValueW(opened.handle, L"Value"), win::ERROR_FILE_NOT_FOUND_);
    EXPECT_EQ(machine.regQueryValueExDword(opened.handle, L"Value").status, win::ERROR_FILE_NOT_FOUND_);

    const RegCreateResult parent = machine.regCreateKeyExW(kRoot, kParent, win::KEY_QUERY_VALUE_);
    EXPECT_EQ(machine.regQueryInfoKeyW(parent.key).subKeys, 1u);
    EXPECT_EQ(machine.regDeleteKeyExW(kRoot, kParent), win::ERROR_ACCESS_DENIED_);
    EXPECT_EQ(machine.regDeleteKeyExW(kRoot, kKey), 0u);
    EXPECT_EQ(machine.regQueryInfoKeyW(opened.handle).status, win::ERROR_INVALID_HANDLE_);
    EXPECT_EQ(machine.regDeleteKeyExW(kRoot, kKey), win::ERROR_FILE_NOT_FOUND_);
    machine.regCloseKey(opened.handle);
    machine.regCloseKey(parent.key);
    EXPECT_EQ(machine.openHandleCount(), 0u);
}

}  // namespace
}  // namespace kvph::test
