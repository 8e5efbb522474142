// What the VHDX drive's exports share: the checks that make a VHDX path or label safe to hand to
// diskpart, the drive's recorded letter, and running a composed script.
#pragma once

#include <optional>
#include <string>

#include "frame/DiskpartRunner.h"

namespace kvph {

// The VHDX path in the ANSI code page for a script, or nullopt after one log line: a path holding a
// double quote or a control character could add commands to the script, and a path that does not come
// back unchanged from the ANSI code page would make diskpart act on another file.
std::optional<std::string> vhdxScriptPath(const wchar_t* exportName, const std::wstring& path);

// The "Letter" and "Label Name" of the VHDX drive's section of Partition.ini (the first on `diskNumber`
// when the disk diskpart lists the drive on is known); both empty when there is none.
struct RecordedVhdxVolume {
    std::wstring letter;
    std::wstring label;
};
RecordedVhdxVolume recordedVhdxVolume(std::optional<int> diskNumber = std::nullopt);
std::wstring recordedVhdxLetter();

// Runs a composed script; a script that did not fit its buffer is refused as unwritten.
ScriptOutcome runComposedScript(const std::optional<std::string>& script, const DiskpartSettings& settings);

// Detaches the VHDX (whatever that gives), waits, and attaches it again: 1 when the attach ran and
// diskpart exited with 0.
int ReattachVHDX(const std::string& ansiPath, int readOnly);

}  // namespace kvph
