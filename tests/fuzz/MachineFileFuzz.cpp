// Feeds arbitrary bytes as a machine description: load, run the library's read-only queries on the
// machine, save, load the saved text again and save it once more. A description the loader accepts must
// not crash or hang the simulator or the library, and saving must keep everything the loader reads: the
// two saved texts are the same.
//
// Descriptions that name disk images are skipped: images are host files, outside what the input holds.
// Files are held in memory at their declared size, so descriptions declaring more than kMaxFileBytes of
// files in all are skipped as well.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "KvPartitionHelper.h"
#include "sim/Machine.h"
#include "sim/format/MachineJson.h"

namespace {

using json = nlohmann::json;

constexpr std::int64_t kMaxFileBytes = std::int64_t{1} << 20;
constexpr char kBaseDir[] = "/nonexistent";

struct Bounds {
    bool namesImage = false;
    std::int64_t fileBytes = 0;
};

void measure(const json& value, Bounds& bounds) {
    if (value.is_object()) {
        bounds.namesImage = bounds.namesImage || value.contains("image");
        const auto size = value.find("size");
        if (size != value.end() && size->is_number_integer()) {
            bounds.fileBytes += std::max<std::int64_t>(
                0, std::min<std::int64_t>(size->get<std::int64_t>(), kMaxFileBytes + 1));
        }
    }
    if (value.is_structured()) {
        for (const json& item : value) {
            measure(item, bounds);
        }
    }
}

std::string saved(const sim::MachineModel& model) {
    return sim::machineToJson(model).dump();
}

void queryLibrary(sim::Machine& machine) {
    kvph::ScopedPlatform installed(machine);
    PH_ListFixedPartition();
    wchar_t letter[KVPH_TEXT_UNITS] = {};
    PH_FindUsableLabel(letter);
    for (std::size_t i = 0; i < machine.model().vdisks.size() && i < 2; ++i) {
        const std::wstring path = machine.model().vdisks[i].path;
        PH_CheckExistVHDX(path.c_str());
        int readOnly = 0;
        PH_CheckVHDXReadOnly(path.c_str(), &readOnly);
        PH_GetVHDXVolumeLabel(path.c_str(), letter);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const json document = json::parse(data, data + size, nullptr, false, true);
    if (document.is_discarded()) {
        return 0;
    }
    Bounds bounds;
    measure(document, bounds);
    if (bounds.namesImage || bounds.fileBytes > kMaxFileBytes) {
        return 0;
    }

    sim::MachineModel model;
    try {
        model = sim::machineFromJson(document, kBaseDir);
    } catch (const sim::MachineFormatError&) {
        return 0;
    }
    sim::Machine machine(std::move(model));
    queryLibrary(machine);

    const std::string first = saved(machine.model());
    const std::string second = saved(sim::machineFromJson(json::parse(first), kBaseDir));
    if (first != second) {
        __builtin_trap();
    }
    return 0;
}
