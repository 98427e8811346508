#pragma once
// The volume tab's work without its window: "Parsing Drive" finds the
// mounted volumes that lie on accepted drives of the family, removes what
// earlier runs left behind and asks each volume's free space; a ".sc3"
// script is then loaded into every volume's plan, with a summary per volume.
// The list's columns and rows are given as texts, for the window's list and
// for zorvctl.
//
// A volume is a mounted file system, named by its mount point where the
// window shows a volume letter ("Disk /media/data:"), found on a drive of the
// drive table through readVolumes (discovery/volumes.h): the drive's own
// partitions for a real disk, the loop device that is a simulated drive's
// media for the bay.

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/volumes.h"
#include "transport/context.h"
#include "volume/sc3_script.h"

namespace zorv {

constexpr size_t kMaxVolumes = 24;  // one per volume letter from "C" to "Z"

struct VolumeRecord {
  std::string mountPoint;
  int physicalDrive = -1;  // the physical drive number of its drive
  DriveEntry drive;        // a copy of the drive's table entry
  std::string model;       // up to 40 characters
  std::string serial;      // up to 20 characters
  uint64_t capacitySectors = 0;
  uint64_t freeBytes = 0;  // "Residual"
  Sc3Script plan;          // the script's plan once one is loaded
};

// "Parsing Drive": the volumes of map that lie on a drive of ctx's drive
// table, at most kMaxVolumes, each printed with its leftover test file
// deleted ("Delete %s\r\n---------\r\n") and its free space asked
// ("GetDiskFreeSpaceEx Error: %d\r\n" when it cannot be).
std::vector<VolumeRecord> ParseVolumes(Context& ctx, const VolumeMap& map, MessageSink& box);

// Copies the script's plan into every volume and prints the summary of each
// ("Type: %d\r\nDisk %s:\r\n..."). An empty volume list takes the script too.
void LoadVolumePlan(std::vector<VolumeRecord>& volumes, const Sc3Script& script, MessageSink& box);

// Why the script must not run on a volume (it needs more than the volume's
// free space); empty when it may.
std::string volumeRefusal(const VolumeRecord& volume, const Sc3Script& script);

// The list's column titles for a script type (0: no script loaded, the
// volume's own columns only) and one volume's row.
std::vector<std::string> volumeListColumns(int type);
std::vector<std::string> volumeListRow(const VolumeRecord& volume, int type);

}  // namespace zorv
