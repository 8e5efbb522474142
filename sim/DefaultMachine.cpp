#include "DefaultMachine.h"

#include "MachineJson.h"

namespace sim {

// Kept as a description rather than built in code so that it reads like any machine file and can be
// saved with --save as a starting point for others. Drive C exists through `letters` until the
// machine has a system disk of its own.
const char* defaultMachineDescription() {
    return R"json({
  "codePage": 1252,
  "windowsDirectory": "C:\\Windows",
  "commonAppData": "C:\\ProgramData",
  "libraryPath": "C:\\Program Files\\Host\\KvPartitionHelper.dll",
  "disks": [],
  "letters": ["C"],
  "folders": [
    "C:\\Windows\\System32",
    "C:\\ProgramData",
    "C:\\Program Files\\Host",
    "C:\\Users\\Public\\Documents"
  ],
  "files": [
    { "path": "C:\\Program Files\\Host\\KvPartitionHelper.dll", "size": 262144 },
    { "path": "C:\\Windows\\System32\\diskpart.exe", "size": 196608 },
    { "path": "C:\\Windows\\System32\\cmd.exe", "size": 344064 }
  ],
  "registry": [
    { "key": "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
      "dwords": { "NoDriveTypeAutoRun": 145 } }
  ],
  "vdisks": [],
  "diskpart": { "exitCodes": [], "cannotStart": false }
})json";
}

MachineModel defaultMachine() {
    return machineFromJson(nlohmann::json::parse(defaultMachineDescription()), ".");
}

}  // namespace sim
