// The diskpart scripts of the library, one named template each. Lines end with CR LF; the last is "exit".
#pragma once

namespace kvph::scripts {

inline constexpr char kListVdisk[] = "list vdisk\r\nexit\r\n";

inline constexpr char kSetIdWithLetter[] =
    "select disk=\"%d\"\r\nselect partition=\"%d\"\r\nset id=\"%s\" override\r\nassign "
    "letter=\"%s\"\r\nexit\r\n";
inline constexpr char kSetId[] =
    "select disk=\"%d\"\r\nselect partition=\"%d\"\r\nset id=\"%s\" override\r\nexit\r\n";

inline constexpr char kFormatWithLabel[] =
    "select disk=\"%d\"\r\nclean\r\ncreate partition primary\r\nformat quick fs=ntfs "
    "label=\"%s\"\r\nactive\r\n"
    "assign letter=\"%s\"\r\nexit\r\n";
inline constexpr char kFormat[] =
    "select disk=\"%d\"\r\nclean\r\ncreate partition primary\r\nformat quick fs=ntfs \r\nactive\r\n"
    "assign letter=\"%s\"\r\nexit\r\n";
// "active" marks the MBR boot partition; diskpart refuses it on a GPT disk, after the clean and format.
inline constexpr char kFormatGptWithLabel[] =
    "select disk=\"%d\"\r\nclean\r\ncreate partition primary\r\nformat quick fs=ntfs "
    "label=\"%s\"\r\nassign letter=\"%s\"\r\nexit\r\n";
inline constexpr char kFormatGpt[] =
    "select disk=\"%d\"\r\nclean\r\ncreate partition primary\r\nformat quick fs=ntfs \r\n"
    "assign letter=\"%s\"\r\nexit\r\n";

inline constexpr char kSelectVdisk[] = "select vdisk file=\"%s\"\r\n";
inline constexpr char kCreateVdisk[] = "create vdisk file=\"%s\" type=%s maximum=%d\r\n";
inline constexpr char kAttachVdisk[] = "attach vdisk\r\n";
inline constexpr char kAttachVdiskReadOnly[] = "attach vdisk readonly\r\n";
inline constexpr char kExpandVdisk[] = "expand vdisk maximum=%d\r\n";
inline constexpr char kDetachVdisk[] = "detach vdisk\r\n";
inline constexpr char kCompactVdisk[] = "compact vdisk\r\n";
inline constexpr char kSelectDisk[] = "select disk=\"%d\"\r\n";
inline constexpr char kSelectPartition[] = "select partition=\"%d\"\r\n";
inline constexpr char kShrinkDesired[] = "shrink desired=\"%d\"\r\n";
inline constexpr char kExtend[] = "extend\r\n";
inline constexpr char kAssignLetter[] = "assign letter=\"%s\"\r\n";
inline constexpr char kExit[] = "exit\r\n";

// Whole scripts of the VHDX drive's life.
inline constexpr char kCreateVhdx[] =
    "create vdisk file=\"%s\" type=%s maximum=%d\r\nselect vdisk file=\"%s\"\r\nattach vdisk\r\ncreate "
    "partition "
    "Primary\r\nformat quick fs=ntfs label=\"%s\"\r\nAssign Letter=\"%s\"\r\nexit\r\n";
inline constexpr char kExpandThenAttach[] =
    "select vdisk file=\"%s\"\r\nexpand vdisk maximum=%d\r\nattach vdisk\r\nexit\r\n";
inline constexpr char kAttach[] = "select vdisk file=\"%s\"\r\nattach vdisk\r\nexit\r\n";
inline constexpr char kAttachReadOnly[] = "select vdisk file=\"%s\"\r\nattach vdisk readonly\r\nexit\r\n";
inline constexpr char kDetach[] = "select vdisk file=\"%s\"\r\ndetach vdisk\r\nexit\r\n";
inline constexpr char kCompactThenAttach[] =
    "select vdisk file=\"%s\"\r\ncompact vdisk\r\ndetach vdisk\r\nattach vdisk\r\nexit\r\n";
inline constexpr char kShrinkPartition[] =
    "select disk=\"%d\"\r\nselect partition=\"%d\"\r\nshrink desired=\"%d\"\r\nexit\r\n";
inline constexpr char kExtendPartition[] =
    "select disk=\"%d\"\r\nselect partition=\"%d\"\r\nextend\r\nexit\r\n";

}  // namespace kvph::scripts
