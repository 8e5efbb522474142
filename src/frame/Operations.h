// The operations behind the twelve exports, one each, named after its export without the prefix.
// src/frame/Exports.cpp runs each of them inside the export frame (call lock, no escaping exception);
// the operation checks its own arguments and does the work. Exports that call exports go through the
// PH_ functions, so an inner call behaves exactly as a call from the host.
#pragma once

namespace kvph {

int ListFixedPartition();  // src/inventory/FixedPartitionListing.cpp
int CreateVHDX(const wchar_t* vhdxPath, const wchar_t* volumeLabel, int maximumMB,
               int expandable);                            // src/lifecycle/CreateVHDX.cpp
int AttachVHDX(const wchar_t* vhdxPath, int readOnly);     // src/lifecycle/AttachVHDX.cpp
int DetachVHDX(const wchar_t* vhdxPath, int removeFiles);  // src/lifecycle/DetachVHDX.cpp
int CheckExistVHDX(const wchar_t* vhdxPath);               // src/inventory/VhdxPresenceQuery.cpp
int FormatNTFS(const wchar_t* driveLetter, const wchar_t* volumeLabel);  // src/partition_ops/FormatNTFS.cpp
int FindUsableLabel(wchar_t* letterOut);             // src/partition_ops/FindUsableLabel.cpp
int CompactThenAttachVHDX(const wchar_t* vhdxPath);  // src/lifecycle/CompactThenAttachVHDX.cpp
int GetVHDXVolumeLabel(const wchar_t* vhdxPath, wchar_t* letterOut);  // src/inventory/VolumeQueries.cpp
int CheckVHDXReadOnly(const wchar_t* vhdxPath, int* readOnlyOut);     // src/inventory/VolumeQueries.cpp
int SetHidden(const wchar_t* driveLetter);                            // src/partition_ops/SetHidden.cpp
int SetNonHidden(const wchar_t* driveLetter);                         // src/partition_ops/SetNonHidden.cpp

// Run before the operation of the export the host called (src/lifecycle/AutoRunSuppression.cpp). When an
// attach's AutoRun journal is there, that attach was killed before it put the policy back: the policy is
// put back from the journal (one log line) and the journal deleted; but only while the policy is still as
// that attach may have left it (255, or a key it made without the value), as otherwise the attach never
// changed it or someone has set it since, and the journal is just deleted. A journal that cannot be read
// whole is deleted with one log line and the policy left as it is; one whose policy could not be put back
// stays for the next call.
void RestoreAutoRunAfterKilledAttach();

}  // namespace kvph
