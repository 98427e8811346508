// The service time of a command under the drive's latency model. Reads of
// the media cost more when they do not continue the previous read, and
// vary with their LBA, so that a random access test meets what it meets on
// a real drive.

#include "sim/controller_parts.h"
#include "sim/sim_drive.h"

namespace zorv::sim::detail {

namespace {

// Where the last media read ended; gone with the next power cycle.
struct ReadPosition {
  uint64_t next = ~uint64_t{0};
};

}  // namespace

uint32_t mediaReadLatencyUs(SimDrive& drive, uint64_t lba, uint32_t count, uint32_t bytes) {
  ReadPosition& position = drive.runtime<ReadPosition>();
  bool sequential = position.next == lba;
  position.next = lba + count;
  return drive.record().latency.forRead(bytes, lba, sequential);
}

uint32_t scsiLatencyUs(SimDrive& drive, std::span<const uint8_t> cdb, uint32_t bytes) {
  ScsiTransfer t;
  if (bytes != 0 && decodeScsiTransfer(cdb, t) && !t.write) return mediaReadLatencyUs(drive, t.lba, t.count, bytes);
  return drive.record().latency.forBytes(bytes);
}

}  // namespace zorv::sim::detail
