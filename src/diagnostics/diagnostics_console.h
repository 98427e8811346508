#pragma once
// The vendor diagnostics console without its window: the state every control
// of the page shows, the reactions to the page's events, the timed runs and
// RunDiagnostics itself. The Qt page (CDevInfo) and zorvctl's "diag" command
// are thin shells over it; tests drive it directly.
//
// State is guarded by a mutex: RunDiagnostics runs on a worker thread while
// the page reads snapshots on the interface thread. The change listener is
// called (on whichever thread made the change) after every change.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transport/context.h"
#include "diagnostics/diag_run.h"
#include "diagnostics/report.h"

namespace zorv {

enum class DevInfoControl : uint8_t {
  GetDevInfo,          // 1297
  Command,             // 1295
  SecondCommand,       // 1305
  SecondDump,          // 1300
  MakeReport,          // 1426
  Channel,             // 1290
  Chip,                // 1291
  Die,                 // 1246
  Plane,               // 1248
  Block,               // 1258
  Raid,                // 1442
  Page,                // 1259
  Count,               // 1260
  Static,              // 1293
  StartPpn,            // 1292
  EndPpn,              // 1294
  Map,                 // 1271
  StartMemory,         // 1353
  MemoryLength,        // 1354
  Hours,               // 1299
  Minutes,             // 1298
  TimeTrigger,         // 1301
  Slider,              // 1453
  Address,             // 1387
  IndirectComplement,  // 1296
  kCount,
};
constexpr size_t kDevInfoControlCount = static_cast<size_t>(DevInfoControl::kCount);

// What "Time Trigger" says instead of arming with Hours and Minutes both 0.
constexpr std::string_view kZeroPeriodRefusedText =
    "Time Trigger: Hours and Minutes are both 0; choose a period of at least one minute\r\n";

// What the page shows.
struct DevInfoState {
  std::array<bool, kDevInfoControlCount> enabled{};
  bool isEnabled(DevInfoControl c) const { return enabled[static_cast<size_t>(c)]; }

  int command = 0;
  int secondCommand = 0;
  bool secondDump = false;
  bool makeReport = false;
  bool indirectComplement = true;
  DiagInputs inputs;
  std::vector<std::string> mapChoices;  // "0 Map, 1Table"; inputs.map holds the chosen text
  int hours = 0;
  int minutes = 0;
  std::string currentTime;  // "MM/dd hh:mm:ss"
  std::string timeLeft;
  int sliderMinimum = 0;
  int sliderMaximum = 100;
  int sliderPosition = 0;
  int sliderTick = 0;
  int sliderLine = 1;
  std::string percent;
  bool running = false;
  bool armed = false;
};

// Days, hours, minutes and seconds of a span in days, rounded by half a second.
struct SpanParts {
  long long days = 0;
  long long hours = 0;
  long long minutes = 0;
  long long seconds = 0;
  bool zero() const { return days == 0 && hours == 0 && minutes == 0 && seconds == 0; }
};
SpanParts splitSpan(double days);

// The address of the slider rule: p x N / 100 (p = 0 reads as 1), or the
// native max address N - 1 when that is above 99.7 % of N.
uint64_t sliderAddress(int position, uint64_t sectorCount);

struct DiagPassResult {
  size_t row = 0;
  std::string text;
  std::optional<InfoSsdRecord> infoSsd;
  std::optional<std::array<uint8_t, 512>> smartData;
};

struct DiagRunResult {
  uint16_t modelClass = 0;
  std::string runLogName;
  std::string runText;
  std::vector<DiagPassResult> passes;
  bool commandFailed = false;
  bool stopped = false;  // a long row ended early on the operator's stop
  // A row refused its input as unusable and sent nothing.
  bool inputRefused = false;
  bool runLogWritten = false;
  std::string runLogError;
  std::optional<ReportOutcome> report;
  bool ok() const {
    return !commandFailed && !stopped && !inputRefused && runLogWritten && (!report || report->reportWritable);
  }
};

class DiagnosticsConsole {
 public:
  // rawData is the page's "RAW Data" box.
  DiagnosticsConsole(Context& ctx, MessageSink& rawData);
  DiagnosticsConsole(const DiagnosticsConsole&) = delete;
  DiagnosticsConsole& operator=(const DiagnosticsConsole&) = delete;

  // Where run logs, reports and dumps go (default: the current directory).
  void setDirectory(std::filesystem::path dir);
  // How a run is started: the window hands it to its operation runner, which
  // holds the drive (ctx.fgBusy) while the run goes on on a worker thread,
  // and answers false when another operation holds the drive. Without a
  // starter the console holds the drive itself and runs on the calling thread.
  using RunStarter = std::function<bool(std::function<void()>)>;
  void setRunStarter(RunStarter starter);
  void setChangeListener(std::function<void()> listener);
  // Where a run shows how far it is (0-100): the page's progress bar.
  void setProgressSink(ProgressSink* progress);

  DevInfoState state() const;
  std::optional<DiagRunResult> lastRun() const;
  DiagClockValue clock() const;
  double countdown() const;

  // Page events (interface thread).
  void onCommandChanged(int row);
  void onSecondCommandChanged(int row);
  void onSecondDumpToggled(bool checked);
  void onMakeReportToggled(bool checked);
  void editInputs(const std::function<void(DiagInputs&)>& edit);
  void onMapChanged(int index);
  void onHoursChanged(int hours);
  void onMinutesChanged(int minutes);
  void onSliderMoved(int position);
  void onClearMessage();
  // "Get Dev Info": false when it is disabled, a run is in progress or
  // another operation holds the drive (ctx.fgBusy, which a run also sets).
  bool onGetDevInfo();
  void onTimeTrigger();
  void onTimerTick();

  // Runs now on the calling thread (zorvctl, tests). nullopt when a run is in
  // progress, ctx.fgBusy is set or no drive is selected (the pane says so).
  std::optional<DiagRunResult> RunDiagnostics();

 private:
  void setEnabled(DevInfoState& s, std::initializer_list<DevInfoControl> controls, bool on);
  void resetInputs(DevInfoState& s);
  void applySelection(DevInfoState& s, int row);
  void updateSlider(DevInfoState& s);
  void setInputGroupEnabled(DevInfoState& s, bool on);
  void setSelectorsEnabled(DevInfoState& s, bool on);
  void writeArmingLines();
  bool driveSelected();
  bool startRun();
  DiagRunResult runClaimed(std::string description, bool releaseDrive);
  void notify();
  void append(std::string_view text);

  Context& ctx_;
  MessageSink& rawData_;
  mutable std::mutex mutex_;
  DevInfoState state_;
  DiagClockValue clock_;
  double countdown_ = 0.0;
  bool firstTick_ = true;
  std::filesystem::path directory_ = ".";
  RunStarter starter_;
  std::function<void()> listener_;
  ProgressSink* progress_ = nullptr;
  RowMemory memory_;
  std::optional<DiagRunResult> lastRun_;
};

}  // namespace zorv
