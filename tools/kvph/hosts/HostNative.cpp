// The simulated host: the library's own code runs on a simulated machine, installed as the platform for
// as long as the host lives. Off Windows it is the only host; on Windows `--machine` chooses it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "kvph/base/Host.h"
#include "kvph/machine/TracingPlatform.h"
#include "platform/Platform.h"
#include "sim/Machine.h"
#include "sim/format/DefaultMachine.h"
#include "sim/format/MachineJson.h"
#include "sim/windows/Text.h"

namespace kvph::tool {
namespace {

Exports libraryExports() {
    Exports exports;
    exports.listFixedPartition = &PH_ListFixedPartition;
    exports.createVHDX = &PH_CreateVHDX;
    exports.attachVHDX = &PH_AttachVHDX;
    exports.detachVHDX = &PH_DetachVHDX;
    exports.checkExistVHDX = &PH_CheckExistVHDX;
    exports.formatNTFS = &PH_FormatNTFS;
    exports.findUsableLabel = &PH_FindUsableLabel;
    exports.compactThenAttachVHDX = &PH_CompactThenAttachVHDX;
    exports.getVHDXVolumeLabel = &PH_GetVHDXVolumeLabel;
    exports.checkVHDXReadOnly = &PH_CheckVHDXReadOnly;
    exports.setHidden = &PH_SetHidden;
    exports.setNonHidden = &PH_SetNonHidden;
    return exports;
}

namespace fs = std::filesystem;

std::string systemError(int error) {
    return std::strerror(error);
}

// Image paths in a machine file are relative to that file's folder; written elsewhere they must be
// relative to the new file's folder so that it loads the same images.
void rebaseImage(std::string& image, const fs::path& from, const fs::path& to) {
    if (image.empty() || fs::path(image).is_absolute()) {
        return;
    }
    image = fs::absolute(from / image).lexically_normal().lexically_relative(to).generic_string();
}

sim::MachineModel rebasedImages(sim::MachineModel model, const fs::path& from, const fs::path& to) {
    for (sim::Disk& disk : model.disks) {
        rebaseImage(disk.image, from, to);
    }
    for (sim::VirtualDisk& vdisk : model.vdisks) {
        rebaseImage(vdisk.disk.image, from, to);
    }
    return model;
}

// Writes `text` to a new file next to `path` and renames it over `path`, so that a failed write leaves
// whatever was there (perhaps the machine file that was loaded) as it was.
bool replaceFile(const fs::path& path, const std::string& text, std::string& error) {
    fs::path temporary = path;
    temporary += ".kvph-save";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = path.string() + ": cannot be written: " + systemError(errno);
        return false;
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    std::error_code status;
    if (!out) {
        error = path.string() + ": cannot be written: " + systemError(errno);
        fs::remove(temporary, status);
        return false;
    }
    fs::rename(temporary, path, status);
    if (status) {
        error = path.string() + ": cannot be replaced: " + status.message();
        fs::remove(temporary, status);
        return false;
    }
    return true;
}

class NativeHost final : public Host {
public:
    NativeHost(sim::MachineModel model, fs::path baseDir)
        : machine_(std::move(model)), installed_(machine_), baseDir_(std::move(baseDir)) {}

    const Exports& exports() const override { return exports_; }

    std::vector<std::wstring> takeLog() override {
        const auto& log = machine_.log();
        std::vector<std::wstring> lines;
        for (; logSeen_ < log.size(); ++logSeen_) {
            lines.push_back(log[logSeen_].text);
        }
        return lines;
    }

    // Scripts are handed over as UTF-8, converted from the machine's code page.
    bool takeDiskpartRuns(std::vector<DiskpartRunRecord>& runs) override {
        const auto& all = machine_.diskpartRuns();
        for (; runsSeen_ < all.size(); ++runsSeen_) {
            runs.push_back(
                {sim::text::toUtf8(machine_.fromAnsi(all[runsSeen_].script)), all[runsSeen_].exitCode});
        }
        return true;
    }

    std::uint32_t codePage() override { return machine_.model().codePage; }

    std::wstring libraryFolder() override {
        const std::wstring& path = machine_.model().libraryPath;
        return path.substr(0, path.find_last_of(L'\\') + 1);
    }

    bool readFile(const std::wstring& path, std::string& bytes) override {
        auto content = machine_.fileBytes(path);
        if (content) {
            bytes = std::move(*content);
        }
        return content.has_value();
    }

    bool isAdministrator() override { return true; }

    std::wstring temporaryFolder() override { return machine_.model().windowsDirectory + L"\\Temp\\"; }

    bool removeEmptyFolder(const std::wstring& path) override { return machine_.removeEmptyFolder(path); }

    bool save(const std::string& path, std::string& error) override {
        if (fs::is_directory(path)) {
            error = path + ": is a folder";
            return false;
        }
        const fs::path folder = fs::absolute(path).parent_path();
        const sim::MachineModel saved = rebasedImages(machine_.model(), baseDir_, folder);
        return replaceFile(path, sim::machineToJson(saved).dump(2) + "\n", error);
    }

    bool startTrace(std::function<void(const std::string&)> report) override {
        traced_.reset();
        tracer_ = std::make_unique<TracingPlatform>(machine_, std::move(report));
        traced_ = std::make_unique<ScopedPlatform>(*tracer_);
        return true;
    }

private:
    sim::Machine machine_;
    ScopedPlatform installed_;
    fs::path baseDir_;  // the folder image paths are relative to
    std::unique_ptr<TracingPlatform> tracer_;
    std::unique_ptr<ScopedPlatform> traced_;
    Exports exports_ = libraryExports();
    std::size_t logSeen_ = 0;
    std::size_t runsSeen_ = 0;
};

}  // namespace

std::unique_ptr<Host> makeSimulatedHost(const std::string& machineFile, std::string& error) {
    if (machineFile.empty()) {
        return std::make_unique<NativeHost>(sim::defaultMachine(), fs::current_path());
    }
    std::error_code status;
    if (fs::is_directory(machineFile, status)) {
        error = machineFile + ": is a folder, not a machine file";
        return nullptr;
    }
    if (!fs::exists(machineFile, status)) {
        error = machineFile + ": cannot be read: " + (status ? status.message() : systemError(ENOENT));
        return nullptr;
    }
    try {
        return std::make_unique<NativeHost>(sim::loadMachineFile(machineFile),
                                            fs::absolute(machineFile).parent_path());
    } catch (const std::exception& failure) {
        const std::string message = failure.what();
        error = message.rfind(machineFile, 0) == 0 ? message : machineFile + ": " + message;
        return nullptr;
    }
}

}  // namespace kvph::tool
