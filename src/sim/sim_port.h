#pragma once
// The simulated drive bay as a device backend.

#include <memory>
#include <string>

#include "transport/device_port.h"

namespace zorv::sim {

// Opens the bay stored in dir (creating the default bay when dir does not
// exist). nullptr with error set when the bay cannot be used.
std::unique_ptr<DevicePort> openSimPort(const std::string& dir, std::string& error);

}  // namespace zorv::sim
