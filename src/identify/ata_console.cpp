#include "identify/ata_console.h"

#include <algorithm>

#include "discovery/drive_list.h"
#include "discovery/drive_selected.h"
#include "identify/identify_text.h"
#include "transport/ata_command.h"
#include "transport/byte_order.h"
#include "transport/context.h"

namespace zorv {

uint16_t parseHexField(std::string_view text, size_t maxDigits) {
  uint32_t value = 0;
  for (size_t i = 0; i < text.size() && i < maxDigits; ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else break;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return static_cast<uint16_t>(value);
}

const std::array<ConsoleEditInfo, kConsoleEditCount>& consoleEdits() {
  static const std::array<ConsoleEditInfo, kConsoleEditCount> edits = {{
      {1030, "Data Byte"},
      {1031, "Features"},
      {1032, "Sector Cnt"},
      {1033, "Sector Num"},
      {1034, "Cylinder Low"},
      {1035, "Cylinder High"},
      {1036, "Device/Head"},
      {1037, "Command"},
  }};
  return edits;
}

AtaTaskFile consoleTaskFile(const std::array<std::string, kConsoleEditCount>& edits) {
  auto lo = [&](int e) { return static_cast<uint8_t>(parseHexField(edits[e]) & 0xFF); };
  auto hi = [&](int e) { return static_cast<uint8_t>(parseHexField(edits[e]) >> 8); };
  AtaTaskFile tf;
  tf.ucDataByte = lo(kEditDataByte);
  tf.ucFeature = lo(kEditFeatures);
  tf.ucCount = lo(kEditSectorCnt);
  tf.ucCountExt = hi(kEditSectorCnt);
  tf.ucLbaLow = lo(kEditSectorNum);
  tf.ucLbaLowExt = hi(kEditSectorNum);
  tf.ucLbaMid = lo(kEditCylinderLow);
  tf.ucLbaMidExt = hi(kEditCylinderLow);
  tf.ucLbaHigh = lo(kEditCylinderHigh);
  tf.ucLbaHighExt = hi(kEditCylinderHigh);
  tf.ucDevice = lo(kEditDeviceHead);
  tf.ucCommand = lo(kEditCommand);
  return tf;
}

namespace {

bool inList(uint8_t op, std::initializer_list<uint8_t> list) {
  return std::find(list.begin(), list.end(), op) != list.end();
}

}  // namespace

ConsoleTransfer planConsoleTransfer(const AtaTaskFile& tf, bool dataOutChecked) {
  ConsoleTransfer t;
  t.length = (uint32_t{tf.ucCountExt} * 256 + tf.ucCount) * 512;
  const uint8_t op = tf.ucCommand;

  // First table: the classic PIO and DMA commands.
  if (inList(op, {0x25, 0xC7, 0xC8, 0xC9})) {
    t.dataOut = false;
    t.dma = true;
  } else if (inList(op, {0x30, 0x31, 0x32, 0x33, 0x38, 0x3C, 0x92, 0xC5, 0xCD, 0xE8, 0xE9, 0xF1, 0xF2, 0xF4,
                         0xF6})) {
    t.dataOut = true;
  } else if (inList(op, {0x35, 0xCA, 0xCB, 0xCC})) {
    t.dataOut = true;
    t.dma = true;
  } else if (op == ata::kSmart) {
    t.dataOut = tf.ucFeature == 0xD6;  // SMART WRITE LOG
  } else if (op == 0xF9) {
    t.dataOut = tf.ucFeature == 1 || tf.ucFeature == 3;
  } else {
    t.dataOut = dataOutChecked;
  }

  // Second table, overriding the first: the 48-bit and queued commands.
  if (inList(op, {0x06, 0x35, 0x3A, 0x3D, 0x57})) {
    t.dataOut = true;
    t.dma = true;
  } else if (inList(op, {0x0B, 0x34, 0x39, 0x3B, 0x3F, 0x45, 0x51, 0x63, 0x77, 0xB4, 0xCE})) {
    t.dataOut = true;
    t.dma = false;
  } else if (inList(op, {0x24, 0x29, 0x2B, 0x2F, 0x42, 0x78})) {
    t.dataOut = false;
    t.dma = false;
  } else if (inList(op, {0x25, 0x2A, 0x47})) {
    t.dataOut = false;
    t.dma = true;
  } else if (inList(op, {0x60, 0x65})) {
    // Queued commands carry their sector count in Features.
    t.dataOut = false;
    t.dma = true;
    t.length = uint32_t{tf.ucFeature} * 512;
  } else if (inList(op, {0x61, 0x64})) {
    t.dataOut = true;
    t.dma = true;
    t.length = uint32_t{tf.ucFeature} * 512;
  }

  // A 16-bit count can name up to 32 MiB; SendAtaCommand refuses what does
  // not fit SectorBuffer rather than send registers that ask for more.
  return t;
}

bool QueryFlashLocation(Context& ctx, uint8_t argument) {
  ctx.CmdBlock.clear();
  ctx.CmdBlock.ucFeature = 0x31;
  ctx.CmdBlock.ucCount = argument;
  ctx.CmdBlock.ucLbaLow = 2;
  ctx.CmdBlock.ucCommand = ata::kVendorSwitch;
  if (!SendAtaCommand(ctx, false, ctx.CmdBlock, false, 512)) return false;
  const uint8_t* d = ctx.SectorBuffer.data();
  auto word = [d](int i) { return unsigned{le16(d + 2 * i)}; };
  PrintMessage(ctx, "channel, chip, plan, block, page, auLoc, trim");
  PrintMessage(ctx, "0x%04X, 0x%04X, 0x%04X, 0x%04X, 0x%04X,0x%04X,0x%04X", word(0), word(1), word(2), word(3),
               word(4), word(5), word(6));
  return true;
}

void AnyAtaConsole::open(Context& ctx) {
  const uint8_t* b = ctx.CmdBlock.bytes();
  for (int i = 0; i < kConsoleEditCount; ++i) edits[static_cast<size_t>(i)] = formatText("%02X", b[i]);
  dataOut = ctx.CmdBlock.ucCommand == ata::kVendorSwitch;
  ctx.fgBusy = 1;
  ctx.fgStopRequest = 0;
  if (DriveListView* list = attachedDriveList(ctx)) list->setEnabled(false);
}

bool AnyAtaConsole::send(Context& ctx, DumpPane* dump) {
  ctx.CmdBlock = consoleTaskFile(edits);
  lastTransfer = planConsoleTransfer(ctx.CmdBlock, dataOut);
  const ConsoleTransfer t = lastTransfer;
  const bool selected = checkDriveSelected(ctx);
  bool ok = false;
  if (selected) {
    if (ctx.CmdBlock.ucDataByte != 0 && !ataDataByteTravels(ctx))
      PrintMessage(ctx, "Data Byte %02X cannot reach this drive (no register for it on its path), sent without it",
                   ctx.CmdBlock.ucDataByte);
    // The length comes from the count register, which a vendor command may
    // use for an argument: the drive's reply may be shorter.
    ok = SendAtaCommand(ctx, t.dataOut, ctx.CmdBlock, t.dma, t.length, true);
  }
  if (ok) {
    if (t.length != 0) {
      PrintMessage(ctx, t.dataOut ? "   Data Out, DataCnt = %d(0x%X)Bytes" : "   Data In, DataCnt = %d(0x%X)Bytes",
                   static_cast<int>(t.length), static_cast<unsigned>(t.length));
    }
    if (ctx.CmdBlock.ucCommand == ata::kIdentifyPacketDevice) DecodeIdentifyText(ctx);
    if (ctx.CmdBlock.ucCommand == ata::kVendorSwitch && ctx.CmdBlock.ucFeature == 0x31) {
      QueryFlashLocation(ctx, ctx.CmdBlock.ucCount);
    }
    PrintMessage(ctx, "ATA Command Success");
  } else if (selected) {
    PrintFailureCause(ctx);
  }
  finish(ctx, dump);
  return ok;
}

void AnyAtaConsole::abort(Context& ctx, DumpPane* dump) {
  PrintMessage(ctx, "Abort");
  finish(ctx, dump);
}

void AnyAtaConsole::finish(Context& ctx, DumpPane* dump) {
  AppendMessage(ctx, "\n\n", ctx.messagePane());
  if (DriveListView* list = attachedDriveList(ctx); list && ctx.ucDriveCount != kNoDrive) list->setEnabled(true);
  refreshDump(ctx, dump);
  ctx.fgBusy = 0;
}

}  // namespace zorv
