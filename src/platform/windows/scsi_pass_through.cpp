#include "platform/windows/scsi_pass_through.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace zorv::platform {

bool buildScsiPassThroughDirect(const ScsiRequest& request, ScsiPassThroughRecord& record, std::string& error) {
  error = scsiRequestProblem(request);
  if (!error.empty()) return false;
  std::memset(&record, 0, sizeof record);
  SCSI_PASS_THROUGH_DIRECT& h = record.header;
  h.Length = sizeof h;
  h.CdbLength = request.cdbLength;
  h.SenseInfoLength = static_cast<UCHAR>(std::min<size_t>(request.senseInfoLength, kSenseAreaSize));
  h.DataIn = request.dataIn;
  h.DataTransferLength = request.dataTransferLength;
  h.TimeOutValue = request.timeOutValue;
  h.DataBuffer = request.dataTransferLength ? request.dataBuffer : nullptr;
  h.SenseInfoOffset = offsetof(ScsiPassThroughRecord, sense);
  std::copy(request.cdb.begin(), request.cdb.begin() + request.cdbLength, h.Cdb);
  return true;
}

void readScsiPassThroughDirect(const ScsiPassThroughRecord& record, ScsiRequest& request) {
  const SCSI_PASS_THROUGH_DIRECT& h = record.header;
  request.scsiStatus = h.ScsiStatus;
  request.sense.fill(0);
  // The driver lowers SenseInfoLength to what it wrote.
  const size_t returned = std::min<size_t>({h.SenseInfoLength, kSenseAreaSize, request.sense.size()});
  std::copy(record.sense, record.sense + returned, request.sense.begin());
  request.bytesTransferred = std::min<uint32_t>(h.DataTransferLength, request.dataTransferLength);
}

}  // namespace zorv::platform
