#include "diagnostics/vendor_maintenance.h"

#include "diagnostics/vendor_command.h"
#include "discovery/drive_selected.h"
#include "transport/message.h"

namespace zorv {

bool TriggerDiagnostic(Context& ctx) {
  if (!checkDriveSelected(ctx)) return false;
  bool ok = SendVendorCommand(ctx, kDiagnosticCode, kDiagnosticTriggerParameter);
  PrintMessage(ctx, "%s", ok ? kDiagnosticTriggerDone : kDiagnosticTriggerFail);
  return ok;
}

bool CleanSmart(Context& ctx) {
  if (!checkDriveSelected(ctx)) return false;
  bool ok = SendVendorCommand(ctx, kSmartCleanCode, kSmartCleanParameter);
  AppendMessage(ctx, ok ? kSmartCleanDone : kSmartCleanFail, ctx.messagePane());
  return ok;
}

}  // namespace zorv
