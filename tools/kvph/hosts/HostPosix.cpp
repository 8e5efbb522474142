// The kvph tool off Windows: there is no real library to load, so every run is on a simulated machine.
#include <csignal>

#include "kvph/base/Host.h"

namespace kvph::tool {

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

namespace {

volatile std::sig_atomic_t interrupted = 0;

void noteInterrupt(int) {
    interrupted = 1;
}

}  // namespace

void watchForInterrupts() {
    std::signal(SIGINT, noteInterrupt);
    std::signal(SIGTERM, noteInterrupt);
}

bool interruptRequested() {
    return interrupted != 0;
}

void interruptHandled() {}

std::unique_ptr<Host> makeHost(const std::string& machineFile, std::string& error) {
    return makeSimulatedHost(machineFile, error);
}

}  // namespace kvph::tool
