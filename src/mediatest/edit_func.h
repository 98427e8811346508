#pragma once
// CEditFunc, the test parameter dialog of the four raw-drive media tests, as
// a model without a window: which fields and boxes are enabled for a test
// code, their radix, text limits and first defaults, reading them on Send
// into the parameters (refusing what cannot run, with a clear text), and the
// parameter history. The window binds its controls to it; zorvctl fills it
// from its options; both start MediaTestWorker with what send() returns.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mediatest/media_test_params.h"
#include "mediatest/parameter_history.h"

namespace zorv {

enum class Radix : uint8_t { Hex, Decimal };

struct EditFieldSpec {
  std::string_view label;  // "SLBA", ...
  Radix radix;
  uint8_t textLimit;       // characters the edit box takes
};
const EditFieldSpec& editFieldSpec(EditField field);

// The three check boxes of the first group ("Item").
enum class CheckItem : uint8_t { RndBlks, Verify, Ncq };
constexpr int kCheckItemCount = 3;
std::string_view checkItemLabel(CheckItem item);  // "RndBlks", "Verify", "NCQ"

// The button groups: "Item" holds the check boxes, the other four radio
// buttons (shown disabled; the first button of each is checked).
enum class ButtonGroup : uint8_t { Item, Type, Sector, Close, Data };
constexpr int kRadioGroupCount = 4;  // Type, Sector, Close, Data
std::string_view buttonGroupCaption(ButtonGroup group);

class CEditFunc {
 public:
  explicit CEditFunc(ParameterHistory& history) : history_(history) {}

  // Opens the dialog for a test code: the fields show what was last sent for
  // that code, or their first defaults; the first default of "ELBA" is the
  // last LBA of the selected drive (driveSectors - 1). False, and nothing
  // changes, for a code that is no media test.
  bool open(uint16_t opCode, uint64_t driveSectors);
  // Opens the dialog for the current history entry, its values in the
  // enabled fields (the Enter key of the engineering window). False when
  // there is no entry or it is no media test.
  bool openRepeat(uint64_t driveSectors);

  uint16_t opCode() const { return opCode_; }
  uint64_t driveSectors() const { return driveSectors_; }

  // For all four test codes: "SLBA", "ELBA", "Blks", "Loop", "Length" and
  // "Align" are enabled, every other edit box is disabled.
  static bool fieldEnabled(EditField field);
  const std::string& text(EditField field) const { return fields_[index(field)]; }
  // Takes text as the edit box would: false, and the text stays as it was,
  // when it is longer than the box's limit.
  bool setText(EditField field, std::string_view text);

  static bool groupEnabled(ButtonGroup group) { return group == ButtonGroup::Item; }
  bool checked(CheckItem item) const { return (checkMask_ >> static_cast<int>(item)) & 1; }
  void setChecked(CheckItem item, bool on);
  // The checked button of a radio group (0 = the first).
  int radio(ButtonGroup group) const;
  bool setRadio(ButtonGroup group, int button);  // false for the Item group or a button beyond 0..15

  // "<< Seq Write >>", "<< Random Write >>", or empty for the read tests.
  std::string_view statusText() const;

  struct SendResult {
    std::string refusal;  // empty when the test may start
    MediaTestParams params;
    bool ok() const { return refusal.empty(); }
  };
  // Reads every field (an empty one reads as 0), the boxes and the radio
  // groups into the parameters. Refused input is not stored; accepted input
  // becomes a history entry, unless the dialog was opened to repeat an entry
  // and nothing was changed.
  SendResult send();

  // The history entry of the dialog as it is now.
  HistoryEntry entry() const;

 private:
  static size_t index(EditField f) { return static_cast<size_t>(f); }
  void loadFirstDefaults();
  void loadEntry(const HistoryEntry& entry);

  ParameterHistory& history_;
  uint16_t opCode_ = 0;
  uint64_t driveSectors_ = 0;
  std::array<std::string, kEditFieldCount> fields_{};
  uint8_t checkMask_ = 0;
  uint16_t radioMask_ = 0;
  std::optional<HistoryEntry> repeating_;
  // What was last sent for each test code, shown when it is opened again.
  std::array<std::optional<HistoryEntry>, 4> lastSent_{};
};

}  // namespace zorv
