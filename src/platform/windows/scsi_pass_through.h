#pragma once
// SCSI_PASS_THROUGH_DIRECT with its sense area from the transport's SCSI
// request and back. The record is what the pass-through request is given as
// input (the header) and output (header and sense area); the data go
// straight to and from the request's own buffer.

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>
#include <string>

#include "transport/device_port.h"

namespace zorv::platform {

// Room for more than the 18 bytes of fixed-format sense the transport keeps,
// so that a longer reply is cut here, not by the driver.
constexpr size_t kSenseAreaSize = 32;

struct ScsiPassThroughRecord {
  SCSI_PASS_THROUGH_DIRECT header;
  UCHAR sense[kSenseAreaSize];
};

// Clears the record and fills the header: Length = sizeof the header,
// CdbLength, SenseInfoLength (the request's, at most the sense area),
// DataIn, DataTransferLength, TimeOutValue, DataBuffer and the CDB as
// requested; SenseInfoOffset = the sense area's offset in the record.
// Refuses (false, `error` set) a CDB length outside 1..16 or data without a
// buffer.
bool buildScsiPassThroughDirect(const ScsiRequest& request, ScsiPassThroughRecord& record, std::string& error);

// After the request completed: the SCSI status, the sense bytes the driver
// returned (the rest of the 18 zero) and the bytes moved (the returned
// length, never more than was asked for).
void readScsiPassThroughDirect(const ScsiPassThroughRecord& record, ScsiRequest& request);

}  // namespace zorv::platform
