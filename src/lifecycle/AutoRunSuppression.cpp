#include "lifecycle/AutoRunSuppression.h"

#include <cstdint>

#include "platform/Platform.h"

namespace kvph {

namespace {

constexpr std::uint32_t kAutoRunOffForAllDrives = 255;
constexpr std::uint32_t kPauseAfterSuppressMs = 500;
constexpr std::uint32_t kPauseAfterRestoreMs = 250;

}  // namespace

AutoRunSuppression::AutoRunSuppression() : policy_(RegistryRoot::LocalMachine, kAutoRunKey, kAutoRunValue) {}

AutoRunSuppression::~AutoRunSuppression() {
    try {
        if (suppressed_ && policy_.Restore(saved_)) {
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
    policy_.Write(kAutoRunOffForAllDrives);
    suppressed_ = true;
    platform().sleep(kPauseAfterSuppressMs);
}

}  // namespace kvph
