#include "platform/linux/sg_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/linux/sense.h"
#include "transport/ata_task_file.h"
#include "transport/byte_order.h"
#include "transport/scsi_opcodes.h"

namespace zorv::platform {

namespace {

// SCSI status bytes.
constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusBusy = 0x08;
constexpr uint8_t kStatusReservationConflict = 0x18;
constexpr uint8_t kStatusTaskSetFull = 0x28;

// Host status (DID_*).
constexpr unsigned kDidOk = 0x00;
constexpr unsigned kDidNoConnect = 0x01;
constexpr unsigned kDidBusBusy = 0x02;
constexpr unsigned kDidTimeOut = 0x03;
constexpr unsigned kDidBadTarget = 0x04;

// Driver status (DRIVER_*), low nibble; the high nibble holds suggestions.
constexpr unsigned kDriverOk = 0x0;
constexpr unsigned kDriverBusy = 0x1;
constexpr unsigned kDriverTimeout = 0x6;
constexpr unsigned kDriverSense = 0x8;

// Sense keys and the additional sense code of a register-only reply.
constexpr uint8_t kSenseNoSense = 0x0;
constexpr uint8_t kSenseRecoveredError = 0x1;
constexpr uint8_t kSenseAbortedCommand = 0xB;
constexpr uint8_t kAscqPassThroughInformation = 0x1D;  // ASC 00h: ATA PASS-THROUGH INFORMATION AVAILABLE

// The status a drive reports for a completed command: DRDY and bit 4.
constexpr uint8_t kAtaGoodCompletion = ata::kStatusDrdy | 0x10;

std::string format(const char* fmt, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0) {
  char text[160];
  std::snprintf(text, sizeof text, fmt, a, b, c, d);
  return text;
}

uint32_t transferred(const sg_io_hdr& hdr) {
  if (hdr.resid <= 0) return hdr.dxfer_len;
  if (static_cast<unsigned>(hdr.resid) >= hdr.dxfer_len) return 0;
  return hdr.dxfer_len - static_cast<uint32_t>(hdr.resid);
}

// Commands that move sectors between the host and the media: their result
// is the data, and the registers they return (the LBA reached) are none of
// it. Any other command may answer in its registers, whatever data it
// moves (the max-address commands go with a data-out phase).
bool isMediaTransfer(uint8_t opcode) {
  switch (opcode) {
    case 0x20: case 0x24: case 0x25: case 0x29:  // READ SECTOR(S) (EXT), READ DMA EXT, READ MULTIPLE EXT
    case 0x30: case 0x34: case 0x35: case 0x39:  // WRITE SECTOR(S) (EXT), WRITE DMA EXT, WRITE MULTIPLE EXT
    case 0x3D: case 0xCE:                        // WRITE DMA FUA EXT, WRITE MULTIPLE FUA EXT
    case 0x60: case 0x61:                        // READ/WRITE FPDMA QUEUED
    case 0xC4: case 0xC5: case 0xC8: case 0xCA:  // READ/WRITE MULTIPLE, READ DMA, WRITE DMA
      return true;
    default:
      return false;
  }
}

size_t senseWritten(const sg_io_hdr& hdr) {
  return hdr.sb_len_wr < kSgSenseBufferSize ? hdr.sb_len_wr : kSgSenseBufferSize;
}

}  // namespace

IoOutcome outcomeFromErrno(int err, std::string_view what) {
  std::string detail(what);
  if (!detail.empty()) detail += ": ";
  detail += std::strerror(err);
  switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return IoOutcome::failure(IoError::NoDevice, err, detail);
    case EACCES:
    case EPERM:
      return IoOutcome::failure(IoError::PermissionDenied, err, detail + " (" + kNeedsRawIo + ")");
    case EBUSY:
      return IoOutcome::failure(IoError::Busy, err, detail);
    case ETIMEDOUT:
      return IoOutcome::failure(IoError::Timeout, err, detail);
    case ENOTTY:
      return IoOutcome::failure(IoError::NotSupported, err, detail + " (not a SCSI device)");
    default:
      return IoOutcome::failure(IoError::OsFailure, err, detail);
  }
}

IoOutcome outcomeFromSgStatus(unsigned hostStatus, unsigned driverStatus) {
  const unsigned driver = driverStatus & 0x0F;
  if (hostStatus == kDidTimeOut || driver == kDriverTimeout)
    return IoOutcome::failure(IoError::Timeout, 0,
                              format("time-out (host status %02Xh, driver status %02Xh)", hostStatus, driverStatus));
  if (hostStatus == kDidNoConnect || hostStatus == kDidBadTarget)
    return IoOutcome::failure(IoError::NoDevice, 0, format("device gone (host status %02Xh)", hostStatus));
  if (hostStatus == kDidBusBusy || driver == kDriverBusy)
    return IoOutcome::failure(IoError::Busy, 0,
                              format("bus busy (host status %02Xh, driver status %02Xh)", hostStatus, driverStatus));
  if (hostStatus != kDidOk || (driver != kDriverOk && driver != kDriverSense))
    return IoOutcome::failure(IoError::OsFailure, 0,
                              format("transport failure (host status %02Xh, driver status %02Xh)", hostStatus,
                                     driverStatus));
  return IoOutcome::success();
}

bool buildScsiHeader(ScsiRequest& request, SgSenseBuffer& sense, sg_io_hdr& hdr, std::string& error) {
  error = scsiRequestProblem(request);
  if (!error.empty()) return false;
  std::memset(&hdr, 0, sizeof hdr);
  hdr.interface_id = 'S';
  if (request.dataTransferLength == 0)
    hdr.dxfer_direction = SG_DXFER_NONE;
  else
    hdr.dxfer_direction = request.dataIn == kScsiDataIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  hdr.cmd_len = request.cdbLength;
  hdr.mx_sb_len = static_cast<unsigned char>(sense.size());
  hdr.dxfer_len = request.dataTransferLength;
  hdr.dxferp = request.dataTransferLength ? request.dataBuffer : nullptr;
  hdr.cmdp = request.cdb.data();
  hdr.sbp = sense.data();
  const uint32_t seconds = request.timeOutValue < 0xFFFFFFFFu / 1000u ? request.timeOutValue : 0xFFFFFFFFu / 1000u;
  hdr.timeout = seconds * 1000u;
  return true;
}

void buildSatHeader(SatCommand& command, uint8_t* data, SgSenseBuffer& sense, sg_io_hdr& hdr) {
  std::memset(&hdr, 0, sizeof hdr);
  hdr.interface_id = 'S';
  switch (command.direction) {
    case SatDirection::None: hdr.dxfer_direction = SG_DXFER_NONE; break;
    case SatDirection::FromDevice: hdr.dxfer_direction = SG_DXFER_FROM_DEV; break;
    case SatDirection::ToDevice: hdr.dxfer_direction = SG_DXFER_TO_DEV; break;
  }
  hdr.cmd_len = static_cast<unsigned char>(command.cdb.size());
  hdr.mx_sb_len = static_cast<unsigned char>(sense.size());
  hdr.dxfer_len = command.length;
  hdr.dxferp = command.length ? data : nullptr;
  hdr.cmdp = command.cdb.data();
  hdr.sbp = sense.data();
  hdr.timeout = command.timeoutMs;
}

IoOutcome finishScsiRequest(const sg_io_hdr& hdr, const SgSenseBuffer& sense, ScsiRequest& request) {
  request.scsiStatus = hdr.status;
  senseToFixed(sense.data(), senseWritten(hdr), request.sense);
  request.bytesTransferred = transferred(hdr);
  return outcomeFromSgStatus(hdr.host_status, hdr.driver_status);
}

IoOutcome interpretAtaCompletion(uint8_t scsiStatus, const uint8_t* sense, size_t senseLength,
                                 AtaPassThroughRequest& request) {
  if (scsiStatus == kStatusBusy || scsiStatus == kStatusTaskSetFull || scsiStatus == kStatusReservationConflict)
    return IoOutcome::failure(IoError::Busy, 0, format("SCSI status %02Xh", scsiStatus));
  if (scsiStatus != kStatusGood && scsiStatus != kStatusCheckCondition)
    return IoOutcome::failure(IoError::OsFailure, 0, format("SCSI status %02Xh", scsiStatus));

  const uint8_t opcode = request.currentTaskFile[6];  // the status takes its place below
  AtaReturn ret = AtaReturn::sent(request);
  const SenseLayout layout = parseAtaReturn(sense, senseLength, ret);
  const SenseSummary summary = summarizeSense(sense, senseLength);
  if (layout == SenseLayout::None) {
    if (scsiStatus == kStatusGood && !satRequestsRegisters(request)) {
      // A data-in command completed without error and, as asked, without
      // its registers: it reads as a ready drive with nothing to report.
      ret.error = 0;
      ret.status = kAtaGoodCompletion;
      applyAtaReturn(ret, request);
      return IoOutcome::success();
    }
    if (scsiStatus == kStatusGood)
      return IoOutcome::failure(IoError::NotSupported, 0,
                                "the SCSI-ATA translation completed the command without returning the ATA registers");
    std::string refusal = format("refused before reaching the drive: sense key %Xh, ASC/ASCQ %02Xh/%02Xh",
                                 summary.key, summary.asc, summary.ascq);
    // ILLEGAL REQUEST without the drive's registers: the bridge or its
    // driver does not take this pass-through, and the person can only
    // change the way the drive is attached.
    if (summary.key == 0x05)
      refusal += ": the USB bridge or its driver does not pass this ATA command to the drive; attach the drive by "
                 "SATA or through a bridge that passes ATA commands";
    return IoOutcome::failure(IoError::OsFailure, 0, refusal);
  }

  // The drive's own status decides; the sense key is the translation
  // layer's reading of it.
  applyAtaReturn(ret, request);
  if (ret.status & ata::kStatusBsy)
    return IoOutcome::failure(IoError::OsFailure, 0, format("the drive is still busy (status %02Xh)", ret.status));
  // ERR or DF: the drive failed the command; the caller reads that in the
  // status and error registers.
  if (ret.status & (ata::kStatusErr | ata::kStatusDf)) return IoOutcome::success();

  // ERR and DF clear. A sense key that carries nothing but the registers is
  // no failure: NO SENSE, RECOVERED ERROR (ATA PASS-THROUGH INFORMATION
  // AVAILABLE, how CK_COND reports a good completion) and ABORTED COMMAND
  // with no additional sense code, which Linux before 6.11 makes of a final
  // status that still shows DRQ after a complete data transfer. Any other
  // key or code is a failure the status register does not show (a time-out
  // or a bus error in the host).
  const bool onlyRegisters =
      (summary.key == kSenseNoSense || summary.key == kSenseRecoveredError || summary.key == kSenseAbortedCommand) &&
      summary.asc == 0x00 && (summary.ascq == 0x00 || summary.ascq == kAscqPassThroughInformation);
  if (!onlyRegisters)
    return IoOutcome::failure(IoError::OsFailure, 0,
                              format("failed: sense key %Xh, ASC/ASCQ %02Xh/%02Xh, status %02Xh", summary.key,
                                     summary.asc, summary.ascq, ret.status));
  if (request.bytesTransferred < request.dataTransferLength)
    return IoOutcome::failure(IoError::OsFailure, 0,
                              format("%u of %u bytes moved (sense key %Xh, status %02Xh)", request.bytesTransferred,
                                     request.dataTransferLength, summary.key, ret.status));
  // A command's result may be its registers: it needs the low-order ones,
  // and the high-order ones when it is a 48-bit command, unless it moved
  // sectors to or from the media (its result is the data). Those not
  // returned keep what was sent, which for a register result would be a
  // wrong answer given as right (a max address with its upper bytes zero).
  const bool needsRegisters = request.dataTransferLength == 0 || !isMediaTransfer(opcode);
  const bool needsHigh = needsRegisters && (request.ataFlags & kAtaFlags48Bit);
  if ((needsRegisters && !ret.lowKnown) || (needsHigh && !ret.highKnown))
    return IoOutcome::failure(IoError::OsFailure, 0,
                              "fixed-format sense data did not carry every returned ATA register");
  return IoOutcome::success();
}

IoOutcome finishAtaRequest(const sg_io_hdr& hdr, const SgSenseBuffer& sense, AtaPassThroughRequest& request) {
  request.bytesTransferred = transferred(hdr);
  IoOutcome transport = outcomeFromSgStatus(hdr.host_status, hdr.driver_status);
  if (!transport.ok()) return transport;
  return interpretAtaCompletion(hdr.status, sense.data(), senseWritten(hdr), request);
}

std::array<uint8_t, 10> buildModeSenseControlCdb(uint16_t allocationLength) {
  std::array<uint8_t, 10> cdb = {scsi::kModeSense10, 0x08, 0x0A};
  putBe16(&cdb[7], allocationLength);
  return cdb;
}

bool extractControlPage(const uint8_t* data, size_t length, std::array<uint8_t, 12>& page) {
  if (data == nullptr || length < 8) return false;
  const size_t dataLength = std::min<size_t>(length, size_t{2} + be16(data));
  const size_t blockDescriptors = be16(data + 6);
  const size_t at = 8 + blockDescriptors;
  if (at + page.size() > dataLength) return false;
  if ((data[at] & 0x3F) != 0x0A || data[at + 1] < 0x0A) return false;
  std::memcpy(page.data(), data + at, page.size());
  return true;
}

void buildModeSelectControlPage(const std::array<uint8_t, 12>& page, std::array<uint8_t, 10>& cdb,
                                std::array<uint8_t, 20>& parameters) {
  cdb = {scsi::kModeSelect10, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(parameters.size()), 0x00};
  parameters.fill(0);
  std::memcpy(parameters.data() + 8, page.data(), page.size());
  parameters[8] &= 0x3F;  // PS is reserved in MODE SELECT
  parameters[9] = 0x0A;
}

void buildModeSelectDescriptorSense(const std::array<uint8_t, 12>& page, std::array<uint8_t, 10>& cdb,
                                    std::array<uint8_t, 20>& parameters) {
  buildModeSelectControlPage(page, cdb, parameters);
  parameters[10] |= kControlPageDSense;
}

}  // namespace zorv::platform
