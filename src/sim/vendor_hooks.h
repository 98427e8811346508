#pragma once
// How the command families beyond the standard set plug into the simulated
// drive's controller.
//
// Every command a drive receives, on any path (ATA pass-through, the USB
// bridge's ATA PASS-THROUGH after SAT decoding, plain SCSI CDBs), goes
// through SimController. After the fault and readiness checks and before its
// own handling, the controller offers the command to each hook family below,
// in this order, until one answers Handled:
//
//   family           file                    owns
//   flash dumps      sim/flash_dumps.cpp     F7h SPI flash, FTL and block dumps
//                                            (first: F7h 1Bh saves a staged SPI
//                                            image, else it passes on)
//   microcode        sim/microcode.cpp       DOWNLOAD MICROCODE 92h / 93h
//   max address      sim/max_address.cpp     ACCESSIBLE MAX ADDRESS 78h, 27h/37h
//   SMART            sim/smart_data.cpp      SMART B0h
//   flash location   sim/flash_location.cpp  F7h 31h, the console's flash-location query
//   vendor protocol  sim/vendor_protocol.cpp the 512-byte vendor command sector
//                                            (WRITE BUFFER E8h / READ BUFFER E4h),
//                                            the other F7h codes, SCSI F3h
//
// Each family owns its file and nothing else: it defines the HookFamily named
// below (kMicrocodeHooks, ...) and leaves the entries it does not need null.
// A hook that does not recognise a command returns NotHandled; the controller
// then answers it itself (IDENTIFY, block I/O, the plain 512-byte buffer of
// READ/WRITE BUFFER) or aborts it as unsupported (ATA ERR/ABRT, SCSI 5/20/00).
//
// What a hook can rely on:
// - It runs with the drive's command lock held: one command at a time per
//   drive, so it may use SimDrive (sim_drive.h) freely. It must not block.
// - Faults of kind fail/timeout and NOT READY have already been applied: a
//   hook only sees commands the drive really executes. A "short" fault trims
//   what the hook moved afterwards.
// - ATA: `command.regs` is the register image as the drive received it
//   (48-bit halves in the *Ext fields when `command.ext`); `command.dir` is the
//   data direction the host set up and `data` the host's buffer for it, whose
//   size is the transfer length (it may be larger than what the command moves:
//   set reply.bytes). On data-in, bytes the hook does not write keep what the
//   host put there (the transport pre-fills 0xFF). `reply` starts as success
//   (status 50h, error 0, registers echoed, bytes 0); set reply.regs for
//   commands that return registers (e.g. a max address), reply.abort() or
//   reply.fail(error) for errors.
// - SCSI: `cdb` is the command block, `data` the host buffer, `reply` starts
//   as GOOD with no bytes; use reply.checkCondition(key, asc, ascq).
// - Persistent state: drive.vendorState()[<family>], a JSON object kept in
//   bay.json with the drive and saved when the command ends if it changed
//   (drive.saveVendorState() saves at once); the firmware
//   version: drive.setFirmware(); the SPI flash image: drive.spiFlash()
//   (512 KiB, a mapped file, persists as written). Volatile state (a pending
//   reply, a download in progress): drive.runtime<YourState>(), which is new
//   after every power cycle.
// - Identity fields every family needs: drive.identity().family (foreign
//   drives should refuse vendor commands), .modelClass (0 or 1), .hwid (bytes),
//   .firmware (8 characters), .pcba, .serial, .model.
// - A restart (after a download): drive.beginNotReady(duration); the drive
//   answers NOT READY 2/04/01 until drive.clock() passes it (tests use a
//   ManualClock, so this is deterministic).
// - powerOn runs when a new power-on of the drive begins (the drive is
//   plugged, power-cycled or the bay is opened), before its first command.

#include <cstdint>
#include <span>

#include "sim/sim_types.h"

namespace zorv::sim {

class SimDrive;

enum class HookResult : uint8_t { NotHandled, Handled };

struct AtaExchange {
  const AtaCommand& command;
  std::span<uint8_t> data;
  AtaReply& reply;
};

struct ScsiExchange {
  std::span<const uint8_t> cdb;
  DataDir dir;
  std::span<uint8_t> data;
  ScsiReply& reply;
};

struct HookFamily {
  const char* name;
  HookResult (*ata)(SimDrive& drive, AtaExchange& x);
  HookResult (*scsi)(SimDrive& drive, ScsiExchange& x);
  void (*powerOn)(SimDrive& drive);
};

extern const HookFamily kMicrocodeHooks;       // sim/microcode.cpp
extern const HookFamily kMaxAddressHooks;      // sim/max_address.cpp
extern const HookFamily kSmartHooks;           // sim/smart_data.cpp
extern const HookFamily kFlashDumpHooks;       // sim/flash_dumps.cpp
extern const HookFamily kFlashLocationHooks;   // sim/flash_location.cpp
extern const HookFamily kVendorProtocolHooks;  // sim/vendor_protocol.cpp

// The families in the order the controller asks them.
std::span<const HookFamily* const> hookFamilies();

HookResult runAtaHooks(SimDrive& drive, AtaExchange& x);
HookResult runScsiHooks(SimDrive& drive, ScsiExchange& x);
void runPowerOnHooks(SimDrive& drive);

}  // namespace zorv::sim
