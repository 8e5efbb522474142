#include "lifecycle/AutoRunSuppression.h"

#include <cstdint>
#include <optional>
#include <string>

#include "frame/Folders.h"
#include "frame/Log.h"
#include "frame/Operations.h"
#include "frame/ProfileReplacement.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr std::uint32_t kAutoRunOffForAllDrives = 255;
constexpr std::uint32_t kPauseAfterSuppressMs = 500;
constexpr std::uint32_t kPauseAfterRestoreMs = 250;

constexpr wchar_t kJournalSection[] = L"Main";
constexpr wchar_t kKeyExistedKey[] = L"KeyExisted";
constexpr wchar_t kValueExistedKey[] = L"ValueExisted";
constexpr wchar_t kValueKey[] = L"Value";
constexpr std::uint64_t kLargestDword = 0xFFFFFFFFu;

std::wstring journalPath() {
    const std::wstring dataDirectory = DataDirectory();
    return dataDirectory.empty() ? std::wstring() : dataDirectory + kAutoRunJournalFileName;
}

// Written through a replacement, the journal is whole or absent; the data directory holding it was
// protected by the script file written just before.
bool writeJournal(const std::wstring& path, const SavedDword& saved) {
    if (path.empty() || platform().pathFileExistsW(path)) {
        return false;
    }
    ProfileReplacement journal(path);
    return journal.write(kJournalSection, kKeyExistedKey, saved.keyExisted ? L"1" : L"0") &&
           journal.write(kJournalSection, kValueExistedKey, saved.valueExisted ? L"1" : L"0") &&
           journal.write(kJournalSection, kValueKey, std::to_wstring(saved.value)) &&
           journal.commit(win::FILE_ATTRIBUTE_NORMAL_);
}

std::wstring journalText(const std::wstring& path, const wchar_t* key) {
    return platform().getPrivateProfileStringW(kJournalSection, key, L"", kTextUnits, path);
}

std::optional<bool> journalFlag(const std::wstring& path, const wchar_t* key) {
    const std::wstring text = journalText(path, key);
    if (text == L"0" || text == L"1") {
        return text == L"1";
    }
    return std::nullopt;
}

std::optional<std::uint32_t> journalValue(const std::wstring& path) {
    const std::wstring text = journalText(path, kValueKey);
    std::uint64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9' || value > kLargestDword) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(digit - L'0');
    }
    if (text.empty() || value > kLargestDword) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<SavedDword> readJournal(const std::wstring& path) {
    const std::optional<bool> keyExisted = journalFlag(path, kKeyExistedKey);
    const std::optional<bool> valueExisted = journalFlag(path, kValueExistedKey);
    const std::optional<std::uint32_t> value = journalValue(path);
    if (!keyExisted || !valueExisted || !value || (*valueExisted && !*keyExisted)) {
        return std::nullopt;
    }
    return SavedDword{true, *keyExisted, *valueExisted, *value};
}

// Whether the policy is as an attach that saved `saved` may have left it: at the 255 it set, or with the
// key it created and no value, when it was killed while creating the key or while deleting it again.
bool leftByTheAttach(const SavedDword& now, const SavedDword& saved) {
    return now.valueExisted ? now.value == kAutoRunOffForAllDrives : now.keyExisted && !saved.keyExisted;
}

}  // namespace

AutoRunSuppression::AutoRunSuppression() : policy_(RegistryRoot::LocalMachine, kAutoRunKey, kAutoRunValue) {}

AutoRunSuppression::~AutoRunSuppression() {
    try {
        if (!suppressed_) {
            return;
        }
        const RestoreOutcome restored = policy_.Restore(saved_);
        if (restored != RestoreOutcome::Failed) {
            DeleteAnyFile(journalPath());
        }
        if (restored != RestoreOutcome::NothingToUndo) {
            platform().sleep(kPauseAfterRestoreMs);
        }
    } catch (...) {
        // A destructor must not throw; the restore has already been tried twice where it could run.
    }
}

void AutoRunSuppression::Suppress() {
    saved_ = policy_.Save();
    if (!saved_.known) {
        return;
    }
    if (!writeJournal(journalPath(), saved_)) {
        logLine(L"(KvPartitionHelper)AutoRun journal cannot be written; AutoRun is left as it is.\r\n");
        return;
    }
    policy_.Write(kAutoRunOffForAllDrives);
    suppressed_ = true;
    platform().sleep(kPauseAfterSuppressMs);
}

void RestoreAutoRunAfterKilledAttach() {
    const std::wstring path = journalPath();
    if (path.empty() || !platform().pathFileExistsW(path)) {
        return;
    }
    const std::optional<SavedDword> saved = readJournal(path);
    if (!saved) {
        logLine(L"(KvPartitionHelper)AutoRun journal cannot be read; the policy is left as it is.\r\n");
        DeleteAnyFile(path);
        return;
    }
    DwordRegHelper policy(RegistryRoot::LocalMachine, kAutoRunKey, kAutoRunValue);
    const SavedDword now = policy.Save();
    if (!now.known) {
        logLine(L"(KvPartitionHelper)AutoRun policy of an unfinished attach could not be put back.\r\n");
        return;
    }
    if (!leftByTheAttach(now, *saved)) {
        DeleteAnyFile(path);
        return;
    }
    if (policy.RestoreAfterKill(*saved) == RestoreOutcome::Failed) {
        logLine(L"(KvPartitionHelper)AutoRun policy of an unfinished attach could not be put back.\r\n");
        return;
    }
    logLine(L"(KvPartitionHelper)AutoRun policy put back as it was before an unfinished attach.\r\n");
    DeleteAnyFile(path);
}

}  // namespace kvph
