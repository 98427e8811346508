#pragma once
// Which mounted volumes lie on which physical drive. A volume is named by its
// mount point. On Linux the map comes from /proc/self/mountinfo; physical
// drive n is the n-th whole SCSI-class disk (/dev/sda = 0), so a mount whose
// device is major 8, minor 16n..16n+15 (or whose source is /dev/sd<n>...) is on
// drive n. A simulated bay may carry a file of the same format, "mountinfo",
// to give its drives volumes.

#include <string>
#include <string_view>
#include <vector>

#include "transport/device_port.h"

namespace zorv {

struct VolumeEntry {
  int disk = -1;  // physical drive number 0..7
  std::string mountPoint;
};
using VolumeMap = std::vector<VolumeEntry>;

// Parses mountinfo text; lines that do not parse or lie on no drive 0..7 are skipped.
VolumeMap parseVolumeMap(std::string_view mountinfo);
// Reads and parses a mountinfo file; an empty map when it cannot be read.
VolumeMap readVolumeMap(const std::string& path);
// Mount points on one drive, in map order, each once.
std::vector<std::string> volumesOnDisk(const VolumeMap& map, int disk);

// Where the volume map of a backend comes from: the bay's "mountinfo" file for
// the simulated bay, /proc/self/mountinfo for the OS.
std::string mountInfoPathFor(const DevicePort& port, const std::string& simDir);

}  // namespace zorv
