#pragma once
// What sysfs tells about a disk: the bus it hangs on and its SCSI generic
// (sg) node. The root is injectable so that a fake tree in a temporary
// directory stands in for /sys in tests.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorv::platform {

// Bus type from a disk's resolved device path (the part below the sysfs
// root, e.g. "/devices/pci0000:00/0000:00:1f.2/ata1/host0/.../block/sda"):
// a component "usb<n>" -> 7 (USB: the disk sits behind a bridge, whatever
// else the path holds), else "ata<n>" -> 11 (SATA), else 0.
uint8_t busTypeFromDevicePath(std::string_view devicePath);

// Kernel name of the disk behind a device path ("/dev/sda" -> "sda"),
// following symlinks; empty when the name is not a plausible disk name.
std::string diskNameOf(const std::string& devicePath);

// A bus type given for every disk of one SCSI host driver, for disks whose
// sysfs path names neither ata nor usb although they answer as a drive on
// that bus: a user-space SCSI target on the loopback host ("tcm_loopback")
// serving a drive behind a SAT bridge, in tests.
struct HostBusType {
  std::string hostDriver;  // the host's proc_name
  uint8_t busType = 0;
};

// "DRIVER=BUS[,DRIVER=BUS...]" with BUS one of sata, ata, usb (the
// ZORV_SCSI_HOST_BUS environment variable). False, with error naming the
// part, for anything else; an empty text gives an empty list.
bool parseHostBusTypes(std::string_view text, std::vector<HostBusType>& out, std::string& error);

class Sysfs {
 public:
  explicit Sysfs(std::string root = "/sys", std::vector<HostBusType> hostBusTypes = {})
      : root_(std::move(root)), hostBusTypes_(std::move(hostBusTypes)) {}

  // Bus type of disk `name`: from its device path; when that names no bus,
  // the one given for its SCSI host's driver (its proc_name); 0 when sysfs
  // does not know the disk.
  uint8_t busType(const std::string& name) const;

  // "sgN" of disk `name`, from <root>/block/<name>/device/scsi_generic/.
  std::optional<std::string> genericName(const std::string& name) const;

  const std::string& root() const { return root_; }

 private:
  std::string root_;
  std::vector<HostBusType> hostBusTypes_;
};

}  // namespace zorv::platform
