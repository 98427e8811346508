#pragma once
// What the SAT bridge of a USB enclosure does with ATA PASS-THROUGH(16)
// (85h) and (12) (A1h): decode the protocol, direction and length fields into
// an ATA command, refuse what a bridge refuses, and turn the drive's answer
// into SCSI status and sense data.
//
//   byte 1: MULTIPLE_COUNT(7:5) PROTOCOL(4:1) EXTEND(0)
//   byte 2: OFF_LINE(7:6) CK_COND(5) T_TYPE(4) T_DIR(3) BYTE_BLOCK(2) T_LENGTH(1:0)
//   (16)  3 Features 15:8, 4 Features 7:0, 5 Count 15:8, 6 Count 7:0,
//         7 LBA 31:24, 8 LBA 7:0, 9 LBA 39:32, 10 LBA 15:8, 11 LBA 47:40,
//         12 LBA 23:16, 13 Device, 14 Command
//   (12)  3 Features, 4 Count, 5 LBA 7:0, 6 LBA 15:8, 7 LBA 23:16, 8 Device, 9 Command
//
// The bridge refuses (CHECK CONDITION, ILLEGAL REQUEST, INVALID FIELD IN CDB
// 5/24/00): reserved and queued protocols (2, 7, 12-15), T_LENGTH 3, a data
// protocol without a length, a protocol whose direction contradicts T_DIR or
// the host's data direction, and a DMA transfer longer than the host's
// buffer. Protocols 0 and 1 (hardware and software reset) reset the device
// instead of sending the command (the controller drops the drive's volatile
// state) and return GOOD, with CK_COND the reset signature in the registers.
// For PIO the device paces the data in DRQ blocks, so the host's transfer
// length bounds the data phase.

#include <cstdint>
#include <span>

#include "sim/sim_types.h"

namespace zorv::sim {

struct SatRequest {
  enum class Outcome : uint8_t { Execute, ResetOnly, Refused } outcome = Outcome::Refused;
  uint8_t protocol = 0;
  bool ckCond = false;
  AtaCommand command;
  uint32_t ataLength = 0;  // bytes of the ATA data phase
  uint8_t senseKey = kSenseIllegalRequest;
  uint8_t asc = 0x24;
  uint8_t ascq = 0x00;
};

bool isSatPassThrough(std::span<const uint8_t> cdb);

SatRequest decodeSatCdb(std::span<const uint8_t> cdb, DataDir hostDir, uint32_t hostLength);

// The bridge's answer for the drive's reply to a decoded request.
void satResponse(const SatRequest& request, const AtaReply& ata, ScsiReply& out);

}  // namespace zorv::sim
