#pragma once
// The values a simulated drive works with, independent of how a command
// reaches it (ATA pass-through, the SAT bridge of a USB enclosure, the
// queue, or later a user-space SCSI target): register images in and out,
// SCSI status with fixed-format sense data, and the data direction.

#include <array>
#include <cstdint>

namespace zorv::sim {

enum class DataDir : uint8_t { None, In, Out };

// ATA status and error register bits.
constexpr uint8_t kStatusErr = 0x01;
constexpr uint8_t kStatusDrq = 0x08;
constexpr uint8_t kStatusDsc = 0x10;
constexpr uint8_t kStatusDf = 0x20;
constexpr uint8_t kStatusDrdy = 0x40;
constexpr uint8_t kStatusBsy = 0x80;
constexpr uint8_t kStatusGood = kStatusDrdy | kStatusDsc;           // 50h
constexpr uint8_t kStatusError = kStatusDrdy | kStatusDsc | kStatusErr;  // 51h

constexpr uint8_t kErrorAmnf = 0x01;  // also "no error" of EXECUTE DEVICE DIAGNOSTIC
constexpr uint8_t kErrorAbrt = 0x04;
constexpr uint8_t kErrorIdnf = 0x10;
constexpr uint8_t kErrorUnc = 0x40;
constexpr uint8_t kErrorIcrc = 0x80;

// One register image as the drive sees it. A 48-bit command uses the Ext
// (previous) halves; a 28-bit command takes LBA 27:24 from Device bits 3:0.
struct AtaRegisters {
  uint8_t features = 0;
  uint8_t count = 0;
  uint8_t lbaLow = 0;
  uint8_t lbaMid = 0;
  uint8_t lbaHigh = 0;
  uint8_t device = 0;
  uint8_t command = 0;   // on output: unused (status travels in the reply)
  uint8_t dataByte = 0;  // the reserved eighth byte of the image
  uint8_t featuresExt = 0;
  uint8_t countExt = 0;
  uint8_t lbaLowExt = 0;
  uint8_t lbaMidExt = 0;
  uint8_t lbaHighExt = 0;

  uint64_t lba48() const {
    return uint64_t{lbaLow} | (uint64_t{lbaMid} << 8) | (uint64_t{lbaHigh} << 16) | (uint64_t{lbaLowExt} << 24) |
           (uint64_t{lbaMidExt} << 32) | (uint64_t{lbaHighExt} << 40);
  }
  uint32_t lba28() const {
    return uint32_t{lbaLow} | (uint32_t{lbaMid} << 8) | (uint32_t{lbaHigh} << 16) | (uint32_t{device & 0x0Fu} << 24);
  }
  uint32_t count16() const { return uint32_t{count} | (uint32_t{countExt} << 8); }
  void setLba48(uint64_t lba) {
    lbaLow = static_cast<uint8_t>(lba);
    lbaMid = static_cast<uint8_t>(lba >> 8);
    lbaHigh = static_cast<uint8_t>(lba >> 16);
    lbaLowExt = static_cast<uint8_t>(lba >> 24);
    lbaMidExt = static_cast<uint8_t>(lba >> 32);
    lbaHighExt = static_cast<uint8_t>(lba >> 40);
  }
  void setLba28(uint32_t lba) {
    lbaLow = static_cast<uint8_t>(lba);
    lbaMid = static_cast<uint8_t>(lba >> 8);
    lbaHigh = static_cast<uint8_t>(lba >> 16);
    device = static_cast<uint8_t>((device & 0xF0) | ((lba >> 24) & 0x0F));
  }
};

// One ATA command as it arrives at the drive.
struct AtaCommand {
  AtaRegisters regs;
  DataDir dir = DataDir::None;  // the direction the host set up for the data phase
  bool dma = false;             // the host asked for a DMA-protocol transfer
  bool ext = false;             // the high-order (previous) image was sent
};

// How a command ended as the host sees it.
enum class Fate : uint8_t {
  Completed,  // the drive answered (possibly with an error)
  TimedOut,   // no answer: the host gave up after waitMs
  Gone,       // the drive has left its slot (unplugged, power-cycled, replaced)
};

struct AtaReply {
  Fate fate = Fate::Completed;
  uint8_t status = kStatusGood;
  uint8_t error = 0;
  AtaRegisters regs;        // returned registers: count, LBA and device are meaningful
  uint32_t bytes = 0;       // data bytes moved
  uint32_t waitMs = 0;      // TimedOut: how long the host waits before giving up
  uint32_t latencyUs = 0;   // modelled service time of the command

  bool failed() const { return fate != Fate::Completed || (status & kStatusErr) != 0; }
  void abort() {
    status = kStatusError;
    error = kErrorAbrt;
    bytes = 0;
  }
  void fail(uint8_t err) {
    status = kStatusError;
    error = err;
    bytes = 0;
  }
};

constexpr int kFixedSenseLength = 18;
using SenseBytes = std::array<uint8_t, kFixedSenseLength>;

// SCSI status values.
constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;
constexpr uint8_t kScsiTaskAborted = 0x40;

// Sense keys.
constexpr uint8_t kSenseNoSense = 0x0;
constexpr uint8_t kSenseRecovered = 0x1;
constexpr uint8_t kSenseNotReady = 0x2;
constexpr uint8_t kSenseMediumError = 0x3;
constexpr uint8_t kSenseHardwareError = 0x4;
constexpr uint8_t kSenseIllegalRequest = 0x5;
constexpr uint8_t kSenseUnitAttention = 0x6;
constexpr uint8_t kSenseAbortedCommand = 0xB;

// Fixed-format (70h) sense data with the given key and additional sense code.
SenseBytes fixedSense(uint8_t key, uint8_t asc, uint8_t ascq);

struct ScsiReply {
  Fate fate = Fate::Completed;
  uint8_t status = kScsiGood;
  SenseBytes sense{};
  uint32_t bytes = 0;
  uint32_t waitMs = 0;
  uint32_t latencyUs = 0;

  bool failed() const { return fate != Fate::Completed || status != kScsiGood; }
  void checkCondition(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
    status = kScsiCheckCondition;
    sense = fixedSense(key, asc, ascq);
    bytes = 0;
  }
  // Sets the INFORMATION field (and its VALID bit), e.g. the failing LBA.
  void setInformation(uint32_t value);
};

}  // namespace zorv::sim
