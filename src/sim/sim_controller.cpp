#include "sim/sim_controller.h"

#include <algorithm>
#include <vector>

#include "sim/controller_parts.h"
#include "sim/media.h"
#include "sim/sat_decode.h"
#include "sim/vendor_hooks.h"
#include "transport/scsi_opcodes.h"

namespace zorv::sim {

using namespace detail;

SimController::SimController(std::unique_ptr<SimDrive> drive)
    : drive_(std::move(drive)),
      slot_(drive_->slot()),
      bus_(drive_->identity().bus),
      generation_(drive_->generation()),
      driveId_(drive_->record().id) {}

AtaReply SimController::executeAta(const AtaCommand& command, std::span<uint8_t> data) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimDrive& d = *drive_;
  if (!d.refresh()) {
    AtaReply gone;
    gone.fate = Fate::Gone;
    return gone;
  }
  d.countCommand();
  AtaReply reply = executeAtaLocked(command, data, true);
  d.settle();
  return reply;
}

AtaReply SimController::executeAtaLocked(const AtaCommand& command, std::span<uint8_t> data, bool checkReadiness) {
  SimDrive& d = *drive_;
  AtaReply reply;
  reply.regs = command.regs;
  bool dataIn = command.dir == DataDir::In;
  Gate gate = gateCommand(d, Side::Ata, command.regs.command, dataIn, checkReadiness);
  switch (gate.action) {
    case GateAction::TimeOut:
      reply.fate = Fate::TimedOut;
      reply.waitMs = gate.fault.waitMs;
      return reply;
    case GateAction::Fail:
      reply.status = gate.fault.ataStatus;
      reply.error = gate.fault.ataError;
      return reply;
    case GateAction::NotReady:
      // Busy with its restart, the drive takes no command.
      reply.abort();
      return reply;
    case GateAction::PowerLost:
      reply.fate = Fate::Gone;
      return reply;
    case GateAction::Run:
      break;
  }

  // Short data: the command runs on a copy, and only what gets through
  // reaches the host's buffer (the rest keeps what the host put there).
  std::vector<uint8_t> scratch;
  std::span<uint8_t> target = data;
  if (gate.shortBytes && dataIn) {
    scratch.assign(data.begin(), data.end());
    target = scratch;
  }
  AtaExchange x{command, target, reply};
  if (runAtaHooks(d, x) == HookResult::NotHandled && !identifyAta(d, x) && !blockIoAta(d, x) && !bufferAta(d, x) &&
      !housekeepingAta(d, x)) {
    reply.abort();
  }
  if (!scratch.empty()) {
    reply.bytes = shortLimit(*gate.shortBytes, reply.bytes);
    std::copy_n(scratch.begin(), reply.bytes, data.begin());
  }
  reply.latencyUs = d.record().latency.forBytes(reply.bytes);
  return reply;
}

ScsiReply SimController::executeScsi(std::span<const uint8_t> cdb, DataDir dir, std::span<uint8_t> data) {
  PassThroughTrace unused;
  return executeScsi(cdb, dir, data, unused);
}

ScsiReply SimController::executeScsi(std::span<const uint8_t> cdb, DataDir dir, std::span<uint8_t> data,
                                     PassThroughTrace& trace) {
  trace = PassThroughTrace{};
  std::lock_guard<std::mutex> lock(mutex_);
  SimDrive& d = *drive_;
  if (!d.refresh()) {
    ScsiReply gone;
    gone.fate = Fate::Gone;
    return gone;
  }
  d.countCommand();
  ScsiReply reply = executeScsiLocked(cdb, dir, data, &trace);
  d.settle();
  return reply;
}

namespace {

// Commands a drive answers while it is not ready.
bool answersWhileNotReady(uint8_t opcode) { return opcode == scsi::kRequestSense || opcode == scsi::kInquiry; }

}  // namespace

ScsiReply SimController::executeScsiLocked(std::span<const uint8_t> cdb, DataDir dir, std::span<uint8_t> data,
                                           PassThroughTrace* trace) {
  SimDrive& d = *drive_;
  ScsiReply reply;
  if (cdb.empty()) {
    reply.checkCondition(kSenseIllegalRequest, 0x20, 0x00);
    return reply;
  }
  uint8_t opcode = cdb[0];
  bool dataIn = dir == DataDir::In;
  Gate gate = gateCommand(d, Side::Scsi, opcode, dataIn, !answersWhileNotReady(opcode));
  switch (gate.action) {
    case GateAction::TimeOut:
      reply.fate = Fate::TimedOut;
      reply.waitMs = gate.fault.waitMs;
      return reply;
    case GateAction::Fail:
      reply.checkCondition(gate.fault.senseKey, gate.fault.asc, gate.fault.ascq);
      return reply;
    case GateAction::NotReady:
      reply.checkCondition(kSenseNotReady, 0x04, 0x01);  // LOGICAL UNIT IS IN PROCESS OF BECOMING READY
      return reply;
    case GateAction::PowerLost:
      reply.fate = Fate::Gone;
      return reply;
    case GateAction::Run:
      break;
  }

  std::vector<uint8_t> scratch;  // short data, as on the ATA side
  std::span<uint8_t> target = data;
  if (gate.shortBytes && dataIn) {
    scratch.assign(data.begin(), data.end());
    target = scratch;
  }
  if (isSatPassThrough(cdb)) {
    SatRequest sat = decodeSatCdb(cdb, dir, static_cast<uint32_t>(target.size()));
    AtaReply ata;
    if (sat.outcome == SatRequest::Outcome::Execute)
      ata = executeAtaLocked(sat.command, target.first(std::min<size_t>(sat.ataLength, target.size())), false);
    else if (sat.outcome == SatRequest::Outcome::ResetOnly)
      d.hardwareReset();
    satResponse(sat, ata, reply);
    if (trace && sat.outcome == SatRequest::Outcome::Execute) *trace = PassThroughTrace{true, sat, ata};
  } else {
    ScsiExchange x{cdb, dir, target, reply};
    if (runScsiHooks(d, x) == HookResult::NotHandled && !blockIoScsi(d, x) && !bufferScsi(d, x) &&
        !senseReadyScsi(d, x)) {
      reply.checkCondition(kSenseIllegalRequest, 0x20, 0x00);  // INVALID COMMAND OPERATION CODE
    }
    reply.latencyUs = scsiLatencyUs(d, cdb, reply.bytes);
  }
  if (!scratch.empty()) {
    reply.bytes = shortLimit(*gate.shortBytes, reply.bytes);
    std::copy_n(scratch.begin(), reply.bytes, data.begin());
  }
  return reply;
}

bool SimController::startQueued(std::span<const uint8_t> cdb, DataDir dir, std::span<uint8_t> data, ScsiReply& reply,
                                QueuedIo& io) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimDrive& d = *drive_;
  reply = ScsiReply{};
  if (!d.refresh()) {
    reply.fate = Fate::Gone;
    return false;
  }
  d.countCommand();
  ScsiTransfer t;
  bool async = d.media().asyncFd() >= 0 && decodeScsiTransfer(cdb, t) && d.record().faults.empty() &&
               !d.restarting() && checkScsiTransfer(d, t, dir, data.size(), reply) && t.count > 0 &&
               !(d.media().asyncNeedsAlignment() && reinterpret_cast<uintptr_t>(data.data()) % 4096 != 0);
  if (!async) {
    // Completes here: in-memory media, a command that is no media transfer, a
    // drive with faults to apply, or a buffer O_DIRECT cannot take.
    reply = executeScsiLocked(cdb, dir, data);
    d.settle();
    return false;
  }
  io.fd = d.media().asyncFd();
  io.write = t.write;
  io.lba = t.lba;
  io.count = t.count;
  io.offset = t.lba * 512;
  io.bytes = t.count * 512;
  return true;
}

void SimController::finishQueued(const QueuedIo& io, int err, std::span<uint8_t> data, ScsiReply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimDrive& d = *drive_;
  reply = ScsiReply{};
  ScsiTransfer t{io.write, io.lba, io.count};
  finishScsiTransfer(d, t, err, data.data(), reply);
  reply.latencyUs = io.write ? d.record().latency.forBytes(reply.bytes)
                             : mediaReadLatencyUs(d, io.lba, io.count, reply.bytes);
}

bool SimController::flushCounters(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return drive_->flushCounters(error);
}

void SimController::powerOn() {
  std::lock_guard<std::mutex> lock(mutex_);
  runPowerOnHooks(*drive_);
  drive_->settle();
}

}  // namespace zorv::sim
