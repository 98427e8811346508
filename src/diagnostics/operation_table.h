#pragma once
// The 36 operations of the diagnostics console: what each sends and which
// function performs or decodes it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/diag_run.h"
#include "diagnostics/vendor_command.h"

namespace zorv {

enum class OperationKind : uint8_t {
  Query,          // vendor query with the row's sector; `function` decodes the reply
  WriteOnly,      // the row's sector written, no reply; `message` follows
  VendorCommand,  // SendVendorCommand(code, 0), `message`, then the power-off box
  SmartRead,      // SMART READ DATA and its decode
  Switches,       // one or two F7h switches, each followed by its message
  MaxAddress,     // ACCESSIBLE MAX ADDRESS CONFIGURATION (78h), `feature` = 0, 1 or 2
  Restore,        // open a file, write the 51h request, then `function` streams it
  Procedure,      // `function` performs the whole row
};

struct SwitchStep {
  uint8_t code;
  uint8_t value;
  std::string_view message;
};

// How a query row fills argument bytes 16-31 from the input boxes.
enum class ArgumentLayout : uint8_t { None, OnePpn, PpnRange, BlockAddress, PlaneAddress };

struct VendorOperation {
  uint8_t index;
  std::string_view text;
  OperationKind kind;
  uint8_t code = 0;
  std::optional<uint8_t> parameter;  // none: the byte keeps its 0xFF fill
  ArgumentLayout arguments = ArgumentLayout::None;
  std::string_view message;          // WriteOnly and VendorCommand rows
  uint8_t switchCount = 0;
  std::array<SwitchStep, 2> switches{};
  uint8_t feature = 0;               // MaxAddress rows
  RowFunction function = nullptr;    // Query: decoder; Restore: stream; Procedure: the row
};

const std::array<VendorOperation, kVendorOperationCount>& VendorOperationList();
// nullptr when row is out of range.
const VendorOperation* vendorOperation(size_t row);

// An operation named by its row index ("19") or the leading hex code of its
// text ("B0D0", "30", "780001"), case-insensitive.
std::optional<size_t> findVendorOperation(std::string_view name);

// Hexadecimal box: unsigned 32-bit, leading blanks skipped, optional "0x",
// digits up to the first non-hex character, empty reads 0, saturates at FFFFFFFFh.
uint32_t readHexBox(std::string_view text);
// A hexadecimal box read strictly: blanks around and a leading "0x" allowed,
// otherwise hex digits only (beyond 64 bits it saturates); none when it is
// empty or holds anything else.
std::optional<uint64_t> parseHexBox(std::string_view text);
// The max-address box: upper-cased, every "H" removed, read as 64-bit hex the same way.
uint64_t readAddressBox(std::string_view text);
// The box as "780001" takes it: upper-cased, every "H", the blanks around
// and a leading "0X" removed.
std::string addressBoxText(std::string_view text);
// That text as an address when it is hex digits only (beyond 64 bits it
// saturates); none when it is empty or holds anything else.
std::optional<uint64_t> parseAddressBox(std::string_view text);

// The command sector of a Query or WriteOnly row for the given inputs; none
// for other kinds.
std::optional<VendorCommandSector> buildOperationSector(size_t row, const DiagInputs& inputs, uint16_t modelClass);

// The restore request (code 51h, parameter left 0xFF): bytes 16-17 = sectors.
VendorCommandSector buildRestoreRequest(uint16_t sectors);

// Performs row: sends what the row sends, decodes, appends the pane text and
// returns it for the run log.
std::string PerformOperation(DiagRun& run, size_t row);

}  // namespace zorv
