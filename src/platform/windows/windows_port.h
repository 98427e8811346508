#pragma once
// The Windows device backend: physical drives as "\\.\PhysicalDrive%d",
// ATA and SCSI pass-through by DeviceIoControl, queued transfers as
// overlapped SCSI pass-through on 16 slots, the bus type from the storage
// property query, mounted volumes from their disk extents, and disk arrival
// and removal from device-interface notifications.

#include <memory>
#include <string>

#include "transport/device_port.h"

namespace zorv::platform {

class DeviceIo;

// Never fails to construct on Windows; error stays empty.
std::unique_ptr<DevicePort> makeWindowsPort(std::string& error);

// The same on other device calls (tests play the driver with them).
std::unique_ptr<DevicePort> makeWindowsPort(std::shared_ptr<DeviceIo> io);

}  // namespace zorv::platform
