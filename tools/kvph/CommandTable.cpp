#include "kvph/CommandTable.h"
#include "kvph/commands/CaptureCommand.h"
#include "kvph/commands/CheckCommand.h"
#include "kvph/commands/DemoCommand.h"
#include "kvph/commands/DisksCommand.h"
#include "kvph/commands/InventoryCommands.h"
#include "kvph/commands/LifecycleCommands.h"
#include "kvph/commands/PartitionCommands.h"

namespace kvph::tool {
namespace {

CommandResult exists(Host& host, const std::vector<std::wstring>& arguments) {
    return {host.exports().checkExistVHDX(arguments[0].c_str()), std::nullopt};
}

const Parameter kPath{"PATH", "the VHDX file, e.g. D:\\vd\\drive.vhdx"};
const Parameter kLetter{"LETTER", "a drive letter, e.g. E:"};

}  // namespace

const std::vector<CommandRow>& commandTable() {
    static const std::vector<CommandRow> table = {
        {"list",
         "rebuild Partition.ini and show it (PH_ListFixedPartition)",
         {},
         nullptr,
         nullptr,
         listInventory},
        {"exists",
         "whether the VHDX at PATH is attached (PH_CheckExistVHDX)",
         {kPath},
         nullptr,
         nullptr,
         exists},
        {"letter",
         "drive letter of the VHDX drive's volume (PH_GetVHDXVolumeLabel)",
         {kPath},
         nullptr,
         nullptr,
         vhdxLetter},
        {"readonly",
         "whether that volume is read-only: 1, 0, or -1 unknown (PH_CheckVHDXReadOnly)",
         {kPath},
         nullptr,
         nullptr,
         vhdxReadOnly},
        {"free-letter", "a free drive letter (PH_FindUsableLabel)", {}, nullptr, nullptr, freeLetter},
        {"create",
         "create the VHDX drive with one NTFS volume (PH_CreateVHDX)",
         {kPath, {"LABEL", "the volume's label"}, {"MAXMB", "the largest size in MB", false, true}},
         "--expandable",
         "grow the file as data arrives instead of allocating it whole",
         createDrive},
        {"attach",
         "attach the VHDX drive and fit its volume to the settings (PH_AttachVHDX)",
         {kPath},
         "--read-only",
         "attach it read-only",
         attachDrive},
        {"detach",
         "detach the VHDX drive (PH_DetachVHDX)",
         {kPath},
         "--remove",
         "delete the VHDX file and the drive's settings too",
         detachDrive},
        {"compact",
         "compact the VHDX and attach it again (PH_CompactThenAttachVHDX)",
         {kPath},
         nullptr,
         nullptr,
         compactDrive},
        {"hide",
         "hide the volume by giving its partition type 1B (PH_SetHidden)",
         {kLetter},
         nullptr,
         nullptr,
         hideVolume},
        {"unhide",
         "show what hide hid: type 1B becomes 0B, the first under LETTER (PH_SetNonHidden)",
         {{"LETTER", "a free letter to give, e.g. E:", true}},
         nullptr,
         nullptr,
         unhideVolumes},
        {"format",
         "wipe the disk of LETTER, if LETTER is alone on it, into NTFS (PH_FormatNTFS)",
         {kLetter, {"LABEL", "the new volume's label", true}},
         nullptr,
         nullptr,
         formatDisk},
        {"disks",
         "physical drives and their partition records as the library reads them",
         {},
         nullptr,
         nullptr,
         listDisks},
        {"demo",
         "live the VHDX drive's life on the built-in machine, step by step",
         {},
         nullptr,
         nullptr,
         runDemo,
         true},
        {"capture",
         "write this machine as a machine description that --machine loads",
         {{"FILE", "the machine file to write"}},
         nullptr,
         nullptr,
         captureMachineFile},
        {"check",
         "prove the library on this machine: a scratch VHDX drive's whole life, each step judged, and the "
         "machine put back as it was",
         {},
         nullptr,
         nullptr,
         nullptr,
         false,
         {{"--folder", "DIR",
           "make the scratch drive in DIR (default: a new folder under the temporary folder)"},
          {"--size", "MB", "the scratch drive's largest size in MB (default 64)", true}},
         runCheck},
    };
    return table;
}

const CommandRow* findCommand(const std::string& name) {
    for (const CommandRow& command : commandTable()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace kvph::tool
