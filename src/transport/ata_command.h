#pragma once
// SendAtaCommand: one ATA command to the selected drive, on the ATA/SATA path
// (a register image) or, behind a USB bridge, as an ATA PASS-THROUGH(16) CDB.

#include <cstdint>

#include "transport/ata_opcodes.h"
#include "transport/ata_task_file.h"
#include "transport/device_port.h"

namespace zorv {

struct Context;

// True for the 29 opcodes that are sent with the 48-bit flag.
bool isAta48BitOpcode(uint8_t opcode);

// ATA_PASS_THROUGH_DIRECT request for the ATA/SATA path (data buffer and
// time-out are set by the caller).
AtaPassThroughRequest buildAtaPassThrough(const AtaTaskFile& tf, bool dataOut, bool useDma, uint32_t byteCount);

// The USB path's CDB: buildUsbAtaCdb in transport/sat_cdb.h.

// Whether ucDataByte reaches the selected drive: only the ATA/SATA path has a
// register for it, and only on a backend that carries the register image as
// it is.
bool ataDataByteTravels(const Context& ctx);

// Sends taskFile to DriveTable[ucSelDrive]; data moves through SectorBuffer.
// On success the six LBA bytes hold what the device returned (ATA/SATA path).
// A data-in command that returns fewer than byteCount bytes has failed
// ("Short Transfer, ..."), unless replyMayBeShorter says byteCount is only
// the most it may return (a command typed in, whose count register need not
// be a sector count).
bool SendAtaCommand(Context& ctx, bool dataOut, AtaTaskFile& taskFile, bool useDma, uint32_t byteCount,
                    bool replyMayBeShorter = false);

}  // namespace zorv
