#include "mediatest/raw_write_guard.h"

#include "discovery/brands.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"

namespace zorv {

bool isFamilyDrive(const Context& ctx, const DriveEntry& drive) {
  return startsWithAcceptedBrand(ctx, drive.strModel);
}

std::string rawWriteRefusal(Context& ctx, const DriveEntry& drive, uint64_t first, uint64_t end,
                            const RawWritePermission& permission) {
  if (!isFamilyDrive(ctx, drive)) return "It's not SSD disk";
  if (first >= end) return "Invalid parameter. (StartLBA > EndLBA)";
  if (end > drive.sectorCount())
    return formatText("ELBA: 0x%llX lies beyond the end of the drive (0x%llX sectors)",
                      static_cast<unsigned long long>(end), static_cast<unsigned long long>(drive.sectorCount()));

  int n = physicalDriveNumber(ctx, drive.strDevicePath);
  // Mounted file systems first (they are named), then the backend's claims:
  // swap, a RAID or volume-manager member, another program holding it.
  DriveUse use = driveUse(*ctx.port, permission.volumes, n, drive.strDevicePath);
  if (!use.mountPoints.empty()) {
    std::string list;
    for (const std::string& v : use.mountPoints) list += (list.empty() ? "" : ", ") + v;
    return formatText("Physical Drive %d holds mounted file systems (%s): it is never written raw", n, list.c_str());
  }
  if (!use.claim.empty())
    return formatText("Physical Drive %d is in use (%s): it is not written raw", n, use.claim.c_str());
  uint8_t bus = 0;
  IoOutcome open = ctx.port->queryBusType(drive.strDevicePath, bus);
  if (!open.ok()) return formatText("Physical Drive %d cannot be opened: %s", n, open.detail.c_str());
  if (ctx.port->name() != "sim" && !permission.userConsent)
    return "Raw writes destroy the data on the drive: they need the user's consent";
  return {};
}

}  // namespace zorv
