// The machine the library runs on, read through the platform seam and written as a machine description
// (docs/machine-format.md): drives with geometry, bus, rotation rate and partition tables, volumes with
// letters, labels, file systems, free space and read-only state, the other drive letters and the AutoRun
// policy. It only reads: drives are opened for reading, nothing is written, created or deleted.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

namespace kvph::tool {

struct CaptureSettings {
    std::uint32_t codePage = 1252;  // the ANSI code page of the machine
    std::wstring libraryPath;       // where the library is loaded from on that machine
};

nlohmann::ordered_json captureMachine(const CaptureSettings& settings);

// The letters of the drive roots the system lists, in capitals.
std::set<wchar_t> logicalDriveLetters();

}  // namespace kvph::tool
