// AutoRun off for every drive type while diskpart brings the VHDX drive in, and the machine's policy
// put back afterwards, however the attach ends.
#pragma once

#include "lifecycle/DwordRegHelper.h"

namespace kvph {

// The machine-wide AutoRun policy: a REG_DWORD of drive-type bits under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kAutoRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
inline constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";

class AutoRunSuppression {
public:
    AutoRunSuppression();
    // Restores the policy when Suppress changed it, trying twice, then pauses 250 ms. The attach may end
    // early through an exception (an allocation failure in the resize, the retry or the listing), and
    // the policy is machine-wide: left at 255 it would keep AutoRun off for every drive.
    ~AutoRunSuppression();
    AutoRunSuppression(const AutoRunSuppression&) = delete;
    AutoRunSuppression& operator=(const AutoRunSuppression&) = delete;

    // Saves the policy, sets 255 and pauses 500 ms; a policy that cannot be read is left alone, since
    // it could not be put back.
    void Suppress();

private:
    DwordRegHelper policy_;
    SavedDword saved_;
    bool suppressed_ = false;
};

}  // namespace kvph
