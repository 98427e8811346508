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

// Mounts in mountinfo text that lie on the block device holding a drive's
// sectors (DevicePort::blockDevicePath) or on one of its partitions: a mount's
// device number is the disk's, or a partition's whose whole disk (sysfs,
// <sysRoot>/dev/block/<major>:<minor>) is the disk. This is how a simulated
// drive whose media is a loop device gets the file systems mounted from it,
// and how a real disk gets them whatever its partitions' device numbers.
VolumeMap parseVolumesOnBlockDevices(const DevicePort& port, std::string_view mountinfo,
                                     const std::string& sysRoot = "/sys");
// Every volume of a backend: the map of the mountinfo file at mountInfoPath
// (readVolumeMap) joined with the system's own mounts on the drives' block
// devices (/proc/self/mountinfo), each mount point once per drive.
VolumeMap readVolumes(const DevicePort& port, const std::string& mountInfoPath);

// Where the volume map of a backend comes from: the bay's "mountinfo" file for
// the simulated bay, /proc/self/mountinfo for the OS.
std::string mountInfoPathFor(const DevicePort& port, const std::string& simDir);

// What holds a drive, for the guard of raw media writes (media tests,
// patterns, workloads), which must refuse a drive in use. Discovery,
// identify, diagnostics and firmware run on a drive in use and never ask.
struct DriveUse {
  std::vector<std::string> mountPoints;  // file systems mounted from the drive or its partitions
  std::string claim;                     // otherwise the system's claim on it, as the backend words it
  bool inUse() const { return !mountPoints.empty() || !claim.empty(); }
};

// Physical drive `disk` at `path`: its mount points in `volumes`, else the
// backend's exclusive probe (swap, a RAID or volume-manager member, a file
// system the map did not name, another program's claim).
DriveUse driveUse(DevicePort& port, const VolumeMap& volumes, int disk, const std::string& path);

}  // namespace zorv
