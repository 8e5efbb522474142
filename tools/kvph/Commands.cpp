#include "Commands.h"
#include "CaptureCommand.h"
#include "DisksCommand.h"
#include "InventoryCommands.h"
#include "LifecycleCommands.h"
#include "PartitionCommands.h"

namespace kvph::tool {
namespace {

CommandResult exists(Host& host, const std::vector<std::wstring>& arguments) {
    return {host.exports().checkExistVHDX(arguments[0].c_str()), std::nullopt};
}

}  // namespace

const std::vector<CommandSpec>& commandTable() {
    static const std::vector<CommandSpec> table = {
        {"exists", 1, "exists PATH          whether the VHDX at PATH is attached (PH_CheckExistVHDX)",
         exists},
        {"list", 0, "list                 rebuild and show Partition.ini (PH_ListFixedPartition)",
         listInventory},
        {"letter", 1, "letter PATH          drive letter of the VHDX drive's volume (PH_GetVHDXVolumeLabel)",
         vhdxLetter},
        {"readonly", 1, "readonly PATH        whether that volume is read-only (PH_CheckVHDXReadOnly)",
         vhdxReadOnly},
        {"create", 3, "create PATH LABEL MAXMB [--expandable]  create the VHDX drive (PH_CreateVHDX)",
         createDrive, 1},
        {"attach", 1, "attach PATH [--read-only]  attach and resize the VHDX drive (PH_AttachVHDX)",
         attachDrive, 1},
        {"detach", 1,
         "detach PATH [--remove]  detach the VHDX drive, with --remove delete it (PH_DetachVHDX)",
         detachDrive, 1},
        {"compact", 1, "compact PATH         compact the VHDX and attach it again (PH_CompactThenAttachVHDX)",
         compactDrive},
        {"disks", 0,
         "disks                physical drives and their partition records as the library reads them",
         listDisks},
        {"hide", 1, "hide LETTER          hide the volume by giving its partition type 1B (PH_SetHidden)",
         hideVolume},
        {"unhide", 0,
         "unhide [LETTER]      give every letterless MBR partition type 0B and LETTER (PH_SetNonHidden)",
         unhideVolumes, 1},
        {"format", 1, "format LETTER [LABEL]  wipe the disk of LETTER into one NTFS volume (PH_FormatNTFS)",
         formatDisk, 1},
        {"free-letter", 0, "free-letter          a free drive letter (PH_FindUsableLabel)", freeLetter},
        {"capture", 1, "capture FILE         write this machine as a machine description for --machine",
         captureMachineFile},
    };
    return table;
}

const CommandSpec* findCommand(const std::string& name) {
    for (const CommandSpec& command : commandTable()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace kvph::tool
