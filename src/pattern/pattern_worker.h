#pragma once
// The generator's two workers: Write (stamp, write, read back and compare
// each command) and Only Read (read each command and check the stamps a
// write run left), one command at a time through the register image (READ /
// WRITE DMA, READ / WRITE DMA EXT) or SCSI READ(10) / WRITE(10).
//
// Like every long operation the worker is handed its drive (a copy of the
// table entry), the stop flag, the tab's message box and the counters at its
// start, and runs on a context of its own. The window's Break and zorvctl's
// Ctrl-C end it after the current command.
//
// A failed transfer is an error of its own: "Write Failed" / "Read Failed"
// with its LBA, counted toward the "Err Limit" and left out of the byte
// totals (its data moved nowhere); a failed write is not read back, a failed
// read is not compared.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mediatest/raw_write_guard.h"
#include "pattern/pattern_range.h"
#include "pattern/pattern_stamp.h"
#include "transport/context.h"

namespace zorv {

enum class PatternCommand : uint8_t { None, Dma, ScsiPass, DmaExt };
enum class CompareKind : uint8_t { None, Simple, Total };
enum class LoopKind : uint8_t { Capacity, Command };

constexpr uint32_t kMaxErrLimit = 10;

struct PatternRunParams {
  bool onlyRead = false;
  std::vector<uint8_t> pattern;  // the generated pattern (Write)
  uint32_t sectors = 0x80;       // sectors per command, after the 0x1F200 cut
  uint32_t sectorSize = 512;
  StampLayout stamps;
  uint32_t firstSerial = 0;
  uint64_t startLba = 0;
  uint64_t endLba = 0;  // exclusive; below startLba: the range wraps
  uint64_t shift = 0x80;
  uint32_t loop = 3;
  LoopKind loopKind = LoopKind::Capacity;
  bool shiftRandom = false;
  bool lengthRandom = false;
  CompareKind compare = CompareKind::None;
  PatternCommand command = PatternCommand::None;
  uint32_t errLimit = 1;
  bool saveLog = true;
  bool disableMessage = false;
};

// What the worker counts and the display reads once a second; the loop
// counter, which the window's Break sets to 0.
class PatternCounters {
 public:
  struct Second {
    uint64_t totalRead = 0;
    uint64_t totalWritten = 0;
    uint64_t readThisSecond = 0;
    uint64_t writtenThisSecond = 0;
    uint32_t loop = 0;
    uint32_t errors = 0;
  };

  void start(uint32_t loop);
  void addRead(uint64_t bytes);
  void addWritten(uint64_t bytes);
  void addError() { errors_.fetch_add(1); }
  // Ends the run after the current command ("Break").
  void requestBreak() {
    breakRequested_.store(true);
    loop_.store(0);
  }
  bool breakRequested() const { return breakRequested_.load(); }
  uint32_t loop() const { return loop_.load(); }
  // One down, never below 0 (a Break may have set it to 0 meanwhile).
  void countDownLoop();
  // The once-a-second reading: the totals, the bytes since the last reading
  // (which start again from 0) and the loop counter.
  Second tick();
  Second peek() const;

 private:
  std::atomic<uint64_t> totalRead_{0};
  std::atomic<uint64_t> totalWritten_{0};
  std::atomic<uint64_t> secondRead_{0};
  std::atomic<uint64_t> secondWritten_{0};
  std::atomic<uint32_t> loop_{0};
  std::atomic<uint32_t> errors_{0};
  std::atomic<bool> breakRequested_{false};
};

// "Total Rd: %llu  Total Wr: %llu  Byte Rd/Sec: %llu  Byte Wr/Sec: %llu  Loop: %X".
std::string patternCounterLine(const PatternCounters::Second& second);

struct PatternJob {
  PatternRunParams params;
  DriveEntry drive;
  std::atomic<uint8_t>* stop = nullptr;  // nullptr: the parent context's fgStopRequest
  MessageSink* messages = nullptr;       // the tab's message box; nullptr: the parent's pane
  PatternCounters* counters = nullptr;   // nullptr: the worker's own
  RawWritePermission permission;         // consulted by the Write worker
  uint32_t seed = 1;                     // of the shift and length random numbers
  std::string logDirectory;              // where "CompErrLog.txt" goes; empty: the current directory
  bool releasesBusy = true;              // false: the caller clears the parent's fgBusy itself
};

struct PatternResult {
  bool started = false;  // false: refused before any command
  std::string refusal;
  uint64_t commands = 0;
  uint32_t errors = 0;          // all of the next three
  uint32_t compareErrors = 0;
  uint32_t writeFailures = 0;
  uint32_t readFailures = 0;
  bool errorLimitReached = false;
  bool stopped = false;  // Break or the stop flag ended it
  uint64_t bytesRead = 0;
  uint64_t bytesWritten = 0;
  std::optional<uint64_t> firstErrorLba;
  std::string logProblem;  // why the log could not be written (once)

  bool passed() const { return started && errors == 0; }
};

// Why the parameters cannot run on drive (range, stamp room, the command's
// reach); empty when they can. Raw-write permission is checked separately.
std::string patternRunRefusal(const PatternRunParams& params, const DriveEntry& drive);

PatternResult PatternWorker(Context& parent, const PatternJob& job);

}  // namespace zorv
