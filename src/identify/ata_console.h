#pragma once
// The any-ATA console: eight task-file registers typed in hexadecimal, the
// data direction, DMA flag and transfer length worked out from the opcode,
// and the command sent to the selected drive.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "transport/ata_task_file.h"

namespace zorv {

struct Context;
struct DumpPane;

// Parses hexadecimal up to the first non-hexadecimal character, reading at
// most the edit's 4 characters; an empty text gives 0.
uint16_t parseHexField(std::string_view text, size_t maxDigits = 4);

// The edits in their order on the console.
enum ConsoleEdit : int {
  kEditDataByte,
  kEditFeatures,
  kEditSectorCnt,
  kEditSectorNum,
  kEditCylinderLow,
  kEditCylinderHigh,
  kEditDeviceHead,
  kEditCommand,
  kConsoleEditCount
};

struct ConsoleEditInfo {
  int id;
  const char* label;
};
const std::array<ConsoleEditInfo, kConsoleEditCount>& consoleEdits();

// Parses the eight edits into a cleared task file: a 4-digit count or LBA
// entry fills both the current and the previous (48-bit) register.
AtaTaskFile consoleTaskFile(const std::array<std::string, kConsoleEditCount>& edits);

struct ConsoleTransfer {
  bool dataOut = false;
  bool dma = false;
  uint32_t length = 0;  // bytes
};

// Direction, DMA and length of a console command. "Data out" decides for
// opcodes neither table names. The length is what the registers ask for, up
// to 32 MiB; sending refuses more than SectorBuffer holds.
ConsoleTransfer planConsoleTransfer(const AtaTaskFile& tf, bool dataOutChecked);

// The vendor flash-location query (F7h, feature 31h) for one argument:
// prints the location fields of the returned data.
bool QueryFlashLocation(Context& ctx, uint8_t argument);

class AnyAtaConsole {
 public:
  // Opening: the edits show CmdBlock bytes 0-7, "Data out" is checked for
  // F7h; fgBusy is set, fgStopRequest cleared and the drive list attached to
  // ctx disabled (enabled again on closing when a drive is attached).
  void open(Context& ctx);

  // "Send": parses the edits into CmdBlock and sends the command; reports on
  // the message pane. dump, when given, is refreshed afterwards. Clears
  // fgBusy. True when the drive completed the command.
  bool send(Context& ctx, DumpPane* dump = nullptr);

  // "Abort": nothing is sent.
  void abort(Context& ctx, DumpPane* dump = nullptr);

  std::array<std::string, kConsoleEditCount> edits;
  bool dataOut = false;
  // The transfer the last send used.
  ConsoleTransfer lastTransfer;

 private:
  void finish(Context& ctx, DumpPane* dump);
};

}  // namespace zorv
