#include "kvph/commands/CaptureCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "frame/Utf8.h"
#include "kvph/machine/MachineCapture.h"

namespace kvph::tool {
namespace {

// Written next to the target and renamed over it, so that a failed write leaves no half a machine.
bool writeAtomically(const std::filesystem::path& target, const std::string& text, std::string& why) {
    std::filesystem::path temporary = target;
    temporary += ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            why = std::strerror(errno);
            return false;
        }
        out << text;
        out.close();
        if (!out) {
            why = "the write failed";
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, target, renamed);
    if (renamed) {
        why = renamed.message();
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    return true;
}

}  // namespace

CommandResult captureMachineFile(Host& host, const std::vector<std::wstring>& arguments) {
    CaptureSettings settings;
    settings.codePage = host.codePage();
    settings.libraryPath = host.libraryFolder() + L"KvPartitionHelper.dll";
    const std::string text = captureMachine(settings).dump(2) + "\n";
    const std::string file = utf8::encode(arguments[0]);
    std::string why;
    if (!writeAtomically(std::filesystem::u8path(file), text, why)) {
        std::cerr << "kvph: cannot write " << file << ": " << why << "\n";
        return {0, std::nullopt};
    }
    return {1, file};
}

}  // namespace kvph::tool
