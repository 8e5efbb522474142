// The kvph tool off Windows: there is no real library to load, so every run is on a simulated machine.
#include "Host.h"

namespace kvph::tool {

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::unique_ptr<Host> makeHost(const std::string& machineFile, std::string& error) {
    return makeSimulatedHost(machineFile, error);
}

}  // namespace kvph::tool
