#pragma once
// CGenData, the data pattern generator tab, as a model without a window: the
// controls' values as the tab holds them (texts of the edits, states of the
// radio buttons, check boxes and sliders) with their captions' defaults, the
// initialisation, the sliders' LBAs, Gen Data, the "Only Read" switch, and
// the reading of the controls into the parameters of a run (refusing what
// cannot run, with a clear text). The window binds its controls to it;
// zorvctl pattern fills it from its options; both start PatternWorker with
// what runParameters() returns.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pattern/pattern_data.h"
#include "pattern/pattern_worker.h"

namespace zorv {

struct GenDataControls {
  PatternKind kind = PatternKind::CustomValue;  // "Custom Value (Hex, without "0x")" / "Random" / "String"
  std::string value = "11223344";
  ElementWidth width = ElementWidth::Dword;     // "DWORD" / "WORD" / "BYTE"
  ElementStep step = ElementStep::None;         // "Increase" / "Decrease", none selected
  std::string text = "HelloWorld";
  std::string sectorNumber = "80";              // hex
  bool stampRecord = false;
  std::string offset;                           // decimal; "32" when "Stamp Record" is checked
  bool stampLba = false;                        // "Current LBA Addrs (4B)"
  bool stampTime = false;                       // "Time (Big Endian)"
  bool stampSerial = false;                     // "Serial Number"
  std::string serial = "00000000";              // "Serial Number (4B)", hex
  int startSlider = 0;                          // percent, 0 .. 99
  int endSlider = 30;                           // percent, 1 .. 100
  std::string startLba;                         // "%XH"
  std::string endLba;
  std::string startPercent;                     // "%d%%"
  std::string endPercent;
  std::string shift = "80";                     // "Shft Addr/ Max Rdn Len", hex
  std::string loop = "3";                       // hex
  LoopKind loopKind = LoopKind::Capacity;       // "Compacity Loop" / "Command Loop"
  bool shiftRandom = false;
  bool lengthRandom = false;
  CompareKind compare = CompareKind::None;      // "Simple Compare" / "Total Compare"
  PatternCommand command = PatternCommand::None;  // "DMA" / "SCSI Pass" / "DMA Ext"
  int errLimitIndex = 0;                        // into errLimitChoices()
  bool onlyRead = false;
  bool saveLog = true;
  bool disableMessage = false;
  bool asciiView = false;                       // "Value" / "Ascii"
};

class CGenData {
 public:
  // "1" .. "10", the entries of the "Err Limit" list.
  static const std::vector<std::string>& errLimitChoices();
  // LBA at a slider position given in tenths of a percent: floor(capacity x
  // permille / 1000), the capacity itself once that is more than 0.997 of it.
  static uint64_t lbaAtPermille(uint64_t capacity, uint32_t permille);
  // "%XH".
  static std::string lbaText(uint64_t lba);
  // An LBA text as the edits hold it: the part after the last comma, without
  // spaces and the trailing "H". False when it is empty or not hex.
  static bool parseLbaText(std::string_view text, uint64_t& lba);

  // The initialisation 2 seconds after the tab opens: every control to its
  // default, the sliders to 0 % and 30 % of capacity with their LBAs shown,
  // no pattern.
  void initialise(uint64_t capacity, uint32_t sectorSize);
  // Another drive is selected: the sliders show their LBAs on it; the other
  // controls and the pattern stay (a pattern made for another sector size is
  // refused when a run starts).
  void setDrive(uint64_t capacity, uint32_t sectorSize);
  uint64_t capacity() const { return capacity_; }
  uint32_t sectorSize() const { return sectorSize_; }

  GenDataControls controls;

  // The sliders: the start slider never shows 100, the end slider never 0.
  void setStartSlider(int position);
  void setEndSlider(int position);
  // The same with a finer position (tenths of a percent), as zorvctl takes it.
  void setStartPermille(uint32_t permille);
  void setEndPermille(uint32_t permille);

  // Checking "Stamp Record" puts "32" in an empty "Offset".
  void setStampRecord(bool on);
  // Checking "Only Read": "Shift Random" and "Length Random" off (and
  // disabled), "Stamp Record" and the LBA stamp on, the serial stamp on with
  // serial "00000000" unless "Length Random" was checked, "Offset" "32"; the
  // buttons switch to the read-only worker.
  void setOnlyRead(bool on);
  bool randomBoxesEnabled() const { return !controls.onlyRead; }

  // Gen Data: builds the pattern from the controls (the custom value's kept
  // digits and a cut sector count are shown back). seedSeconds seeds the
  // random pattern. Returns the refusal, empty on success.
  std::string genData(uint32_t seedSeconds);
  bool writeEnabled() const { return !pattern_.empty(); }
  const std::vector<uint8_t>& pattern() const { return pattern_; }
  uint32_t patternSectors() const { return patternSectors_; }
  // The upper message box: the pattern as "Value" (hex dump) or "Ascii".
  std::string patternView() const;

  struct RunSetup {
    std::string refusal;  // shown as "<<Error>>\r\n<refusal>\r\n"; empty: the run may start
    PatternRunParams params;
    bool ok() const { return refusal.empty(); }
  };
  // Reads the controls for the Write worker, or with "Only Read" for the
  // read-only worker.
  RunSetup runParameters() const;

 private:
  void showSlider(bool start, uint32_t permille);

  uint64_t capacity_ = 0;
  uint32_t sectorSize_ = 512;
  std::vector<uint8_t> pattern_;
  uint32_t patternSectors_ = 0;
};

// "<<Error>>\r\n%s\r\n": how the tab shows a refusal.
std::string genDataErrorText(std::string_view refusal);

}  // namespace zorv
