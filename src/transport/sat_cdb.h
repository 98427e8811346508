#pragma once
// ATA commands carried in a SCSI command block: the ATA PASS-THROUGH(16) CDB
// of both paths that build one. The ATA/SATA path turns the register image
// of an ATA pass-through request into a CDB where the platform has no ATA
// pass-through of its own (Linux: SG_IO through libata or another SCSI-ATA
// translation); the USB path picks the protocol from the opcode, as the
// bridge needs it. Pure functions on bytes.
//
//   byte 0   85h
//   byte 1   MULTIPLE_COUNT (7-5), PROTOCOL (4-1), EXTEND (0)
//   byte 2   OFF_LINE (7-6), CK_COND (5), T_TYPE (4), T_DIR (3), BYTE_BLOCK (2), T_LENGTH (1-0)
//   3-14     each register's high-order byte (sent with EXTEND) before its low-order byte:
//            FEATURES, COUNT, LBA 7:0 / 31:24, LBA 15:8 / 39:32, LBA 23:16 / 47:40; DEVICE; COMMAND
//   15       CONTROL

#include <array>
#include <cstdint>
#include <string>

#include "transport/ata_task_file.h"
#include "transport/device_port.h"

namespace zorv {

namespace sat {

// PROTOCOL (byte 1, bits 4-1).
enum Protocol : uint8_t {
  kHardReset = 0,  // the bridge resets the device; the command is not sent
  kSoftReset = 1,
  kNonData = 3,
  kPioDataIn = 4,
  kPioDataOut = 5,
  kDma = 6,
  kExecuteDeviceDiagnostic = 8,
  kDeviceReset = 9,
  kUdmaDataIn = 10,
  kUdmaDataOut = 11,
  kFpdma = 12,
};
inline constexpr uint8_t kExtend = 0x01;  // byte 1: the high-order register bytes are sent

constexpr uint8_t byte1(Protocol protocol, bool extend) {
  return static_cast<uint8_t>(protocol << 1 | (extend ? kExtend : 0));
}

// Byte 2.
inline constexpr uint8_t kCkCond = 0x20;          // return the registers, also on success
inline constexpr uint8_t kTTypeSectors = 0x10;    // lengths in the device's logical sectors, not 512 bytes
inline constexpr uint8_t kTDirFromDevice = 0x08;  // data-in
inline constexpr uint8_t kByteBlock = 0x04;       // the length register counts blocks, not bytes
inline constexpr uint8_t kTLengthNone = 0x00;     // no data
inline constexpr uint8_t kTLengthInFeatures = 0x01;
inline constexpr uint8_t kTLengthInCount = 0x02;

}  // namespace sat

using SatCdb = std::array<uint8_t, 16>;

// The most one ATA command can move: 65,536 sectors of 512 bytes.
constexpr uint32_t kMaxAtaTransferBytes = 65536u * 512u;

// ---- ATA/SATA path: the register image of an ATA pass-through request.

// How the built CDB moves its data (for the SCSI request around it).
enum class SatDirection : uint8_t { None, FromDevice, ToDevice };

struct SatCommand {
  SatCdb cdb{};
  SatDirection direction = SatDirection::None;
  uint32_t length = 0;     // bytes
  uint32_t timeoutMs = 0;  // 0: the kernel's default
};

// True for the NCQ opcodes that need the FPDMA protocol.
bool isFpdmaOpcode(uint8_t opcode);

// Whether the CDB asks for the returned registers (CK_COND): every command
// except one that brings data in. See buildSatPassThrough16 for why.
bool satRequestsRegisters(const AtaPassThroughRequest& request);

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
// length in 512-byte blocks; the SCSI layer moves the request's byte count
// whatever that register holds.
bool buildSatPassThrough16(const AtaPassThroughRequest& request, SatCommand& out, std::string& error);

// ---- USB path: the CDB a USB bridge receives for a task file.

struct UsbAtaCdb {
  SatCdb cdb{};
  uint32_t transferLength = 0;  // bytes; 0 for a command without data
};

// PROTOCOL and EXTEND come from the opcode (the table in sat_cdb.cpp); an
// opcode the table does not list travels as a non-data command, with EXTEND
// when it is one of the 48-bit opcodes. A command with data carries the
// direction in T_DIR and its block count in the count register (T_LENGTH);
// the transfer length is sectors x 512, or the caller's byte count for the
// PIO opcodes. CK_COND is never set: nothing is read back on this path.
UsbAtaCdb buildUsbAtaCdb(const AtaTaskFile& tf, bool dataOut, uint32_t byteCount);

}  // namespace zorv
