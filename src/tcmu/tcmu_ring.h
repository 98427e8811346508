#pragma once
// The command ring of a TCMU (target_core_user) device, as the kernel maps it
// through /dev/uioN: a mailbox at offset 0 (version, flags, the ring's offset
// and size, cmd_head written by the kernel, cmd_tail written by us), then the
// command ring, then the data area. Each ring entry is a header (length and
// opcode, command id, flags) and either padding, a task management
// notification or a SCSI command: the CDB's offset and the data buffer as
// iovecs whose bases are offsets into the mapping. The reply (SCSI status,
// sense data, bytes read) is written over the same entry.
//
// Everything the kernel wrote is checked against the mapping's size before
// it is used: an entry, a CDB or a data segment outside the mapping fails the
// command (or stops the walk) instead of reaching outside it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace zorv::tcmu {

constexpr size_t kTcmuSenseBytes = 96;

struct TcmuCommand {
  std::span<const uint8_t> cdb;
  std::vector<std::span<uint8_t>> data;  // the data buffer's segments, in order
  size_t dataBytes() const;
};

struct TcmuResponse {
  uint8_t scsiStatus = 0;
  std::array<uint8_t, kTcmuSenseBytes> sense{};
  // Data-in bytes really produced, when fewer than the buffer holds.
  bool shortRead = false;
  uint32_t readLength = 0;
};

using CommandHandler = std::function<void(const TcmuCommand&, TcmuResponse&)>;

// Length of a CDB from its operation code's group: 6, 10, 12 or 16 bytes;
// 0 for the variable-length and vendor groups, which are taken as 16.
size_t cdbLengthOf(uint8_t opcode);

class TcmuRing {
 public:
  TcmuRing(uint8_t* base, size_t size) : base_(base), size_(size) {}

  // Whether the mailbox describes a ring this code knows and that fits the
  // mapping; error says what is wrong.
  bool check(std::string& error) const;

  // Serves every entry between the tail and the head, in order, and moves
  // the tail past them. Returns the number of SCSI commands completed; -1
  // when an entry lies outside the ring (the walk stops there).
  int serve(const CommandHandler& handler);

  // Reply bit for the kernel: the mailbox offers the read length.
  bool offersReadLength() const;

 private:
  uint8_t* base_;
  size_t size_;
};

}  // namespace zorv::tcmu
