#pragma once
// The buffer editor: 512 bytes of SectorBuffer as a 32 x 16 grid of
// hexadecimal cells that are edited and written back, and a byte range
// filled with one value. It works on SectorBuffer in place.

#include <array>
#include <cstdint>
#include <string>

namespace zorv {

struct Context;
struct DumpPane;

class BufferEditor {
 public:
  static constexpr int kRows = 32;
  static constexpr int kColumns = 16;
  // The list's columns: an address column and 16 byte columns ("title,
  // width[,alignment]" entries separated by "; ").
  static constexpr const char* kColumnSpec =
      "0,40; 01,28,1; 02,28,1; 03,28,1; 04,28,1; 05,28,1; 06,28,1; 07,28,1; 08,28,1; 09,28,1; 10,28,1; "
      "11,28,1; 12,28,1; 13,28,1; 14,28,1; 15,28,1; 16,28,1";

  // Opening: rows from offset 0 and the edits "0000", "0200", "00".
  void open(Context& ctx);

  // Fills the grid from SectorBuffer[address ...].
  void showRows(Context& ctx, uint32_t address);

  // "Start Addr." changed: a 4-character address is aligned to 16 bytes
  // (its last character becomes '0'); the rows then follow the address.
  // Returns the text the edit shows afterwards.
  std::string startAddressChanged(Context& ctx, std::string text);

  // "Enter": every cell parsed as hexadecimal and stored back where the grid
  // shows it; the dump is refreshed.
  void enter(Context& ctx, DumpPane* dump);

  // "Save": fills SectorBuffer[start .. end) with the value (nothing when the
  // start is not below the end) and shows the rows from the start.
  void save(Context& ctx, DumpPane* dump);

  // The address the grid's first row shows.
  uint32_t shownAddress() const { return shown_; }

  std::string startText;
  std::string endText;
  std::string valueText;
  std::array<std::string, kRows> addresses;
  std::array<std::array<std::string, kColumns>, kRows> cells;

 private:
  uint32_t shown_ = 0;
};

}  // namespace zorv
