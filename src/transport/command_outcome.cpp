#include "transport/command_outcome.h"

#include "transport/context.h"

namespace zorv {

std::string commandFailureText(const Context& ctx) {
  const CommandOutcome& o = ctx.lastOutcome;
  switch (o.failure) {
    case CommandFailure::None:
      return {};
    case CommandFailure::NotSent:
      return std::string("not sent: ") + o.refusal;
    case CommandFailure::Io: {
      std::string text(ioErrorName(o.io.error));
      if (!o.io.detail.empty()) text += ": " + o.io.detail;
      return text;
    }
    case CommandFailure::AtaError:
      return formatText("ATA status %02Xh, error %02Xh", o.ataStatus, o.ataError);
    case CommandFailure::ScsiStatus:
      return formatText("SCSI status %02Xh, sense %X/%02X/%02X", o.scsiStatus, ctx.LastSense[2] & 0x0F,
                        ctx.LastSense[12], ctx.LastSense[13]);
    case CommandFailure::ReadCheck:
      return "the data read failed the block stamp check";
    case CommandFailure::Stopped:
      return "stopped by the operator";
    case CommandFailure::QueueTimeout:
      return "no queued transfer completed within the command time-out";
    case CommandFailure::ShortTransfer:
      return formatText("the drive returned %u of %u bytes", o.bytesMoved, o.bytesAsked);
  }
  return {};
}

bool transferFitsBuffer(Context& ctx, uint64_t bytes, size_t bufferSize) {
  if (bytes <= bufferSize) return true;
  PrintMessage(ctx, "Data Length %llu(0x%llX) Bytes Over Buffer Size 0x%zX, Not Sent",
               static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(bytes), bufferSize);
  ctx.lastOutcome = CommandOutcome::notSent("larger than the data buffer", true);
  return false;
}

bool failShortTransfer(Context& ctx, uint32_t moved, uint32_t asked) {
  if (moved >= asked) return false;
  PrintMessage(ctx, "Short Transfer, %u of %u Bytes", moved, asked);
  ctx.lastOutcome = CommandOutcome{};
  ctx.lastOutcome.failure = CommandFailure::ShortTransfer;
  ctx.lastOutcome.bytesMoved = moved;
  ctx.lastOutcome.bytesAsked = asked;
  ctx.lastOutcome.reported = true;
  return true;
}

void PrintFailureCause(Context& ctx) {
  if (ctx.lastOutcome.reported) return;
  std::string text = commandFailureText(ctx);
  if (!text.empty()) PrintError(ctx, "Cause: %s", text.c_str());
}

}  // namespace zorv
