#pragma once
// The SCSI side of the transport: SendScsiCommand and the block primitives
// built on it, and the wait until the drive is ready.

#include <cstdint>

#include "transport/device_port.h"
#include "transport/scsi_opcodes.h"

namespace zorv {

struct Context;

constexpr int kNoSlot = -1;

// A data-in request that completed with fewer bytes than it asked for, where
// the whole length was due (not an allocation length).
bool isShortDataIn(const ScsiRequest& request);

// Time-out in seconds for a CDB, chosen by its opcode.
uint32_t scsiTimeoutFor(const Context& ctx, const uint8_t* cdb);

// Issues the prepared request: the current slot's when slot is given (the
// queued path), else ctx.scsiRequest. preFill makes a data-in transfer start
// from a buffer of 0xFF, so bytes the device does not return read as 0xFF.
bool SendScsiCommand(Context& ctx, bool preFill, int slot);

// READ(10) of count blocks into SectorBuffer; tag puts 74 47 in bytes 10-11.
bool ReadBlocks(Context& ctx, uint32_t lba, uint32_t count, bool tag);
// WRITE(10) of count x unitSize bytes from SectorBuffer.
bool WriteBlocks(Context& ctx, uint32_t lba, uint32_t count, uint16_t unitSize);
// WRITE(12) of count blocks from SectorBuffer; streaming sets byte 10 bit 7.
bool WriteBlocks12(Context& ctx, uint32_t count, uint32_t lba, bool streaming);
// REQUEST SENSE: 18 bytes into SectorBuffer.
bool RequestSense(Context& ctx);
bool TestUnitReady(Context& ctx);
// The first 12 bytes of CmdBlock as a CDB, 256 bytes into SectorBuffer.
bool SendCdb(Context& ctx);

// Waits up to about 21 s for the drive to leave NOT READY / becoming ready.
bool WaitReady(Context& ctx);

// Sense key and additional sense code of LastSense.
uint8_t lastSenseKey(const Context& ctx);
uint8_t lastSenseAsc(const Context& ctx);

}  // namespace zorv
