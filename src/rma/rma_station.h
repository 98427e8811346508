#pragma once
// The repair station: takes a returned drive through its fixed sequence and
// writes one line per drive to the day's report.
//
//   first phase (runRma)   serial number check, RMA limits and SMART
//                          saved to SPI, thermal sensor, table bad blocks
//                          merged, Preb2, firmware update (variant 'B')
//   power-cycle wait       tick() once a second: the drive has to go and the
//                          same drive has to come back within TimeInterval
//   second phase           RMA flag set, OBB list checked, flag cleared
//   write/read test        on a worker the face starts (hooks.startWorker)
//
// The first failing step ends the run with its error code: the error line in
// the box and an error box, "Fail\r\n" at the end of the report line, the
// line written. A drive never passes a step whose command failed, and a run
// that reached a verdict always tries to write its line.
//
// Windowless: the page and zorvctl drive it with the same calls and show
// the same texts; the tests drive it on the simulated bay with a manual
// clock, calling tick() themselves.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "mediatest/raw_write_guard.h"
#include "rma/power_cycle_wait.h"
#include "rma/rma_report.h"
#include "rma/rma_limits.h"
#include "transport/context.h"
#include "transport/device_events.h"
#include "transport/host_file.h"

namespace zorv::rma {

enum class RmaPhase : uint8_t {
  Idle,  // waiting for a serial number
  FirstPhase,
  WaitingForPowerCycle,  // timer 112 running
  WriteReadTest,         // the worker runs
};

struct RmaStationOptions {
  // What open() sets; the defaults unless a face was told otherwise
  // (zorvctl --time-interval).
  RmaLimits limits;
  // 'B' includes the firmware update; the face passes configRmaVariant().
  char variant = 'A';
  // The program's own file, where the firmware package is appended.
  std::string ownPath = ownExecutablePath();
  // Where the day's report goes ("": the current directory).
  std::string reportDirectory;
  WriteReadRange range;
  // The raw-write gate of the write/read test (mounted volumes, consent on a real device).
  RawWritePermission permission;
  ProgressSink* progress = nullptr;  // the firmware download's progress
};

// What the face does for the station. Every member may be left empty.
struct RmaStationHooks {
  // Start (true) or stop (false) timer 112, which calls tick() every 1,000 ms.
  std::function<void(bool)> timer;
  // The "Time Left" box; "" empties it.
  std::function<void(std::string_view)> timeLeft;
  // Rescans the drives for the power-cycle wait; empty: EnumerateDrives(ctx).
  std::function<void()> rescan;
  // Runs body on the write/read worker (above-normal priority); empty: here.
  std::function<void(std::function<void()>)> startWorker;
};

struct RmaVerdict {
  bool passed = false;
  std::optional<uint32_t> errorCode;  // the failing step's code (none for the flag steps)
  std::string errorText;              // what the error box showed
  std::string reportLine;
  ReportWrite report;
};

// Why runRma did not start a run.
enum class RunStart : uint8_t {
  Started,        // the run is on (it may already have ended with a verdict)
  Busy,           // a run is active: nothing happens
  InvalidSerial,  // the text holds characters no drive's serial number has
  NoDrive,        // "No Drive Found"
  CommandError,   // "Drive Command Error"
  StillTyping,    // the length differs from the drive's serial number
  NoScript,       // RmaTime is 0: "No Script File"
};

class RmaStation {
 public:
  RmaStation(Context& ctx, MessageSink& box, RmaStationOptions options = {}, RmaStationHooks hooks = {});
  ~RmaStation();
  RmaStation(const RmaStation&) = delete;
  RmaStation& operator=(const RmaStation&) = delete;

  // Opening the dialog: empties the box and the "Time Left" box, sets the
  // limits (options.limits) and shows the opening texts.
  void open();

  // runRma: "F2 = RUN" and every change of the serial-number box.
  RunStart runRma(std::string_view serialBoxText);
  // Timer 112.
  void tick();
  // The face could not start the write/read worker (another operation holds
  // the drive): the test step fails, with why in the box.
  void writeReadNotStarted(std::string_view why);

  RmaPhase phase() const { return phase_.load(); }
  bool active() const { return phase() != RmaPhase::Idle; }
  PowerCycleState powerCycleState() const { return wait_.state(); }
  uint32_t secondsLeft() const { return wait_.remainingSeconds(); }
  // The last run's verdict, once it has one.
  std::optional<RmaVerdict> lastVerdict() const;
  // The model name and serial number the last run read (kept between runs).
  std::string modelName() const;
  std::string serialNumber() const;

  RmaLimits& limits() { return limits_; }
  RmaStationOptions& options() { return options_; }

  // The text with blanks removed and upper-cased, as serial numbers are
  // compared; nullopt when it holds a character no serial number can
  // (outside 21h..7Eh after the blanks are gone) or is longer than 20.
  static std::optional<std::string> normalizedSerial(std::string_view text);

 private:
  bool readIdentity(std::string& model, std::string& serial);
  void firstPhase();
  bool firmwareStep();
  void beginWait();
  void endWait();
  bool pollRemoval();
  void secondPhase();
  void startWriteRead();
  void fail(std::optional<uint32_t> code, const std::string& errorText);
  void pass();
  void finish(bool passed, std::optional<uint32_t> code, const std::string& errorText);
  void add(std::string_view text);

  Context& ctx_;
  MessageSink& box_;
  RmaStationOptions options_;
  RmaStationHooks hooks_;
  RmaLimits limits_;

  std::atomic<RmaPhase> phase_{RmaPhase::Idle};
  std::string entered_;
  std::string testedPath_;  // where the drive under test is plugged
  std::string line_;        // the report line under construction
  PowerCycleWait wait_;
  bool timerRunning_ = false;
  std::unique_ptr<DeviceEventSource> events_;

  mutable std::mutex mutex_;  // the members below are read from other threads
  std::string model_;
  std::string serial_;
  std::optional<RmaVerdict> verdict_;
};

}  // namespace zorv::rma
