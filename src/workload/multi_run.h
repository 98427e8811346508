#pragma once
// The multi-drive workload tab (CMultiRun) without its window: the drive
// list and its columns for the workload kind last chosen, the percentage
// combos and their rules, Loop / Time, the scripts, and on Run one workload
// block per checked row. The window and zorvctl workload both drive it, so
// both show the same columns and refuse the same input.

#include <optional>
#include <string>
#include <vector>

#include "mediatest/raw_write_guard.h"
#include "transport/context.h"
#include "workload/boundaries.h"
#include "workload/capacity_script.h"
#include "workload/define_script.h"
#include "workload/jesd_script.h"
#include "workload/workload_plan.h"

namespace zorv {

struct MultiRunRow {
  DriveEntry drive;
  int physicalDrive = 0;
  bool checked = true;
};

// The largest script read.
constexpr size_t kMaxWorkloadScriptBytes = 64 * 1024;

// The text of a script file; empty with error set when it cannot be read or
// is too large to be a script.
std::optional<std::string> readScriptFile(const std::string& path, std::string& error);

class MultiRunTab {
 public:
  MultiRunTab();

  // "Get Drive": a row for each family drive of the drive table; the kind
  // becomes the mixed workload.
  void getDrives(Context& ctx);
  std::vector<MultiRunRow>& rows() { return rows_; }
  const std::vector<MultiRunRow>& rows() const { return rows_; }

  WorkloadKind kind() const { return kind_; }
  std::vector<std::string> columns() const;
  std::vector<std::string> rowTexts(size_t row) const;

  // "Sequential Access %" (0..99): the random list becomes 0 .. 100 - p and
  // its last entry is chosen, so the reserve is 0. Changing a percentage
  // selects the mixed workload. False (nothing changed) out of range.
  bool setSequentialPercent(int percent);
  // "Random Access %": one of randomChoices().
  bool setRandomPercent(int percent);
  int sequentialPercent() const { return sequential_; }
  int randomPercent() const { return random_; }
  int reservePercent() const { return std::max(0, 100 - sequential_ - random_); }
  std::vector<int> randomChoices() const;
  void selectMixed() { kind_ = WorkloadKind::RdnSqLoop; }

  bool reserveFill = false;
  // Loop / Time.
  bool byTime = false;
  uint32_t hours = 1;    // 0..99
  uint32_t minutes = 10; // 0..99
  uint32_t loops = 1;
  // The "Loop" edit takes digits only: any other text clears it (false).
  bool setLoopText(const std::string& text);
  const std::string& loopText() const { return loopText_; }

  // The scripts: parsed whole before the list changes; false with error set
  // (and nothing changed) when the text is refused.
  bool openDefineScript(const std::string& text, std::string& error);
  bool openCapacityScript(const std::string& text, std::string& error);
  bool openJesdScript(const std::string& text, std::string& error);

  // The row's plan for the current kind.
  WorkloadPlan planFor(size_t row) const;
  // "Run": a workload block for every checked row. Nothing when any checked
  // row may not run (its range, the raw-write gate): error names the drive
  // and why.
  std::optional<std::vector<std::string>> buildBlocks(Context& ctx, const RawWritePermission& permission,
                                                      std::string& error) const;

 private:
  Boundaries mixedBoundaries(const DriveEntry& drive) const;
  Boundaries clientBoundaries(const DriveEntry& drive) const;

  std::vector<MultiRunRow> rows_;
  WorkloadKind kind_ = WorkloadKind::RdnSqLoop;
  int sequential_ = 40;
  int random_ = 40;
  std::string loopText_ = "1";
  DefineScript define_;
  CapacityScript capacity_;
  JesdScript jesd_;
  std::string jesdText_;
};

}  // namespace zorv
