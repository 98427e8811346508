#pragma once
// A drive of the simulated bay as a SCSI disk behind a SAT bridge (a USB
// enclosure's ATA translation), for a user-space SCSI target: the kernel's
// SCSI disk driver reads and writes it as any disk, and ATA PASS-THROUGH(16)
// and (12) reach the drive through the same controller model as `--sim`
// (SimController::executeScsi: the bridge's decoding and refusals, CK_COND).
//
// What the bridge adds in front of the drive:
// - the data direction of each CDB (a target sees only a buffer);
// - MODE SENSE(6)/(10) with the caching and control pages, and MODE
//   SELECT(6)/(10) of the control page, whose D_SENSE bit chooses the
//   sense format; refuseModeSelect models a bridge that keeps fixed format;
// - the sense format: fixed (70h, the drive's registers at bytes 3-6 and
//   8-11, SAT's layout) or descriptor (72h, with the ATA Status Return
//   descriptor carrying every register, the high-order bytes too).

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/sim_controller.h"
#include "tcmu/tcmu_ring.h"

namespace zorv::tcmu {

struct BridgeOptions {
  bool refuseModeSelect = false;
};

class SatBridgeTarget {
 public:
  SatBridgeTarget(std::shared_ptr<sim::SimController> controller, BridgeOptions options = {});

  void execute(const TcmuCommand& command, TcmuResponse& response);

  bool descriptorSense() const { return descriptorSense_; }

 private:
  void modeSense(const TcmuCommand& command, TcmuResponse& response);
  void modeSelect(const TcmuCommand& command, TcmuResponse& response);

  std::shared_ptr<sim::SimController> controller_;
  BridgeOptions options_;
  bool descriptorSense_ = false;
  std::vector<uint8_t> buffer_;
};

// Data direction of a CDB as a target has to infer it: ATA PASS-THROUGH by
// T_DIR and T_LENGTH, the rest by operation code (unknown ones: none).
sim::DataDir dataDirectionOf(std::span<const uint8_t> cdb);

// Fixed-format sense as the drive's controller answered, rewritten in
// descriptor format: key and code in the header; when the pass-through
// trace holds the drive's reply (or the sense carries SAT's fixed register
// layout, ASC/ASCQ 00h/1Dh or a drive error), an ATA Status Return
// descriptor (09h) with every register.
void toDescriptorSense(const sim::ScsiReply& reply, const sim::SimController::PassThroughTrace& trace,
                       std::array<uint8_t, kTcmuSenseBytes>& out);

}  // namespace zorv::tcmu
