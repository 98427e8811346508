#pragma once
// Drive enumeration and selection.

#include "transport/context.h"

namespace zorv {

// Rebuilds DriveTable, ucDriveCount, ucSelDrive and fgFamilyDrive.
bool EnumerateDrives(Context& ctx);
// Makes the accepted drive on physical drive n the selected one.
bool selectPhysicalDrive(Context& ctx, int n);
// The process-wide defaults the program applies at start-up.
void applyStartupDefaults(Context& ctx);

}  // namespace zorv
