#include "sim/format/DefaultMachine.h"

#include "sim/format/MachineJson.h"

namespace sim {

// Kept as a description rather than built in code so that it reads like any machine file and can be
// saved with --save as a starting point for others.
// A desktop PC: an NVMe system disk, a hard disk whose D: has the folder D:\vd for the host's VHDX drive
// (not made yet: `kvph demo` creates it), a USB stick and a network drive.
const char* defaultMachineDescription() {
    return R"json({
  "codePage": 1252,
  "windowsDirectory": "C:\\Windows",
  "commonAppData": "C:\\ProgramData",
  "libraryPath": "C:\\Program Files\\Host\\KvPartitionHelper.dll",
  "disks": [
    {
      "number": 0, "driveType": "fixed", "bus": 17, "rotationRate": null, "sizeBytes": 512110190592,
      "style": "gpt", "diskGuid": "3F2504E0-4F89-41D3-9A0C-0305E82C3301",
      "partitions": [
        { "start": 2048, "sectors": 204800, "type": "C12A7328-F81F-11D2-BA4B-00A0C93EC93B",
          "id": "9B1A1E6F-0C3D-4E0B-8E2A-5C1D2E3F4A01", "name": "EFI system partition" },
        { "start": 206848, "sectors": 32768, "type": "E3C9E316-0B5C-4DB8-817D-F92DF00215AE",
          "id": "9B1A1E6F-0C3D-4E0B-8E2A-5C1D2E3F4A02", "name": "Microsoft reserved partition" },
        { "start": 239616, "sectors": 997000000, "type": "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7",
          "id": "9B1A1E6F-0C3D-4E0B-8E2A-5C1D2E3F4A03", "name": "Basic data partition" },
        { "start": 997239616, "sectors": 1228800, "type": "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC",
          "id": "9B1A1E6F-0C3D-4E0B-8E2A-5C1D2E3F4A04", "name": "" }
      ],
      "volumes": [
        { "start": 2048, "letter": null, "fileSystem": "FAT32", "label": "", "freeBytes": 70000000 },
        { "start": 239616, "letter": "C", "fileSystem": "NTFS", "label": "", "freeBytes": 201326592000 },
        { "start": 997239616, "letter": null, "fileSystem": "NTFS", "label": "", "freeBytes": 90000000 }
      ]
    },
    {
      "number": 1, "driveType": "fixed", "bus": 11, "rotationRate": 7200, "sizeBytes": 1000204886016,
      "style": "mbr", "signature": 305419896,
      "partitions": [
        { "start": 2048, "sectors": 1200000000, "type": "07" },
        { "start": 1300000000, "sectors": 600000000, "type": "0F",
          "logical": [ { "start": 1300002048, "sectors": 400000000, "type": "07" } ] }
      ],
      "volumes": [
        { "start": 2048, "letter": "D", "fileSystem": "NTFS", "label": "Data", "freeBytes": 412316860416 },
        { "start": 1300002048, "letter": "E", "fileSystem": "NTFS", "label": "Media", "freeBytes": 53687091200 }
      ]
    },
    {
      "number": 2, "driveType": "removable", "bus": 7, "rotationRate": null, "sizeBytes": 32010928128,
      "style": "mbr", "signature": 2882400001,
      "partitions": [ { "start": 2048, "sectors": 62517248, "type": "0C" } ],
      "volumes": [ { "start": 2048, "letter": "F", "fileSystem": "FAT32", "label": "STICK", "freeBytes": 9663676416 } ]
    }
  ],
  "letters": ["Z"],
  "folders": [
    "C:\\Windows\\System32",
    "C:\\ProgramData",
    "C:\\Program Files\\Host",
    "C:\\Users\\Public\\Documents",
    "D:\\vd"
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
