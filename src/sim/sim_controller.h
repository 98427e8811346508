#pragma once
// The controller of one simulated drive. It knows nothing of how commands
// reach it: SimPort (the DevicePort of the bay) hands it register images and
// CDBs; a user-space SCSI target could sit in front of it the same way.
//
// Order of work for every command, with the drive's command lock held:
//   1. catch up with bay.json (another process may have changed the drive);
//      a drive that has left its slot answers nothing (Fate::Gone)
//   2. injected faults: time-out, fail, NOT READY (faults.cpp)
//   3. the vendor hook families (vendor_hooks.h)
//   4. the controller's own handlers: IDENTIFY, block I/O, READ/WRITE BUFFER,
//      sense and readiness, housekeeping; anything else is unsupported:
//      ATA ERR/ABRT, SCSI ILLEGAL REQUEST 5/20/00
//   5. a short-data fault trims what a data-in command returned
// ATA PASS-THROUGH CDBs (85h, A1h) go through the SAT bridge (sat_decode.h)
// and then the ATA steps 2-5.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "sim/sat_decode.h"
#include "sim/sim_drive.h"
#include "sim/sim_types.h"

namespace zorv::sim {

class SimController {
 public:
  explicit SimController(std::unique_ptr<SimDrive> drive);

  int slot() const { return slot_; }
  SimBus bus() const { return bus_; }
  uint64_t generation() const { return generation_; }
  uint64_t driveId() const { return driveId_; }

  AtaReply executeAta(const AtaCommand& command, std::span<uint8_t> data);
  ScsiReply executeScsi(std::span<const uint8_t> cdb, DataDir dir, std::span<uint8_t> data);

  // An ATA PASS-THROUGH CDB as the bridge decoded it and the drive's own
  // answer, for a front end that reports the registers in a sense format of
  // its own (descriptor format carries the high-order bytes fixed format
  // drops). `ran` is false when the CDB was no pass-through or the drive was
  // never asked.
  struct PassThroughTrace {
    bool ran = false;
    SatRequest request;
    AtaReply reply;
  };
  ScsiReply executeScsi(std::span<const uint8_t> cdb, DataDir dir, std::span<uint8_t> data,
                        PassThroughTrace& trace);

  // Queued transfers on media that does real asynchronous I/O: startQueued
  // runs the command up to the media transfer. When it returns true, the
  // caller moves io.bytes at io.offset on drive media's asyncFd() (from or to
  // the host buffer) and then calls finishQueued with 0 or an errno value;
  // when it returns false, reply is the final answer.
  struct QueuedIo {
    int fd = -1;
    bool write = false;
    uint64_t offset = 0;
    uint32_t bytes = 0;
    uint64_t lba = 0;
    uint32_t count = 0;
  };
  bool startQueued(std::span<const uint8_t> cdb, DataDir dir, std::span<uint8_t> data, ScsiReply& reply,
                   QueuedIo& io);
  void finishQueued(const QueuedIo& io, int err, std::span<uint8_t> data, ScsiReply& reply);

  // Runs f(SimDrive&) with the command lock held.
  template <class F>
  decltype(auto) withDrive(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    struct Settle {
      SimDrive& drive;
      ~Settle() { drive.settle(); }
    } settle{*drive_};
    return f(*drive_);
  }

  // Adds this process's counts to bay.json.
  bool flushCounters(std::string* error = nullptr);
  // A new power-on begins: the families' power-on hooks run.
  void powerOn();

 private:
  AtaReply executeAtaLocked(const AtaCommand& command, std::span<uint8_t> data, bool checkReadiness);
  ScsiReply executeScsiLocked(std::span<const uint8_t> cdb, DataDir dir, std::span<uint8_t> data,
                              PassThroughTrace* trace = nullptr);

  std::mutex mutex_;
  std::unique_ptr<SimDrive> drive_;
  int slot_;
  SimBus bus_;
  uint64_t generation_;
  uint64_t driveId_;
};

}  // namespace zorv::sim
