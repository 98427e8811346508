#include "platform/windows/disk_extents.h"

#include <algorithm>
#include <cstring>

namespace zorv::platform {

std::vector<VolumeExtent> parseDiskExtents(const void* reply, size_t returned) {
  constexpr size_t header = offsetof(VOLUME_DISK_EXTENTS, Extents);
  std::vector<VolumeExtent> out;
  if (!reply || returned < header) return out;
  const auto* bytes = static_cast<const unsigned char*>(reply);
  DWORD stated = 0;
  std::memcpy(&stated, bytes + offsetof(VOLUME_DISK_EXTENTS, NumberOfDiskExtents), sizeof stated);
  const size_t held = (returned - header) / sizeof(DISK_EXTENT);
  const size_t count = std::min({static_cast<size_t>(stated), held, kMaxVolumeExtents});
  for (size_t i = 0; i < count; ++i) {
    DISK_EXTENT e;
    std::memcpy(&e, bytes + header + i * sizeof(DISK_EXTENT), sizeof e);
    out.push_back(VolumeExtent{e.DiskNumber, e.StartingOffset.QuadPart, e.ExtentLength.QuadPart});
  }
  return out;
}

}  // namespace zorv::platform
