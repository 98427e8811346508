#include "tcmu/tcmu_ring.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace zorv::tcmu {

namespace {

// The mailbox and entry fields at the offsets of the kernel's packed
// structures (linux/target_core_user.h, whose inline helpers do not compile
// as C++); read and written with memcpy, the ring positions atomically.
//   mailbox: version u16 @0, flags u16 @2, cmdr_off u32 @4, cmdr_size u32 @8,
//            cmd_head u32 @12, cmd_tail u32 @64 (its own cache line)
//   entry:   len_op u32 @0 (length | opcode in bits 2-0), cmd_id u16 @4,
//            kflags u8 @6, uflags u8 @7, then
//     req:   iov_cnt u32 @8, iov_bidi_cnt @12, iov_dif_cnt @16, cdb_off u64 @24
//            (the request part itself is not packed), two u64 of padding,
//            iov[] @48 (16-byte iovecs)
//     rsp:   scsi_status u8 @8, read_len u32 @12, sense_buffer[96] @16
constexpr size_t kVersionAt = 0;
constexpr size_t kFlagsAt = 2;
constexpr size_t kCmdrOffAt = 4;
constexpr size_t kCmdrSizeAt = 8;
constexpr size_t kHeadAt = 12;
constexpr size_t kTailAt = 64;
constexpr size_t kMailboxSize = 68;

constexpr size_t kHeaderSize = 8;
constexpr size_t kUflagsAt = 7;
constexpr size_t kIovCountAt = 8;
constexpr size_t kCdbOffAt = 24;
constexpr size_t kIovAt = 48;
constexpr size_t kIovSize = 16;
constexpr size_t kStatusAt = 8;
constexpr size_t kReadLenAt = 12;
constexpr size_t kSenseAt = 16;

constexpr uint32_t kOpMask = 0x7;
constexpr uint32_t kOpPad = 0;
constexpr uint32_t kOpCmd = 1;
constexpr uint16_t kCapReadLength = 1 << 1;
constexpr uint8_t kUflagUnknownOp = 0x1;
constexpr uint8_t kUflagReadLength = 0x2;

template <class T>
T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

uint32_t atomicLoad(uint8_t* p) {
  return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(p)).load(std::memory_order_acquire);
}

void atomicStore(uint8_t* p, uint32_t v) {
  std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(p)).store(v, std::memory_order_release);
}

bool inside(uint64_t offset, uint64_t length, size_t size) { return offset <= size && length <= size - offset; }

}  // namespace

size_t TcmuCommand::dataBytes() const {
  size_t n = 0;
  for (const auto& s : data) n += s.size();
  return n;
}

size_t cdbLengthOf(uint8_t opcode) {
  switch (opcode >> 5) {
    case 0: return 6;
    case 1: case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 16;
  }
}

bool TcmuRing::check(std::string& error) const {
  if (base_ == nullptr || size_ < kMailboxSize) {
    error = "the mapping is smaller than the TCMU mailbox";
    return false;
  }
  const uint16_t version = load<uint16_t>(base_ + kVersionAt);
  if (version != 2) {
    error = "TCMU mailbox version " + std::to_string(version) + " is not 2";
    return false;
  }
  const uint32_t off = load<uint32_t>(base_ + kCmdrOffAt);
  const uint32_t ringSize = load<uint32_t>(base_ + kCmdrSizeAt);
  if (ringSize == 0 || ringSize % 8 != 0 || !inside(off, ringSize, size_)) {
    error = "the TCMU command ring lies outside the mapping";
    return false;
  }
  return true;
}

bool TcmuRing::offersReadLength() const {
  return load<uint16_t>(base_ + kFlagsAt) & kCapReadLength;
}

int TcmuRing::serve(const CommandHandler& handler) {
  const uint32_t ringOff = load<uint32_t>(base_ + kCmdrOffAt);
  const uint32_t ringSize = load<uint32_t>(base_ + kCmdrSizeAt);
  uint8_t* ring = base_ + ringOff;
  uint32_t tail = atomicLoad(base_ + kTailAt);
  const uint32_t head = atomicLoad(base_ + kHeadAt);
  int served = 0;

  while (tail != head) {
    if (tail >= ringSize || ringSize - tail < kHeaderSize) return -1;
    uint8_t* entry = ring + tail;
    const uint32_t lenOp = load<uint32_t>(entry);
    const uint32_t length = lenOp & ~kOpMask;
    // An entry never wraps: the kernel pads to the ring's end instead.
    if (length == 0 || length > ringSize - tail) return -1;
    const uint32_t op = lenOp & kOpMask;
    uint8_t uflags = 0;

    if (op == kOpCmd && length >= kIovAt) {
      TcmuCommand command;
      TcmuResponse response;
      const uint32_t iovCount = load<uint32_t>(entry + kIovCountAt);
      const uint64_t cdbOff = load<uint64_t>(entry + kCdbOffAt);
      bool sound = iovCount <= (length - kIovAt) / kIovSize && cdbOff < size_;
      if (sound) {
        const size_t cdbLength = std::min(cdbLengthOf(base_[cdbOff]), size_ - cdbOff);
        command.cdb = {base_ + cdbOff, cdbLength};
        for (uint32_t i = 0; i < iovCount && sound; ++i) {
          const uint64_t at = load<uint64_t>(entry + kIovAt + i * kIovSize);
          const uint64_t len = load<uint64_t>(entry + kIovAt + i * kIovSize + 8);
          sound = inside(at, len, size_);
          if (sound) command.data.emplace_back(base_ + at, static_cast<size_t>(len));
        }
      }
      if (sound) {
        handler(command, response);
      } else {
        // HARDWARE ERROR, INTERNAL TARGET FAILURE: the kernel sent an entry
        // that does not fit the mapping.
        response.scsiStatus = 0x02;
        response.sense[0] = 0x70;
        response.sense[2] = 0x04;
        response.sense[7] = 10;
        response.sense[12] = 0x44;
      }
      // The reply overwrites the request part of the entry.
      entry[kStatusAt] = response.scsiStatus;
      if (length >= kSenseAt + kTcmuSenseBytes)
        std::memcpy(entry + kSenseAt, response.sense.data(), kTcmuSenseBytes);
      if (response.shortRead && offersReadLength()) {
        store<uint32_t>(entry + kReadLenAt, response.readLength);
        uflags |= kUflagReadLength;
      }
      ++served;
    } else if (op != kOpPad) {
      // Task management notifications and anything newer: not known here.
      uflags |= kUflagUnknownOp;
    }
    entry[kUflagsAt] = static_cast<uint8_t>(entry[kUflagsAt] | uflags);
    tail = (tail + length) % ringSize;
    atomicStore(base_ + kTailAt, tail);
  }
  return served;
}

}  // namespace zorv::tcmu
