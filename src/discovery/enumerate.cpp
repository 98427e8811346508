#include "discovery/enumerate.h"

namespace zorv {

bool EnumerateDrives(Context& ctx) {
  ctx.ucDriveCount = kNoDrive;
  ctx.ucSelDrive = kNoDrive;
  ctx.fgFamilyDrive = 0;
  return true;
}

bool selectPhysicalDrive(Context&, int) { return false; }

void applyStartupDefaults(Context& ctx) { ctx.fgVendorCdbEnable = 1; }

}  // namespace zorv
