#include "platform/Platform.h"

#include <stdexcept>

namespace kvph {

#ifdef _WIN32
// Defined by the Win32 backend, which is linked only into the DLL and the Windows tools.
Platform& win32Platform();
#endif

namespace {

Platform* installedPlatform() {
#ifdef _WIN32
    static Platform* current = &win32Platform();
#else
    static Platform* current = nullptr;
#endif
    return current;
}

Platform*& currentPlatform() {
    static Platform* current = installedPlatform();
    return current;
}

}  // namespace

Platform& platform() {
    Platform* current = currentPlatform();
    if (current == nullptr) {
        throw std::logic_error("no platform installed");
    }
    return *current;
}

bool hasPlatform() {
    return currentPlatform() != nullptr;
}

ScopedPlatform::ScopedPlatform(Platform& replacement) : previous_(currentPlatform()) {
    currentPlatform() = &replacement;
}

ScopedPlatform::~ScopedPlatform() {
    currentPlatform() = previous_;
}

}  // namespace kvph
