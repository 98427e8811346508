#pragma once
// The parameter history of the test dialog: a ring of 10 entries, each the
// test code, every field's text, the check-box and radio masks and the
// status text without its first and last three characters. The engineering
// window's Enter key repeats the current entry's test.

#include <array>
#include <cstdint>
#include <string>

namespace zorv {

// The dialog's edit boxes, in the order of its template.
enum class EditField : uint8_t { Smsf, Emsf, Slba, Elba, Blks, Loop, Length, Delay, Align, MaxErr, MaxTime, AvgTime,
                                 Zone, PreRead };
constexpr int kEditFieldCount = 14;

struct HistoryEntry {
  uint16_t opCode = 0;
  std::array<std::string, kEditFieldCount> fields{};
  uint8_t checkMask = 0;   // bit 0 "RndBlks", bit 1 "Verify", bit 2 "NCQ"
  uint16_t radioMask = 0;  // the checked button of each group, 4 bits per group: Type, Sector, Close, Data
  std::string status;

  bool operator==(const HistoryEntry&) const = default;
};

class ParameterHistory {
 public:
  static constexpr int kEntries = 10;

  // Writes entry at the next position (after the 10th comes the 1st again);
  // it becomes the current entry.
  void store(const HistoryEntry& entry);
  // The current entry; nullptr before the first store.
  const HistoryEntry* current() const;
  // Position of the current entry (0..9), -1 before the first store.
  int currentPosition() const { return position_; }
  const HistoryEntry& at(int position) const { return entries_[static_cast<size_t>(position % kEntries)]; }

 private:
  std::array<HistoryEntry, kEntries> entries_{};
  int position_ = -1;
};

}  // namespace zorv
