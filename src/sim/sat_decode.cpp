#include "sim/sat_decode.h"

#include "transport/sat_cdb.h"
#include "transport/scsi_opcodes.h"

namespace zorv::sim {

namespace {

SatRequest refused() { return SatRequest{}; }

}  // namespace

bool isSatPassThrough(std::span<const uint8_t> cdb) {
  return !cdb.empty() && (cdb[0] == scsi::kAtaPassThrough16 || cdb[0] == scsi::kAtaPassThrough12);
}

SatRequest decodeSatCdb(std::span<const uint8_t> cdb, DataDir hostDir, uint32_t hostLength) {
  bool sixteen = !cdb.empty() && cdb[0] == scsi::kAtaPassThrough16;
  if (cdb.size() < (sixteen ? 16u : 12u)) return refused();
  const uint8_t* c = cdb.data();
  SatRequest r;
  r.protocol = (c[1] >> 1) & 0x0F;
  bool extend = sixteen && (c[1] & sat::kExtend);
  r.ckCond = c[2] & sat::kCkCond;
  bool fromDevice = c[2] & sat::kTDirFromDevice;
  bool blocks = c[2] & sat::kByteBlock;
  uint8_t tLength = c[2] & 0x03;

  AtaRegisters& g = r.command.regs;
  if (sixteen) {
    g.features = c[4];
    g.count = c[6];
    g.lbaLow = c[8];
    g.lbaMid = c[10];
    g.lbaHigh = c[12];
    g.device = c[13];
    g.command = c[14];
    if (extend) {  // without EXTEND the bridge sends a 28-bit register image only
      g.featuresExt = c[3];
      g.countExt = c[5];
      g.lbaLowExt = c[7];
      g.lbaMidExt = c[9];
      g.lbaHighExt = c[11];
    }
  } else {
    g.features = c[3];
    g.count = c[4];
    g.lbaLow = c[5];
    g.lbaMid = c[6];
    g.lbaHigh = c[7];
    g.device = c[8];
    g.command = c[9];
  }
  r.command.ext = extend;

  switch (r.protocol) {
    case sat::kHardReset:
    case sat::kSoftReset:
      r.outcome = SatRequest::Outcome::ResetOnly;
      return r;
    case sat::kNonData:
    case sat::kExecuteDeviceDiagnostic:
    case sat::kDeviceReset:
      r.command.dir = DataDir::None;
      r.outcome = SatRequest::Outcome::Execute;
      return r;
    case sat::kPioDataIn:
    case sat::kPioDataOut:
    case sat::kDma:
    case sat::kUdmaDataIn:
    case sat::kUdmaDataOut:
      break;
    default:
      return refused();  // reserved, obsolete queued DMA, FPDMA, return response information
  }

  if (tLength == sat::kTLengthNone || tLength == 3) return refused();
  DataDir dir = fromDevice ? DataDir::In : DataDir::Out;
  if (((r.protocol == sat::kPioDataIn || r.protocol == sat::kUdmaDataIn) && dir != DataDir::In) ||
      ((r.protocol == sat::kPioDataOut || r.protocol == sat::kUdmaDataOut) && dir != DataDir::Out))
    return refused();
  if (hostLength > 0 && hostDir != dir) return refused();
  r.command.dir = dir;
  r.command.dma = r.protocol == sat::kDma || r.protocol == sat::kUdmaDataIn || r.protocol == sat::kUdmaDataOut;

  if (r.command.dma) {
    uint32_t field = tLength == sat::kTLengthInFeatures ? (uint32_t{g.features} | (uint32_t{g.featuresExt} << 8))
                                  : (uint32_t{g.count} | (uint32_t{g.countExt} << 8));
    uint32_t length = blocks ? field * 512 : field;
    if (length == 0 || length > hostLength) return refused();
    r.ataLength = length;
  } else {
    r.ataLength = hostLength;
  }
  r.outcome = SatRequest::Outcome::Execute;
  return r;
}

namespace {

// ATA error register to sense key and additional sense code.
void translateError(uint8_t error, uint8_t& key, uint8_t& asc, uint8_t& ascq) {
  if (error & kErrorIcrc) {
    key = kSenseAbortedCommand, asc = 0x47, ascq = 0x03;  // INFORMATION UNIT iuCRC ERROR DETECTED
  } else if (error & kErrorUnc) {
    key = kSenseMediumError, asc = 0x11, ascq = 0x04;  // UNRECOVERED READ ERROR - AUTO REALLOCATE FAILED
  } else if (error & kErrorIdnf) {
    key = kSenseIllegalRequest, asc = 0x21, ascq = 0x00;  // LOGICAL BLOCK ADDRESS OUT OF RANGE
  } else {
    key = kSenseAbortedCommand, asc = 0x00, ascq = 0x00;
  }
}

// The ATA return registers in fixed-format sense (INFORMATION and
// COMMAND-SPECIFIC INFORMATION fields).
void putReturnRegisters(const SatRequest& req, const AtaReply& ata, ScsiReply& out) {
  const AtaRegisters& g = ata.regs;
  out.sense[3] = ata.error;
  out.sense[4] = ata.status;
  out.sense[5] = g.device;
  out.sense[6] = g.count;
  uint8_t flags = 0;
  if (req.command.ext) flags |= 0x80;
  if (g.countExt) flags |= 0x40;
  if (g.lbaLowExt || g.lbaMidExt || g.lbaHighExt) flags |= 0x20;
  out.sense[8] = flags;
  out.sense[9] = g.lbaLow;
  out.sense[10] = g.lbaMid;
  out.sense[11] = g.lbaHigh;
}

}  // namespace

void satResponse(const SatRequest& request, const AtaReply& ata, ScsiReply& out) {
  out = ScsiReply{};
  switch (request.outcome) {
    case SatRequest::Outcome::Refused:
      out.checkCondition(request.senseKey, request.asc, request.ascq);
      return;
    case SatRequest::Outcome::ResetOnly:
      if (request.ckCond) {
        // After a reset the device shows its signature: count 01h, LBA
        // 000001h, no error (01h: diagnostics passed), status ready.
        AtaReply reset;
        reset.error = kErrorAmnf;
        reset.regs.count = 0x01;
        reset.regs.lbaLow = 0x01;
        out.status = kScsiCheckCondition;
        out.sense = fixedSense(kSenseRecovered, 0x00, 0x1D);
        putReturnRegisters(request, reset, out);
      }
      return;
    case SatRequest::Outcome::Execute:
      break;
  }
  out.latencyUs = ata.latencyUs;
  if (ata.fate != Fate::Completed) {
    out.fate = ata.fate;
    out.waitMs = ata.waitMs;
    return;
  }
  if (ata.status & kStatusErr) {
    uint8_t key, asc, ascq;
    translateError(ata.error, key, asc, ascq);
    out.checkCondition(key, asc, ascq);
    putReturnRegisters(request, ata, out);
    return;
  }
  out.bytes = ata.bytes;
  if (request.ckCond) {
    // ATA PASS-THROUGH INFORMATION AVAILABLE, with the returned registers.
    out.status = kScsiCheckCondition;
    out.sense = fixedSense(kSenseRecovered, 0x00, 0x1D);
    putReturnRegisters(request, ata, out);
  }
}

}  // namespace zorv::sim
