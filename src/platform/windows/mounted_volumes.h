#pragma once
// The volumes with a drive letter and a file system that lie on a disk,
// found from each letter's disk extents, and what to tell a person who
// wants to write raw sectors on that disk.

#include <windows.h>

#include <string>
#include <vector>

namespace zorv::platform {

struct MountedVolume {
  char letter = 0;
  std::string fileSystem;  // "NTFS", "FAT32", ...
};

// Letters A..Z whose volume has an extent on disk number `disk` and a file
// system mounted. Volumes mounted only in a folder (no letter) are not seen.
std::vector<MountedVolume> mountedVolumesOnDisk(DWORD disk);

// "volume E: (NTFS) on this drive is mounted: ..." with what to do; empty
// for no volumes.
std::string mountedVolumesAdvice(const std::vector<MountedVolume>& volumes);

}  // namespace zorv::platform
