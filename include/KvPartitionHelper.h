/* KvPartitionHelper: the whole public interface of the plug-in library, twelve plain C exports.
 *
 * Results: every export returns 1 for success (or yes) and 0 for failure, not found, or no. No export
 * reports an error code; the reason for a 0 is written as one line to the debug-output channel
 * (OutputDebugStringW), which a debugger or a debug-output viewer shows.
 *
 * Calling rules, common to all exports:
 * - Calls are serialised machine-wide: an export waits until no other export runs, in this process or in
 *   any other that loaded the library, and blocks its caller until it is done (diskpart runs included).
 * - Text is NUL-terminated UTF-16 (wchar_t on Windows). Input text of more than KVPH_TEXT_UNITS - 1
 *   (259) units is refused: the export returns 0 after one log line.
 * - Output text buffers must hold KVPH_TEXT_UNITS (260) units; the library writes at most that many,
 *   terminator included.
 * - A null pointer, input or output, is refused: the export returns 0 after one log line and writes
 *   nothing.
 * - Text that goes into a diskpart script (a VHDX path, a label, a letter) is refused when it holds a
 *   double quote or a control character; a VHDX path is refused when the system's ANSI code page cannot
 *   hold it unchanged. Nothing is run or written then, and one log line says why. A character of a
 *   label or letter that the ANSI code page lacks reaches the script as the code page's default
 *   character ('?'), never as a look-alike.
 * - A drive letter is passed as text such as "E:"; "E" and "E:\" are taken too.
 * - Flags are 32-bit integers of which only zero or non-zero counts.
 * - The library's files (Partition.ini, MaxSize.ini, UserData.ini) are replaced whole: a reader, or a
 *   call after one whose process was killed, finds the old file or the new one, never part of one. The
 *   AutoRun policy that an attach switches off is put back by the next call of any export when the
 *   attaching process was killed first.
 *
 * Parameters are marked: in (read only), out (written by the export).
 */
#ifndef KVPARTITIONHELPER_H
#define KVPARTITIONHELPER_H

/* wchar_t for C; <stddef.h> is there even without a C runtime (a freestanding compile). */
#include <stddef.h>

/* Units of every output text buffer, terminator included. */
#define KVPH_TEXT_UNITS 260

#ifdef __cplusplus
extern "C" {
#endif

/* Rewrites Partition.ini, in the library's folder, with the machine's fixed partitions.
 * Returns 1 always (apart from the refusals of the calling rules). */
int PH_ListFixedPartition(void);

/* Creates the VHDX drive: a new VHDX file, attached, partitioned, formatted NTFS with the label and given
 * a free drive letter, listed in Partition.ini, then detached.
 *   vhdxPath     in   full path of the VHDX file to create
 *   volumeLabel  in   label of the new volume
 *   maximumMB    in   maximum size of the virtual disk in MiB; 0 or below: all the free space of the
 *                     drive that holds the file, and no cap when the drive is resized later
 *   expandable   in   non-zero: the file grows as it fills; zero: its whole size is allocated now
 * Returns 1 when diskpart created the drive; 0 when it did not, and 0 before anything is changed when
 * something exists at the path, the label is longer than the 32 characters of an NTFS label, the folder
 * of the path cannot be made, the script would not fit its buffer or no drive letter is free. A creation
 * that diskpart fails leaves nothing: the file and the folders the call made are removed, and MaxSize.ini
 * stays as it was. */
int PH_CreateVHDX(const wchar_t* vhdxPath, const wchar_t* volumeLabel, int maximumMB, int expandable);

/* Attaches the VHDX drive and brings its volume back under its recorded drive letter.
 *   vhdxPath  in   full path of the VHDX file
 *   readOnly  in   non-zero: attach read-only; a drive that is to be expanded first is attached
 *                  read-write all the same, so that its volume can grow
 * Returns 1 when the VHDX is attached already or diskpart attached the disk; 0 when the attachment failed.
 * When a volume answers under the recorded letter, diskpart's listing says whether the VHDX is attached:
 * if it is, nothing is run (a line is logged when its volume is not the one under the letter); if it is
 * not, the letter belongs to another volume and the drive is attached as it is, without a resize. The
 * drive is never expanded while its size cap is unknown (no MaxSize.ini, or no number in it), and never
 * resized while the size of its file or the free space beside it cannot be read. */
int PH_AttachVHDX(const wchar_t* vhdxPath, int readOnly);

/* Detaches the VHDX drive.
 *   vhdxPath     in   full path of the VHDX file
 *   removeFiles  in   non-zero: after the detach, also delete the VHDX file, Partition.ini and
 *                     MaxSize.ini; a drive that diskpart lists as not attached is removed as it is
 * Returns 1 when diskpart detached the drive, or when it is removed and was detached already; 0 when it
 * was not detached. */
int PH_DetachVHDX(const wchar_t* vhdxPath, int removeFiles);

/* Tells whether the VHDX is attached, as diskpart lists it in whatever display language.
 *   vhdxPath  in   full path of the VHDX file
 * Returns 1 when it is attached; 0 when it is not, or when diskpart could not be asked. */
int PH_CheckExistVHDX(const wchar_t* vhdxPath);

/* Wipes the disk that holds a drive letter into one NTFS volume, only when that volume is the disk's
 * only partition (a Microsoft reserved partition aside). When no volume has the letter, only a disk
 * that holds no partition at all may be chosen; the disk of the system volume never is.
 *   driveLetter  in   drive letter text such as "E:"; the new volume gets it
 *   volumeLabel  in   label of the new volume; empty: the label the volume had
 * Returns 1 when the disk was formatted; 0 when no disk matched, the volume's disk holds other
 * partitions, or diskpart failed. */
int PH_FormatNTFS(const wchar_t* driveLetter, const wchar_t* volumeLabel);

/* Proposes a free drive letter. Despite its name it returns a drive letter, not a volume label. A
 * letter is free when the system reports no drive under it and no path of that name exists: an empty
 * card reader or optical drive, or a mapped drive out of service, holds its letter.
 *   letterOut  out  buffer of KVPH_TEXT_UNITS units; receives a letter such as "Z:"
 * Returns 1 with the highest free letter, searching from "Z:" down to "C:"; 0 with the buffer emptied
 * when every letter is in use, or when the letters in use cannot be read. */
int PH_FindUsableLabel(wchar_t* letterOut);

/* Compacts the VHDX file, then attaches it again read-write. diskpart compacts only a virtual disk that
 * is detached or attached read-only, so the drive is compacted while attached read-only (or detached);
 * the script then detaches it and attaches it read-write.
 *   vhdxPath  in   full path of the VHDX file
 * Returns 1 when diskpart ran the compaction script; 0 when it did not. */
int PH_CompactThenAttachVHDX(const wchar_t* vhdxPath);

/* Gives the drive letter of the attached VHDX drive's volume: the first lettered volume of the disk that
 * diskpart lists the VHDX on (the drive's label and partition shape decide only when the listing shows
 * no disk). Despite its name it returns a drive letter, not a volume label.
 *   vhdxPath   in   full path of the VHDX file
 *   letterOut  out  buffer of KVPH_TEXT_UNITS units; receives a letter such as "E:"
 * Returns 1 with the letter; 0 with the buffer emptied when the VHDX is not attached or its volume has
 * no letter. */
int PH_GetVHDXVolumeLabel(const wchar_t* vhdxPath, wchar_t* letterOut);

/* Tells whether the attached VHDX drive's volume (found as PH_GetVHDXVolumeLabel finds it) is read-only.
 *   vhdxPath     in   full path of the VHDX file
 *   readOnlyOut  out  receives 1 (read-only), 0 (writable) or -1 (undetermined: not attached, or the
 *                     volume could not be read)
 * Returns 1 with the state stored; 0 only when an argument is refused. */
int PH_CheckVHDXReadOnly(const wchar_t* vhdxPath, int* readOnlyOut);

/* Hides the volume at a drive letter: its MBR partition gets type 1B.
 *   driveLetter  in   drive letter text such as "E:"
 * Returns 1 when the partition's type was changed; 0 when no partition holds the letter or diskpart
 * failed. */
int PH_SetHidden(const wchar_t* driveLetter);

/* Shows hidden volumes again: every partition of an MBR disk that has type 1B (what PH_SetHidden
 * writes) and no drive letter gets type 0B; no other partition is changed.
 *   driveLetter  in   drive letter that the first volume shown is given, such as "E:" ("E" and "E:"
 *                     are taken too); may be empty. The others shown get no letter. A letter that is
 *                     not one of A to Z, or that is in use (as PH_FindUsableLabel judges it), is
 *                     refused before anything is changed.
 * Returns 1 when at least one partition was found and every type change succeeded; 0 otherwise. */
int PH_SetNonHidden(const wchar_t* driveLetter);

#ifdef __cplusplus
}
#endif

#endif
