#include "MachineJson.h"

namespace sim {

Disk diskFromJson(const nlohmann::json&, const std::string& where, const std::string&, bool) {
    throw MachineFormatError(where + ": disks are not supported yet");
}

nlohmann::json diskToJson(const Disk&, bool) { return nlohmann::json::object(); }

}  // namespace sim
