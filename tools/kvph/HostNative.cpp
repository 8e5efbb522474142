// The simulated host: the library's own code runs on a simulated machine, installed as the platform for
// as long as the host lives. Off Windows it is the only host; on Windows `--machine` chooses it.
#include <fstream>
#include <utility>

#include "Host.h"
#include "platform/Platform.h"
#include "sim/DefaultMachine.h"
#include "sim/Machine.h"
#include "sim/MachineJson.h"
#include "sim/SimText.h"

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

class NativeHost final : public Host {
public:
    explicit NativeHost(sim::MachineModel model) : machine_(std::move(model)), installed_(machine_) {}

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

    bool save(const std::string& path, std::string& error) override {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << sim::machineToJson(machine_.model()).dump(2) << "\n";
        out.close();
        if (!out) {
            error = path + ": cannot be written";
            return false;
        }
        return true;
    }

private:
    sim::Machine machine_;
    ScopedPlatform installed_;
    Exports exports_ = libraryExports();
    std::size_t logSeen_ = 0;
    std::size_t runsSeen_ = 0;
};

}  // namespace

std::unique_ptr<Host> makeSimulatedHost(const std::string& machineFile, std::string& error) {
    try {
        return std::make_unique<NativeHost>(machineFile.empty() ? sim::defaultMachine()
                                                                : sim::loadMachineFile(machineFile));
    } catch (const std::exception& failure) {
        error = failure.what();
        return nullptr;
    }
}

}  // namespace kvph::tool
