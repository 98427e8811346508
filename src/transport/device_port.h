#pragma once
// The narrow interface every device backend implements: the Linux SG_IO
// backend (src/platform/linux), the simulated drive bay (src/sim) and, later,
// a Windows one. The transport builds requests exactly as a pass-through
// driver wants them; a backend only carries them to the device and back.
//
// Errors are split the way a service engineer needs them: "could not send"
// (no device, no permission, OS failure, time-out) is the IoOutcome; "the
// device refused" is the ATA status/error registers or the SCSI status and
// sense data inside the request.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/device_events.h"

namespace zorv {

class DeviceEventSource;

enum class IoError : uint8_t {
  None,              // the request reached the device and completed (it may still report an error)
  NoDevice,          // nothing at that path (or it vanished)
  PermissionDenied,  // the path exists but cannot be opened: needs root or CAP_SYS_RAWIO
  Busy,              // the device is held exclusively by someone else
  NotSupported,      // the backend or the path cannot carry this request
  OsFailure,         // the pass-through request itself failed
  Timeout,           // the device did not complete within the time-out
};

struct IoOutcome {
  IoError error = IoError::None;
  int osErrno = 0;
  std::string detail;  // short human text for logs; empty on success

  bool ok() const { return error == IoError::None; }
  static IoOutcome success() { return {}; }
  static IoOutcome failure(IoError e, int err = 0, std::string text = {}) {
    return IoOutcome{e, err, std::move(text)};
  }
};

std::string_view ioErrorName(IoError e);

// ATA_PASS_THROUGH_DIRECT flags.
enum AtaFlags : uint16_t {
  kAtaFlagsDrdyRequired = 0x01,
  kAtaFlagsDataIn = 0x02,
  kAtaFlagsDataOut = 0x04,
  kAtaFlags48Bit = 0x08,
  kAtaFlagsUseDma = 0x10,
};

// The ATA pass-through request: register images in, register images out.
// Current task file: 0 Features/Error, 1 Count, 2 LBA low, 3 LBA mid,
// 4 LBA high, 5 Device, 6 Command/Status, 7 reserved (the console's data byte).
// Previous task file: the same for the high-order (48-bit) halves.
struct AtaPassThroughRequest {
  uint16_t ataFlags = 0;
  uint32_t dataTransferLength = 0;
  uint8_t* dataBuffer = nullptr;
  uint32_t timeOutValue = 0;  // seconds
  std::array<uint8_t, 8> currentTaskFile{};
  std::array<uint8_t, 8> previousTaskFile{};
  // Filled by the backend: bytes the device actually moved.
  uint32_t bytesTransferred = 0;
};

// SCSI_IOCTL_DATA_* direction values.
enum ScsiDirection : uint8_t { kScsiDataOut = 0, kScsiDataIn = 1 };

constexpr int kSenseLength = 18;

// One SCSI pass-through request (header, CDB and an 18-byte fixed-format
// sense area), cleared before each command is built.
struct ScsiRequest {
  uint8_t cdbLength = 0;
  uint8_t senseInfoLength = kSenseLength;
  uint8_t dataIn = kScsiDataOut;
  uint32_t dataTransferLength = 0;
  uint32_t timeOutValue = 0;  // seconds
  uint8_t* dataBuffer = nullptr;
  std::array<uint8_t, 16> cdb{};
  // The data-in length is only the most the command may return (its
  // allocation length, or a buffer sized for any command): a shorter reply
  // is complete. Otherwise a data-in transfer that moved less has failed.
  bool replyMayBeShorter = false;
  // Filled by the backend.
  uint8_t scsiStatus = 0;                      // 0 GOOD, 2 CHECK CONDITION, ...
  std::array<uint8_t, kSenseLength> sense{};   // always fixed format (70h), whatever the device sent
  uint32_t bytesTransferred = 0;

  void clear() { *this = ScsiRequest{}; }
};

// Why a backend cannot carry a SCSI request (a CDB length outside 1..16, data
// without a buffer); empty when it can.
std::string scsiRequestProblem(const ScsiRequest& request);

// State of one of the 16 queue slots as the backend sees it.
enum class SlotState : uint8_t { Idle, InFlight, Complete };

class DevicePort {
 public:
  virtual ~DevicePort() = default;

  // Backend name for messages ("linux", "sim").
  virtual std::string_view name() const = 0;

  // Path of physical drive n (0..7): "/dev/sda", "sim:0", ...
  virtual std::string physicalDrivePath(int n) const = 0;

  // Opens the device, shared as every command does, and asks its storage bus
  // type (kBusSata, kBusUsb, ... or 0 when the bus is not one the tool
  // names). Fails when the device does not open.
  virtual IoOutcome queryBusType(const std::string& path, uint8_t& busType) = 0;

  // Claims the device exclusively for a moment: Busy when the system holds
  // it (a mounted file system on it or a partition, swap, a RAID or volume-
  // manager member) or another program has claimed it. Raw media writes ask
  // this; nothing else needs the drive to itself. Backends without such
  // claims succeed.
  virtual IoOutcome probeExclusive(const std::string& path) {
    (void)path;
    return IoOutcome::success();
  }

  // The block device that holds the sectors of the drive at `path`, so that
  // file systems mounted from it (or from its partitions) can be told to lie
  // on this drive: the disk itself for the OS backend, a simulated drive's
  // media when that is a block device (a loop device). Empty when the drive's
  // sectors are on no block device.
  virtual std::string blockDevicePath(const std::string& path) const {
    (void)path;
    return {};
  }

  // Mount points of the file systems on physical drive n that the backend
  // finds by itself (Windows: "E:\\" for each drive letter whose volume lies
  // on the disk); empty where volumes come from a mount table instead.
  virtual std::vector<std::string> mountedVolumes(int n) const {
    (void)n;
    return {};
  }

  // ATA pass-through on an ATA/SATA port. Synchronous.
  virtual IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& request) = 0;

  // Whether ataPassThrough carries current task file byte 7 (the console's
  // data byte) to the drive; a backend that translates to a SCSI CDB has no
  // field for it.
  virtual bool carriesAtaDataByte() const { return true; }

  // SCSI pass-through. Synchronous.
  virtual IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& request) = 0;

  // Queued SCSI pass-through on slot 0..15. Returns at once; the request and
  // its data buffer belong to the backend until pollSlot() reports Complete,
  // when scsiStatus, sense and bytesTransferred have been filled in.
  virtual IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) = 0;

  // Non-blocking: Idle (never used or already collected), InFlight, or
  // Complete (collected by this call; the slot becomes Idle).
  virtual SlotState pollSlot(int slot) = 0;

  // Blocks until a queued transfer has finished (its next pollSlot reports
  // Complete) or `timeout` has passed, whichever comes first; returns at once
  // when one has already finished or none is in flight. A backend without a
  // way to wait returns at once, and its caller polls again.
  virtual void waitQueued(std::chrono::milliseconds timeout) { (void)timeout; }

  // Waits for every queued transfer to finish and forgets them.
  virtual void drainQueue() = 0;

  // Forgets the queued transfers without waiting for a drive that may never
  // answer, where the backend can do so safely (the slot buffers are never
  // touched again); otherwise the same as drainQueue().
  virtual void abandonQueue() { drainQueue(); }

  // Device arrival/removal notifications; nullptr when the backend has none.
  virtual std::unique_ptr<DeviceEventSource> watchDevices() { return nullptr; }
};

}  // namespace zorv
