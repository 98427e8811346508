#pragma once
// The disks a volume lies on, from its VOLUME_DISK_EXTENTS reply. The count
// in the reply is believed only as far as the returned bytes hold extents.

#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorv::platform {

struct VolumeExtent {
  DWORD diskNumber = 0;
  int64_t startingOffset = 0;  // bytes
  int64_t length = 0;          // bytes
};

// At most this many extents are asked for and read (a volume spanning more
// disks than this is still found on the first ones).
constexpr size_t kMaxVolumeExtents = 16;

// Room for the reply with kMaxVolumeExtents extents.
constexpr size_t kVolumeExtentsReplySize = offsetof(VOLUME_DISK_EXTENTS, Extents) + kMaxVolumeExtents * sizeof(DISK_EXTENT);

// The extents of a reply of `returned` bytes: the smallest of the count the
// reply states, the extents the bytes hold, and kMaxVolumeExtents.
std::vector<VolumeExtent> parseDiskExtents(const void* reply, size_t returned);

}  // namespace zorv::platform
