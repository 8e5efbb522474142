// Which host kvph.exe runs on: the real library, or with a machine file the simulated copy, so that a
// command can be rehearsed on Windows without the DLL touching the machine.
#include "kvph/base/Host.h"

namespace kvph::tool {

std::unique_ptr<Host> makeHost(const std::string& machineFile, std::string& error) {
    return machineFile.empty() ? makeLibraryHost(error) : makeSimulatedHost(machineFile, error);
}

}  // namespace kvph::tool
