#pragma once
// The controller's own command handlers, one file per command family. Each
// answers the commands it knows (returning true) and leaves the rest; the
// controller (sim_controller.cpp) tries them after the vendor hooks.

#include <cstdint>
#include <optional>
#include <span>

#include "sim/drive_record.h"
#include "sim/vendor_hooks.h"

namespace zorv::sim {

class SimDrive;

namespace detail {

// identify_data.cpp: IDENTIFY DEVICE.
bool identifyAta(SimDrive& drive, AtaExchange& x);

// block_io.cpp: READ/WRITE DMA (EXT), READ/WRITE SECTOR(S) (EXT), READ VERIFY,
// and READ/WRITE(10/12/16) on the SCSI side.
bool blockIoAta(SimDrive& drive, AtaExchange& x);
bool blockIoScsi(SimDrive& drive, ScsiExchange& x);

// A SCSI media transfer decoded from its CDB.
struct ScsiTransfer {
  bool write = false;
  uint64_t lba = 0;
  uint32_t count = 0;
};
// True for READ/WRITE(10/12/16); t is filled.
bool decodeScsiTransfer(std::span<const uint8_t> cdb, ScsiTransfer& t);
// Checks a decoded transfer against the drive and the host's buffer; false
// with the CHECK CONDITION in reply when it cannot run.
bool checkScsiTransfer(SimDrive& drive, const ScsiTransfer& t, DataDir dir, size_t hostBytes, ScsiReply& reply);
// Completes a transfer whose media I/O ended with err (0 or an errno):
// sense on failure, damaged data for corrupt ranges, counters.
void finishScsiTransfer(SimDrive& drive, const ScsiTransfer& t, int err, uint8_t* data, ScsiReply& reply);

// buffer_commands.cpp: the plain 512-byte buffer of READ/WRITE BUFFER (ATA
// E4h/E8h and SCSI 3Ch/3Bh).
bool bufferAta(SimDrive& drive, AtaExchange& x);
bool bufferScsi(SimDrive& drive, ScsiExchange& x);

// sense_ready.cpp: TEST UNIT READY, REQUEST SENSE, INQUIRY, READ CAPACITY,
// START STOP UNIT, SYNCHRONIZE CACHE; ATA housekeeping (FLUSH CACHE, power
// modes, SET FEATURES, EXECUTE DEVICE DIAGNOSTIC).
bool senseReadyScsi(SimDrive& drive, ScsiExchange& x);
bool housekeepingAta(SimDrive& drive, AtaExchange& x);

// faults.cpp: what the injected faults and readiness do to one command.
enum class GateAction : uint8_t { Run, Fail, TimeOut, NotReady, PowerLost };
enum class Side : uint8_t { Ata, Scsi };
struct Gate {
  GateAction action = GateAction::Run;
  Fault fault;                         // Fail, TimeOut: the fault that hit
  std::optional<uint32_t> shortBytes;  // Run: a short fault limits data-in (0: half)
};
// Consumes what the command uses up (persisting it). checkReadiness false
// for commands a drive answers while not ready and for the ATA command
// inside a SAT pass-through (the bridge already asked).
Gate gateCommand(SimDrive& drive, Side side, int opcode, bool dataIn, bool checkReadiness);
// True while the drive reports NOT READY (a restart or a not-ready fault).
// consume: count this command against a fault "for N commands".
bool notReady(SimDrive& drive, bool consume);
// Damages the data of sectors that lie in corrupt ranges.
void corruptRead(const SimDrive& drive, uint64_t lba, uint32_t count, uint8_t* data);
// The first sector of [lba, lba+count) in a read-error range, if any.
std::optional<uint64_t> readErrorAt(const SimDrive& drive, uint64_t lba, uint32_t count);
// Sectors of [lba, lba+count) just written that lie in damage ranges are
// damaged on the media: one byte of their data changes, after the write, as
// a cell that lost its charge would change it.
void damageWritten(SimDrive& drive, uint64_t lba, uint32_t count);
// Byte of a damaged sector that is changed (inside a stamped block's
// generated words, so its number stays and its check sum no longer fits).
constexpr size_t kDamagedByte = 64;

// latency.cpp: the service time of a SCSI command that moved bytes. Media
// reads follow the latency model's random-read and jitter rules; the drive
// remembers where the last read ended.
uint32_t scsiLatencyUs(SimDrive& drive, std::span<const uint8_t> cdb, uint32_t bytes);
uint32_t mediaReadLatencyUs(SimDrive& drive, uint64_t lba, uint32_t count, uint32_t bytes);
// The bytes a short fault lets through of `moved`.
inline uint32_t shortLimit(uint32_t setting, uint32_t moved) {
  uint32_t limit = setting ? setting : moved / 2;
  return limit < moved ? limit : moved;
}

}  // namespace detail
}  // namespace zorv::sim
