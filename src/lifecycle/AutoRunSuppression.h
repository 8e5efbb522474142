// AutoRun off for every drive type while diskpart brings the VHDX drive in, and the machine's policy
// put back afterwards, however the attach ends: by the attach itself, or, when its process is killed
// before it can, by the next call of the library, from a journal the attach writes before the change.
#pragma once

#include "lifecycle/DwordRegHelper.h"

namespace kvph {

// The machine-wide AutoRun policy: a REG_DWORD of drive-type bits under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kAutoRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
inline constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";
// The journal, in the data directory: the policy as it was before an attach changed it.
inline constexpr wchar_t kAutoRunJournalFileName[] = L"AutoRun.ini";

class AutoRunSuppression {
public:
    AutoRunSuppression();
    // Restores the policy when Suppress changed it, trying twice, deletes the journal once the policy is
    // back, then pauses 250 ms. The attach may end early through an exception (an allocation failure in
    // the resize, the retry or the listing), and the policy is machine-wide: left at 255 it would keep
    // AutoRun off for every drive.
    ~AutoRunSuppression();
    AutoRunSuppression(const AutoRunSuppression&) = delete;
    AutoRunSuppression& operator=(const AutoRunSuppression&) = delete;

    // Saves the policy into the journal, sets 255 and pauses 500 ms. A policy that cannot be read is left
    // alone, since it could not be put back, and so is one whose journal cannot be written, or whose
    // journal from a killed attach is still there (it holds the policy as it was before that attach).
    void Suppress();

private:
    DwordRegHelper policy_;
    SavedDword saved_;
    bool suppressed_ = false;
};

// RestoreAutoRunAfterKilledAttach (frame/Operations.h), run by every export the host calls, lives in
// AutoRunSuppression.cpp beside the journal it reads.

}  // namespace kvph
