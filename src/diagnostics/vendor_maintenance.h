#pragma once
// Two maintenance commands the engineering window starts from its menus and
// zorvctl from "diag trigger" / "diag clean-smart": arming the controller's
// diagnostics (vendor code 57h, parameter 01h) and clearing its SMART data
// (56h 03h). Both are single command sectors written with WRITE BUFFER and
// no read-back; each says on the message pane whether the drive took it.

#include "transport/context.h"

namespace zorv {

constexpr uint8_t kDiagnosticCode = 0x57;
constexpr uint8_t kDiagnosticTriggerParameter = 0x01;
constexpr uint8_t kSmartCleanCode = 0x56;
constexpr uint8_t kSmartCleanParameter = 0x03;

constexpr const char* kDiagnosticTriggerDone = "Diagnostic Enable.......";
constexpr const char* kDiagnosticTriggerFail = "Command Fail";
constexpr const char* kSmartCleanDone = "SMART Clean Good\r\nPlease remove drive, then plug again\r\n";
constexpr const char* kSmartCleanFail = "SMART Clean Fail\r\n";

// Sends the trigger to the selected drive and prints kDiagnosticTriggerDone
// or kDiagnosticTriggerFail. False, with "No drive is selected", when there
// is no drive.
bool TriggerDiagnostic(Context& ctx);

// Sends the SMART clean-up to the selected drive and appends
// kSmartCleanDone to the pane; a drive that refuses it gets kSmartCleanFail
// instead, so that nobody unplugs a drive whose data were not cleared.
bool CleanSmart(Context& ctx);

}  // namespace zorv
