#pragma once
// What sysfs tells about a disk: the bus it hangs on and its SCSI generic
// (sg) node. The root is injectable so that a fake tree in a temporary
// directory stands in for /sys in tests.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zorv::platform {

// Bus type from a disk's resolved device path (the part below the sysfs
// root, e.g. "/devices/pci0000:00/0000:00:1f.2/ata1/host0/.../block/sda"):
// a component "usb<n>" -> 7 (USB: the disk sits behind a bridge, whatever
// else the path holds), else "ata<n>" -> 11 (SATA), else 0.
uint8_t busTypeFromDevicePath(std::string_view devicePath);

// Kernel name of the disk behind a device path ("/dev/sda" -> "sda"),
// following symlinks; empty when the name is not a plausible disk name.
std::string diskNameOf(const std::string& devicePath);

class Sysfs {
 public:
  explicit Sysfs(std::string root = "/sys") : root_(std::move(root)) {}

  // Bus type of disk `name`: 0 when sysfs does not know the disk.
  uint8_t busType(const std::string& name) const;

  // "sgN" of disk `name`, from <root>/block/<name>/device/scsi_generic/.
  std::optional<std::string> genericName(const std::string& name) const;

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace zorv::platform
