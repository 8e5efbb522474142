/* KvPartitionHelper: the twelve exports of the plug-in library.
 *
 * Every export returns 1 for success (or yes) and 0 for failure (or no); the reason for a failure is
 * written only to the debug-output log. Text is NUL-terminated UTF-16 (wchar_t on Windows). Output text
 * buffers must hold 260 units. Calls are serialised machine-wide: an export never overlaps another one,
 * not even one running in another process.
 */
#ifndef KVPARTITIONHELPER_H
#define KVPARTITIONHELPER_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

int PH_ListFixedPartition(void);
int PH_CreateVHDX(const wchar_t* vhdxPath, const wchar_t* volumeLabel, int maximumMB, int expandable);
int PH_AttachVHDX(const wchar_t* vhdxPath, int readOnly);
int PH_DetachVHDX(const wchar_t* vhdxPath, int removeFiles);
int PH_CheckExistVHDX(const wchar_t* vhdxPath);
int PH_FormatNTFS(const wchar_t* driveLetter, const wchar_t* volumeLabel);
int PH_FindUsableLabel(wchar_t* letterOut);
int PH_CompactThenAttachVHDX(const wchar_t* vhdxPath);
int PH_GetVHDXVolumeLabel(const wchar_t* vhdxPath, wchar_t* letterOut);
int PH_CheckVHDXReadOnly(const wchar_t* vhdxPath, int* readOnlyOut);
int PH_SetHidden(const wchar_t* driveLetter);
int PH_SetNonHidden(const wchar_t* driveLetter);

#ifdef __cplusplus
}
#endif

#endif
