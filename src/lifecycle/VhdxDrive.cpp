#include "lifecycle/VhdxDrive.h"

#include "frame/ExportGuard.h"
#include "frame/Log.h"
#include "frame/Text.h"
#include "inventory/PartitionInventory.h"
#include "platform/Platform.h"

namespace kvph {

namespace {

// Whether the text comes back unchanged from the ANSI code page: no default character and no best-fit
// substitute stood in for any of its characters.
bool survivesAnsi(const std::wstring& text, const std::string& ansi) {
    const std::optional<std::wstring> back = platform().ansiToWide(ansi);
    return back && *back == text;
}

}  // namespace

std::optional<std::string> vhdxScriptPath(const wchar_t* exportName, const std::wstring& path) {
    if (!isScriptSafeText(path)) {
        logExportFailure(exportName, L"the VHDX path holds a double quote or a control character.");
        return std::nullopt;
    }
    std::optional<std::string> ansi = scriptArgument(path);
    if (!ansi || !survivesAnsi(path, *ansi)) {
        logExportFailure(exportName, L"the VHDX path cannot be written unchanged in the ANSI code page.");
        return std::nullopt;
    }
    return ansi;
}

RecordedVhdxVolume recordedVhdxVolume(std::optional<int> diskNumber) {
    const std::wstring iniPath = inventory::PartitionIniPath();
    const std::optional<int> entry = inventory::FindVirtualDiskEntry(iniPath, diskNumber);
    if (!entry) {
        return {};
    }
    const std::wstring section = std::to_wstring(*entry);
    return {inventory::readText(iniPath, section, inventory::kLetterKey, L""),
            inventory::readText(iniPath, section, inventory::kLabelKey, L"")};
}

std::wstring recordedVhdxLetter() {
    return recordedVhdxVolume().letter;
}

ScriptOutcome runComposedScript(const std::optional<std::string>& script, const DiskpartSettings& settings) {
    if (!script) {
        logLine(L"(KvPartitionHelper)Script too long.\r\n");
        return ScriptOutcome::ScriptNotWritten;
    }
    return RunDiskpartScript(*script, settings);
}

}  // namespace kvph
