#pragma once
// The registers an ATA command returns through a SCSI-ATA translation: found
// in the sense data of its ATA PASS-THROUGH(16) (built by transport/sat_cdb.h)
// and written into the request's task files. Pure functions on bytes; the
// SG_IO plumbing lives in linux_port.cpp.

#include <array>
#include <cstddef>
#include <cstdint>

#include "transport/device_port.h"
#include "transport/sat_cdb.h"

namespace zorv::platform {

// The registers the drive returned, as read from sense data. Registers the
// sense data does not carry keep the values they were given before parsing
// (AtaReturn::sent: what the command sent), so that writing them back changes
// nothing the drive did not report.
struct AtaReturn {
  bool extend = false;
  uint8_t error = 0;
  uint8_t status = 0;
  uint8_t device = 0;
  std::array<uint8_t, 2> count{};  // [0] = 7:0, [1] = 15:8
  std::array<uint8_t, 6> lba{};    // [0] = 7:0 ... [5] = 47:40
  // False when some low-order register (count 7:0, LBA 23:0, device) was not
  // in the sense data: the pre-6.11 kernel layout loses LBA 15:8 and 23:16
  // past the 18th byte.
  bool lowKnown = true;
  // False when the high-order registers (count 15:8, LBA 47:24) are not
  // zero but their values are not in the sense data: fixed format carries
  // only "non-zero" flags for them.
  bool highKnown = true;

  // The registers as `request` sent them: the starting point of a parse.
  static AtaReturn sent(const AtaPassThroughRequest& request);
};

enum class SenseLayout : uint8_t {
  None,           // no ATA registers in this sense data
  Descriptor,     // 72h/73h with an ATA Status Return descriptor (09h)
  FixedStandard,  // 70h/71h, registers in INFORMATION (3-6) and COMMAND-SPECIFIC (8-11)
  FixedLegacy,    // 70h/71h as Linux wrote it before 6.11: registers at 8-11, LBA at 17-19
};

// Finds the ATA registers in `length` bytes of sense data (bounded by the
// sense's own ADDITIONAL SENSE LENGTH as well) and overwrites those of `out`
// that it carries. Returns the layout found; `out` is untouched for None.
SenseLayout parseAtaReturn(const uint8_t* sense, size_t length, AtaReturn& out);

// Writes the returned registers into the request's task files, the way the
// ATA pass-through request reports them (byte 6 status, byte 0 error, ...;
// previous task file bytes 0 and 5-7 are zero).
void applyAtaReturn(const AtaReturn& ret, AtaPassThroughRequest& request);

}  // namespace zorv::platform
