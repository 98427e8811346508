#pragma once
// ATA commands over SCSI: the register image of an ATA pass-through request
// becomes an ATA PASS-THROUGH(16) CDB, and the registers the drive returns
// come back in the sense data (CK_COND is always set). Pure functions on
// bytes; the SG_IO plumbing lives in linux_port.cpp.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/device_port.h"

namespace zorv::platform {

using SatCdb = std::array<uint8_t, 16>;

// The most one ATA command can move: 65,536 sectors of 512 bytes.
constexpr uint32_t kMaxAtaTransferBytes = 65536u * 512u;

// SAT PROTOCOL field values used here.
enum SatProtocol : uint8_t {
  kSatNonData = 3,
  kSatPioDataIn = 4,
  kSatPioDataOut = 5,
  kSatDma = 6,
  kSatFpdma = 12,
};

// How the built CDB moves its data (for the sg_io_hdr).
enum class SatDirection : uint8_t { None, FromDevice, ToDevice };

struct SatCommand {
  SatCdb cdb{};
  SatDirection direction = SatDirection::None;
  uint32_t length = 0;        // bytes
  uint32_t timeoutMs = 0;     // 0: the kernel's default
};

// Builds the CDB for `request`. Returns false, with `error` set and `out`
// untouched, when the request cannot travel as ATA PASS-THROUGH(16): a data
// length without a direction (or with both), a length that is not whole
// 512-byte sectors or exceeds what one ATA command moves, data without a
// buffer, or a queued (FPDMA) opcode sent without the DMA flag.
// Not carried: current task file byte 7 (the console's data byte; SAT has no
// field for it, it is dropped), the DRDY-required flag (the translation layer
// checks readiness itself), previous task file bytes 5-7, and every previous
// byte unless the 48-bit flag is set (a 28-bit command has no high-order
// registers; they are sent as zero).
// T_LENGTH names the count register (FEATURES for FPDMA) as holding the
// length in 512-byte blocks; the SCSI layer moves the header's byte count
// whatever that register holds.
bool buildSatPassThrough16(const AtaPassThroughRequest& request, SatCommand& out, std::string& error);

// True for the NCQ opcodes that need the FPDMA protocol.
bool isFpdmaOpcode(uint8_t opcode);

// The registers the drive returned, as read from sense data.
struct AtaReturn {
  bool extend = false;
  uint8_t error = 0;
  uint8_t status = 0;
  uint8_t device = 0;
  std::array<uint8_t, 2> count{};  // [0] = 7:0, [1] = 15:8
  std::array<uint8_t, 6> lba{};    // [0] = 7:0 ... [5] = 47:40
  // False when the sense data could not carry every register (fixed format
  // holds no high-order bytes, only "non-zero" flags; the pre-6.11 kernel
  // layout can lose LBA 15:8 and 23:16 past the 18th byte).
  bool complete = true;
};

enum class SenseLayout : uint8_t {
  None,           // no ATA registers in this sense data
  Descriptor,     // 72h/73h with an ATA Status Return descriptor (09h)
  FixedStandard,  // 70h/71h, registers in INFORMATION (3-6) and COMMAND-SPECIFIC (8-11)
  FixedLegacy,    // 70h/71h as Linux wrote it before 6.11: registers at 8-11, LBA at 17-19
};

// Finds the ATA registers in `length` bytes of sense data (bounded by the
// sense's own ADDITIONAL SENSE LENGTH as well). Returns the layout found.
SenseLayout parseAtaReturn(const uint8_t* sense, size_t length, AtaReturn& out);

// Writes the returned registers into the request's task files, the way the
// ATA pass-through request reports them (byte 6 status, byte 0 error, ...).
void applyAtaReturn(const AtaReturn& ret, AtaPassThroughRequest& request);

}  // namespace zorv::platform
