#pragma once
// What one operation of the diagnostics console works with while a run is
// in progress: the drive (Context), the console's message pane, the input
// boxes as they were when the run started, the model class, the console's
// clock, the directory files go to, and memory that outlives the run.
//
// Every row of the operation table is performed by a RowFunction; query rows
// get the 512-byte reply at the start of SectorBuffer. A RowFunction appends
// its text to the pane (run.append) and returns it for the run log.

#include <any>
#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "transport/context.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/vendor_command.h"
#include "transport/user_interface.h"

namespace zorv {

constexpr size_t kVendorOperationCount = 36;

// The console's input boxes, as typed.
struct DiagInputs {
  std::string channel;
  std::string chip;
  std::string die;
  std::string plane;
  std::string block;
  std::string raid;
  std::string page;
  std::string count;
  std::string staticBox;
  std::string startPpn;
  std::string endPpn;
  std::string map;  // the "0 Map, 1Table" choice: "00", "01" or "" when the list is empty
  std::string startMemory;
  std::string memoryLength;
  std::string address;  // target of "780001 Std ATA Set Max Address"
};

// The console's clock: local date and time plus a valid flag.
struct DiagClockValue {
  std::tm time{};
  bool valid = false;
  int month() const { return valid ? time.tm_mon + 1 : -1; }
  int day() const { return valid ? time.tm_mday : -1; }
  int hour() const { return valid ? time.tm_hour : -1; }
  int minute() const { return valid ? time.tm_min : -1; }
  int second() const { return valid ? time.tm_sec : -1; }
  int year() const { return valid ? time.tm_year + 1900 : -1; }
  // "%02d%02d%02d%02d%02d" of month, day, hour, minute, second.
  std::string stamp() const;
};

// Per-row memory that lives as long as the console (for example a layout a
// row has read, or the file a row loaded); indexed by row.
using RowMemory = std::array<std::any, kVendorOperationCount>;

struct DiagRun {
  DiagRun(Context& c, MessageSink& p, RowMemory& m) : ctx(c), pane(p), memory(m) {}

  Context& ctx;
  MessageSink& pane;
  RowMemory& memory;
  DiagInputs inputs;
  uint16_t modelClass = 0;
  DiagClockValue clock;
  std::filesystem::path directory = ".";

  // Where the long rows (dumps) show how far they are; nullptr: nowhere.
  ProgressSink* progress = nullptr;

  // Set when any command of the run failed (the run goes on regardless).
  bool commandFailed = false;
  // Set when a long row ended early because the operator asked it to stop.
  bool stopped = false;
  // Set when a row refused what it was given (an input box, a file or the
  // lack of one) as unusable; nothing was sent for that row.
  bool inputRefused = false;
  // Whether the vendor query of the current row wrote its sector and read
  // the reply that is now at the start of SectorBuffer.
  bool replyRead = true;
  // Row 33 leaves the address it read here for the console's address box.
  std::optional<std::string> addressBox;
  // The last Info SSD record and SMART sector the run decoded.
  std::optional<InfoSsdRecord> infoSsd;
  std::optional<std::array<uint8_t, 512>> smartData;

  // Appends to the pane (AppendMessage, message mode applies). The pane is a
  // text box: NUL bytes are dropped there, the returned texts keep them.
  void append(std::string_view text);
  // Appends text to the pane and returns it, for the run log.
  std::string show(std::string text);
  // "<what> Fail" and the reason of the last failed command, shown and
  // returned: what a row says in place of its done message.
  std::string showFailure(std::string_view what);

  // The transport calls, remembering failures.
  bool send(bool dataOut, AtaTaskFile& taskFile, bool useDma, uint32_t byteCount);
  bool write(const VendorCommandSector& sector);
  bool readBuffer();
  VendorQueryResult query(const VendorCommandSector& sector);
  bool vendorCommand(uint8_t code, uint8_t parameter);
  bool vendorSwitch(uint8_t code, uint8_t value);

  // Asked between two commands of a long row: true when the operator has
  // asked the run to stop (Stop, Esc). The first time, "STOP!" goes to the
  // pane and the run is marked stopped; the row ends and says so in its text.
  bool stopRequested();
  // done of total steps of the current row, as a percentage.
  void showProgress(uint64_t done, uint64_t total);

  // The first n bytes of SectorBuffer.
  std::span<const uint8_t> buffer(size_t n = 512) const;
  // The clock at this moment: files a row writes are named when they are
  // made, not when the run started.
  DiagClockValue now() const;
  std::filesystem::path file(const std::string& name) const { return directory / name; }
};

using RowFunction = std::string (*)(DiagRun& run, size_t row);

// What a row that was stopped adds to its text (and so to the run log).
constexpr std::string_view kRunStoppedText = "STOP!\r\n";

// What a row whose reply could not be read shows in place of the reply:
// "<what> Fail: the drive did not answer\r\n".
std::string QueryFailureText(std::string_view what);
// Hex rows "%04X: " + 16 x "%02X " + "\r\n", then "----------------\r\n".
std::string RawReplyText(std::span<const uint8_t> bytes);
// The default decoder: the 512-byte reply shown raw.
std::string ShowRawReply(DiagRun& run, size_t row);

}  // namespace zorv
