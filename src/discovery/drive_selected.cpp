#include "discovery/drive_selected.h"

#include "transport/message.h"

namespace zorv {

bool checkDriveSelected(Context& ctx) {
  if (ctx.hasSelectedDrive()) return true;
  PrintMessage(ctx, "No drive is selected");
  return false;
}

}  // namespace zorv
