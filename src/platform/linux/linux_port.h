#pragma once
// The Linux device backend: SG_IO on /dev/sdX (ATA commands as SAT ATA
// PASS-THROUGH(16)), bus type from sysfs, queued transfers on /dev/sgN,
// hot plug from udev.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/sysfs.h"

#include "platform/linux/udev_events.h"
#include "transport/device_port.h"

namespace zorv::platform {

// Where the backend looks; tests point both at a temporary directory.
struct LinuxPortOptions {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  // Bus types by SCSI host driver for disks whose path names no bus.
  std::vector<HostBusType> hostBusTypes;
  // Opens the device event source, handing it the function to call with the
  // kernel name of each removed disk; unset: the udev monitor.
  std::function<std::unique_ptr<DeviceEventSource>(RemovalHook)> openEvents;
};

// Never fails to construct on Linux; error is set when it does. The
// default options take hostBusTypes from the ZORV_SCSI_HOST_BUS
// environment variable ("tcm_loopback=usb"); a malformed value is ignored
// and named in error.
std::unique_ptr<DevicePort> makeLinuxPort(std::string& error);
std::unique_ptr<DevicePort> makeLinuxPort(const LinuxPortOptions& options, std::string& error);

}  // namespace zorv::platform
