#pragma once
// ATA_PASS_THROUGH_DIRECT from the transport's ATA request and back: the
// register images go in as the transport built them and come back with the
// drive's status, error and the LBA it reached. Plain values only, so that
// the bytes can be checked without a drive.

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include "transport/device_port.h"

namespace zorv::platform {

// Length = sizeof the header; AtaFlags, DataTransferLength, TimeOutValue
// and DataBuffer as requested; CurrentTaskFile and PreviousTaskFile the
// request's register images; every other member zero.
void buildAtaPassThroughDirect(const AtaPassThroughRequest& request, ATA_PASS_THROUGH_DIRECT& header);

// After the request completed: the returned register images (Error/Status
// in bytes 0 and 6 of the current task file, the LBA reached in bytes 2-4
// of both) and the bytes moved (the returned length, never more than was
// asked for).
void readAtaPassThroughDirect(const ATA_PASS_THROUGH_DIRECT& header, AtaPassThroughRequest& request);

}  // namespace zorv::platform
