// Loading and saving the machine description (machine-format.md).
#pragma once

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/machine/Model.h"

namespace sim {

// A machine file that does not follow the format; the message names the offending key's path.
struct MachineFormatError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// `baseDir` is the host folder that relative `image` paths are resolved against.
MachineModel machineFromJson(const nlohmann::json& json, const std::string& baseDir);
MachineModel loadMachineFile(const std::string& hostPath);
nlohmann::json machineToJson(const MachineModel& model);

// One disk object; `where` is its JSON path for messages ("disks[2]"). A vdisk's disk has no number,
// drive type or bus (`numbered` false).
Disk diskFromJson(const nlohmann::json& json, const std::string& where, const std::string& baseDir,
                  bool numbered);
nlohmann::json diskToJson(const Disk& disk, bool numbered);

}  // namespace sim
