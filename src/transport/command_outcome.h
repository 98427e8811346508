#pragma once
// Why the most recent command failed. SendAtaCommand, SendScsiCommand and the
// queue keep it in the context beside LastSense, so that whoever shows a
// failure can say more than "failed": the request could not be sent (no
// permission, device busy or gone, time-out), the drive refused it (ATA
// status, SCSI status and sense), or it was never sent and why.
//
// Keeping it costs nothing per transfer: a success leaves an empty record,
// and the texts are built only when someone asks for them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/device_port.h"

namespace zorv {

struct Context;

enum class CommandFailure : uint8_t {
  None,         // the command completed without error
  NotSent,      // refused before anything reached the device; `refusal` says why
  Io,           // the request did not reach the device or did not come back: `io`
  AtaError,     // the drive set ERR: `ataStatus`, `ataError`
  ScsiStatus,   // the device answered with a status other than GOOD; sense in LastSense
  ReadCheck,    // the data read failed the block-stamp check
  Stopped,      // the operator asked to stop while the queue waited
  QueueTimeout, // no queued transfer completed within the command time-out
  ShortTransfer, // a data-in command completed with fewer bytes than it asked for: `bytesMoved`, `bytesAsked`
};

struct CommandOutcome {
  CommandFailure failure = CommandFailure::None;
  const char* refusal = "";  // NotSent: a fixed text
  IoOutcome io;              // Io: what the port said
  uint8_t ataStatus = 0;
  uint8_t ataError = 0;
  uint8_t scsiStatus = 0;
  bool reported = false;  // the transport already wrote why (a pane line or a box)
  // Data bytes the device moved: for a command that completed, and for a
  // ShortTransfer (fewer than bytesAsked; the rest of the buffer keeps its fill).
  uint32_t bytesMoved = 0;
  uint32_t bytesAsked = 0;  // ShortTransfer: the length the command asked for

  bool ok() const { return failure == CommandFailure::None; }
  static CommandOutcome notSent(const char* why, bool reported) {
    CommandOutcome o;
    o.failure = CommandFailure::NotSent;
    o.refusal = why;
    o.reported = reported;
    return o;
  }
};

// The last command's failure in words ("permission denied (needs root or
// CAP_SYS_RAWIO): SG_IO /dev/sda", "SCSI status 02h, sense 3/11/00", ...);
// empty when it succeeded.
std::string commandFailureText(const Context& ctx);

// A transfer larger than the buffer it moves through is refused before
// anything is sent: cutting it short would leave the command asking the drive
// for more data than the host moves, and the drive's refusal would read as a
// drive error. False (with the pane line and the outcome) when it does not fit.
bool transferFitsBuffer(Context& ctx, uint64_t bytes, size_t bufferSize);

// A data-in command that completed but moved fewer bytes than it asked for
// has failed: the bytes not returned keep their 0xFF fill and would be read
// as data. Writes "Short Transfer, <moved> of <asked> Bytes" to the message
// pane and records the failure; true when the transfer was short.
bool failShortTransfer(Context& ctx, uint32_t moved, uint32_t asked);

// Writes "Cause: <text>" to the message pane when the last command failed
// and the transport has not already said why; callers put it after their own
// failure line.
void PrintFailureCause(Context& ctx);

}  // namespace zorv
