#include "platform/windows/ata_pass_through.h"

#include <algorithm>
#include <cstring>

namespace zorv::platform {

void buildAtaPassThroughDirect(const AtaPassThroughRequest& request, ATA_PASS_THROUGH_DIRECT& header) {
  std::memset(&header, 0, sizeof header);
  header.Length = sizeof header;
  header.AtaFlags = request.ataFlags;
  header.DataTransferLength = request.dataTransferLength;
  header.TimeOutValue = request.timeOutValue;
  header.DataBuffer = request.dataTransferLength ? request.dataBuffer : nullptr;
  std::copy(request.currentTaskFile.begin(), request.currentTaskFile.end(), header.CurrentTaskFile);
  std::copy(request.previousTaskFile.begin(), request.previousTaskFile.end(), header.PreviousTaskFile);
}

void readAtaPassThroughDirect(const ATA_PASS_THROUGH_DIRECT& header, AtaPassThroughRequest& request) {
  std::copy(std::begin(header.CurrentTaskFile), std::end(header.CurrentTaskFile), request.currentTaskFile.begin());
  std::copy(std::begin(header.PreviousTaskFile), std::end(header.PreviousTaskFile), request.previousTaskFile.begin());
  request.bytesTransferred = std::min<uint32_t>(header.DataTransferLength, request.dataTransferLength);
}

}  // namespace zorv::platform
