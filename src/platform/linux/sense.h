#pragma once
// SCSI sense data as the kernel hands it back: fixed format (70h/71h) or
// descriptor format (72h/73h). The transport keeps 18 bytes of fixed format
// whatever the device sent, so descriptor format is converted here.

#include <array>
#include <cstddef>
#include <cstdint>

#include "transport/device_port.h"

namespace zorv::platform {

// Sense key and additional sense code of either format; all zero when the
// buffer holds no sense data.
struct SenseSummary {
  bool present = false;
  bool descriptor = false;
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};

SenseSummary summarizeSense(const uint8_t* sense, size_t length);

// The first descriptor of `type` in descriptor-format sense that lies wholly
// inside `length` bytes, or nullptr.
const uint8_t* findSenseDescriptor(const uint8_t* sense, size_t length, uint8_t type);

// Converts `length` bytes of sense data to 18 bytes of fixed format:
//   0      70h (71h for deferred errors), VALID (bit 7) when INFORMATION holds a value
//   2      FILEMARK/EOM/ILI (7-5), SENSE KEY (3-0)
//   3-6    INFORMATION (from descriptor 00h when it fits in 32 bits)
//   7      0Ah (ADDITIONAL SENSE LENGTH)
//   8-11   COMMAND-SPECIFIC INFORMATION (descriptor 01h when it fits)
//   12-13  ASC, ASCQ
//   14     FIELD REPLACEABLE UNIT CODE (descriptor 03h)
//   15-17  SENSE-KEY SPECIFIC (descriptor 02h)
// An ATA Status Return descriptor (09h), when neither 00h nor 01h is present,
// is laid out as SAT's fixed format does: ERROR, STATUS, DEVICE, COUNT 7:0 in
// bytes 3-6; EXTEND / COUNT UPPER NONZERO / LBA UPPER NONZERO in byte 8;
// LBA 7:0, 15:8, 23:16 in bytes 9-11. Fixed format (and anything that is not
// descriptor format) is copied as it came; missing bytes read as zero.
void senseToFixed(const uint8_t* sense, size_t length, std::array<uint8_t, kSenseLength>& out);

}  // namespace zorv::platform
