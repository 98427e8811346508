#include "diagnostics/diagnostics_console.h"

#include <cmath>

#include "discovery/drive_list.h"
#include "transport/message.h"
#include "diagnostics/operation_table.h"

namespace zorv {

namespace {

using C = DevInfoControl;

constexpr double kSecondInDays = 1.0 / 86400.0;
constexpr double kHalfSecondInDays = 5.787037037037037e-6;

constexpr C kInputGroup[] = {C::StartPpn, C::EndPpn, C::Channel, C::Chip,  C::Raid,        C::Die,         C::Plane,
                             C::Block,    C::Page,   C::Count,   C::Static, C::StartMemory, C::MemoryLength};
constexpr C kSelectors[] = {C::Command, C::Hours, C::Minutes, C::SecondCommand};

size_t idx(C c) { return static_cast<size_t>(c); }

}  // namespace

SpanParts splitSpan(double days) {
  double rounded = days + (days < 0 ? -kHalfSecondInDays : kHalfSecondInDays);
  auto total = static_cast<long long>(std::trunc(rounded * 86400.0));
  SpanParts p;
  p.days = total / 86400;
  p.hours = (total / 3600) % 24;
  p.minutes = (total / 60) % 60;
  p.seconds = total % 60;
  return p;
}

uint64_t sliderAddress(int position, uint64_t sectorCount) {
  if (position <= 0) position = 1;
  if (sectorCount == 0) return 0;
  // p x N fits: N is at most 48 bits, p at most 100.
  uint64_t value = static_cast<uint64_t>(position) * sectorCount / 100;
  // The full capacity is named by its last LBA, the native max address: the
  // sector count itself lies one past it and would be refused by the drive.
  if (static_cast<double>(value) / static_cast<double>(sectorCount) > 0.997) value = sectorCount - 1;
  return value;
}

DiagnosticsConsole::DiagnosticsConsole(Context& ctx, MessageSink& rawData) : ctx_(ctx), rawData_(rawData) {
  // Start-up of the page: everything enabled, then the start-up settings.
  state_.enabled.fill(true);
  state_.command = 0;
  state_.secondCommand = 0;
  setEnabled(state_, {C::SecondCommand}, false);
  state_.hours = 0;
  state_.minutes = 0;
  state_.inputs.startPpn.clear();
  state_.inputs.endPpn.clear();
  state_.mapChoices.clear();
  state_.inputs.map.clear();
  setEnabled(state_, {C::Map}, false);
  state_.indirectComplement = true;
  setEnabled(state_, {C::IndirectComplement}, false);
  setInputGroupEnabled(state_, false);
  setEnabled(state_, {C::Slider, C::Address}, false);
  countdown_ = 0.0;
  state_.armed = false;
  firstTick_ = true;
  // The clock is read now as well, so that a run before the first tick has a name.
  clock_ = DiagClockValue{ctx_.clock->localTime(), true};
}

void DiagnosticsConsole::setDirectory(std::filesystem::path dir) {
  std::lock_guard lock(mutex_);
  directory_ = std::move(dir);
}

void DiagnosticsConsole::setRunStarter(RunStarter starter) {
  std::lock_guard lock(mutex_);
  starter_ = std::move(starter);
}

void DiagnosticsConsole::setProgressSink(ProgressSink* progress) {
  std::lock_guard lock(mutex_);
  progress_ = progress;
}

void DiagnosticsConsole::setChangeListener(std::function<void()> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

DevInfoState DiagnosticsConsole::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::optional<DiagRunResult> DiagnosticsConsole::lastRun() const {
  std::lock_guard lock(mutex_);
  return lastRun_;
}

DiagClockValue DiagnosticsConsole::clock() const {
  std::lock_guard lock(mutex_);
  return clock_;
}

double DiagnosticsConsole::countdown() const {
  std::lock_guard lock(mutex_);
  return countdown_;
}

void DiagnosticsConsole::notify() {
  std::function<void()> listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener) listener();
}

void DiagnosticsConsole::append(std::string_view text) { AppendMessage(ctx_, text, rawData_); }

void DiagnosticsConsole::setEnabled(DevInfoState& s, std::initializer_list<C> controls, bool on) {
  for (C c : controls) s.enabled[idx(c)] = on;
}

void DiagnosticsConsole::setInputGroupEnabled(DevInfoState& s, bool on) {
  for (C c : kInputGroup) s.enabled[idx(c)] = on;
}

void DiagnosticsConsole::setSelectorsEnabled(DevInfoState& s, bool on) {
  for (C c : kSelectors) s.enabled[idx(c)] = on;
}

void DiagnosticsConsole::resetInputs(DevInfoState& s) {
  s.mapChoices.clear();
  s.inputs.map.clear();
  setEnabled(s, {C::Map, C::IndirectComplement, C::Slider, C::Address}, false);
  setInputGroupEnabled(s, false);
}

void DiagnosticsConsole::applySelection(DevInfoState& s, int row) {
  resetInputs(s);
  auto mapList = [&] {
    s.mapChoices = {"00", "01"};
    s.inputs.map = "00";
  };
  switch (row) {
    case 1:
      mapList();
      s.inputs.startPpn = "200";
      setEnabled(s, {C::Map, C::StartPpn}, true);
      break;
    case 2:
      mapList();
      s.inputs.startPpn = "0";
      s.inputs.endPpn = "1F";
      setEnabled(s, {C::Map, C::StartPpn, C::EndPpn}, true);
      break;
    case 4:
      if (ctx_.selectedDrive().usModelClass == 1) {
        s.inputs.raid = "0";
        s.inputs.block = "0";
        setEnabled(s, {C::Raid, C::Block}, true);
      } else {
        s.inputs.channel = s.inputs.chip = s.inputs.die = s.inputs.plane = s.inputs.block = "0";
        setEnabled(s, {C::Channel, C::Chip, C::Die, C::Plane, C::Block}, true);
      }
      break;
    case 6:
      s.inputs.channel = s.inputs.chip = s.inputs.die = s.inputs.plane = "0";
      setEnabled(s, {C::Channel, C::Chip, C::Die, C::Plane}, true);
      break;
    case 9:
      setEnabled(s, {C::StartMemory, C::MemoryLength}, true);
      break;
    case 34:
      setEnabled(s, {C::Slider, C::Address}, true);
      break;
    case 33:
    case 35:
      break;
    default:
      s.inputs.startPpn.clear();
      s.inputs.endPpn.clear();
      setEnabled(s, {C::StartPpn, C::EndPpn, C::Map}, false);
      break;
  }
}

void DiagnosticsConsole::updateSlider(DevInfoState& s) {
  if (s.sliderPosition == 0) s.sliderPosition = 1;
  uint64_t value = sliderAddress(s.sliderPosition, ctx_.selectedDrive().sectorCount());
  s.inputs.address = formatText("%llXH", static_cast<unsigned long long>(value));
  s.percent = formatText("%d%%", s.sliderPosition);
}

void DiagnosticsConsole::onCommandChanged(int row) {
  if (row < 0 || row >= static_cast<int>(kVendorOperationCount)) return;
  {
    std::lock_guard lock(mutex_);
    state_.command = row;
    applySelection(state_, row);
  }
  notify();
}

void DiagnosticsConsole::onSecondCommandChanged(int row) {
  if (row < 0 || row >= static_cast<int>(kVendorOperationCount)) return;
  {
    std::lock_guard lock(mutex_);
    state_.secondCommand = row;
  }
  notify();
}

void DiagnosticsConsole::onSecondDumpToggled(bool checked) {
  {
    std::lock_guard lock(mutex_);
    state_.secondDump = checked;
    setEnabled(state_, {C::SecondCommand}, checked);
  }
  notify();
}

void DiagnosticsConsole::onMakeReportToggled(bool checked) {
  {
    std::lock_guard lock(mutex_);
    state_.makeReport = checked;
  }
  notify();
}

void DiagnosticsConsole::editInputs(const std::function<void(DiagInputs&)>& edit) {
  {
    std::lock_guard lock(mutex_);
    edit(state_.inputs);
  }
  notify();
}

void DiagnosticsConsole::onMapChanged(int index) {
  {
    std::lock_guard lock(mutex_);
    if (index >= 0 && index < static_cast<int>(state_.mapChoices.size())) {
      state_.inputs.map = state_.mapChoices[static_cast<size_t>(index)];
    }
  }
  notify();
}

void DiagnosticsConsole::onHoursChanged(int hours) {
  {
    std::lock_guard lock(mutex_);
    if (hours >= 0 && hours <= 100) state_.hours = hours;
  }
  notify();
}

void DiagnosticsConsole::onMinutesChanged(int minutes) {
  {
    std::lock_guard lock(mutex_);
    if (minutes >= 0 && minutes <= 100) state_.minutes = minutes;
  }
  notify();
}

void DiagnosticsConsole::onSliderMoved(int position) {
  {
    std::lock_guard lock(mutex_);
    state_.sliderPosition = std::clamp(position, state_.sliderMinimum, state_.sliderMaximum);
    updateSlider(state_);
  }
  notify();
}

void DiagnosticsConsole::onClearMessage() { rawData_.clear(); }

bool DiagnosticsConsole::onGetDevInfo() {
  {
    std::lock_guard lock(mutex_);
    if (!state_.isEnabled(C::GetDevInfo)) return false;
  }
  return startRun();
}

bool DiagnosticsConsole::driveSelected() {
  if (ctx_.hasSelectedDrive()) return true;
  // Every command of a run would fail without a word: say why nothing runs.
  append("No drive is selected\r\n");
  return false;
}

bool DiagnosticsConsole::startRun() {
  if (!driveSelected()) return false;
  RunStarter starter;
  {
    std::lock_guard lock(mutex_);
    // One run at a time, and none while another operation holds the drive:
    // the transport, CmdBlock and SectorBuffer are shared, and the report
    // consumes the run logs a run is writing.
    if (state_.running) return false;
    starter = starter_;
    if (!starter) {
      if (ctx_.fgBusy) return false;
      ctx_.fgBusy = 1;
    }
    state_.running = true;
  }
  std::string description = driveDescriptionFromListLine(selectedDriveLine(ctx_));
  if (!starter) {
    runClaimed(description, true);
    return true;
  }
  // The starter holds the drive for the run and gives it back afterwards.
  if (starter([this, description] { runClaimed(description, false); })) return true;
  std::lock_guard lock(mutex_);
  state_.running = false;
  return false;
}

std::optional<DiagRunResult> DiagnosticsConsole::RunDiagnostics() {
  if (!driveSelected()) return std::nullopt;
  {
    std::lock_guard lock(mutex_);
    if (state_.running || ctx_.fgBusy) return std::nullopt;
    state_.running = true;
    ctx_.fgBusy = 1;
  }
  return runClaimed(driveDescriptionFromListLine(selectedDriveLine(ctx_)), true);
}

DiagRunResult DiagnosticsConsole::runClaimed(std::string description, bool releaseDrive) {
  DiagRun run(ctx_, rawData_, memory_);
  DiagRunResult result;
  int passes;
  std::array<int, 2> rows{};
  std::vector<std::string> mapChoices;
  bool mapEnabled;
  {
    std::lock_guard lock(mutex_);
    // The boxes are read as they are when the run starts; the run then
    // locks them.
    run.inputs = state_.inputs;
    mapChoices = state_.mapChoices;
    mapEnabled = state_.isEnabled(C::Map);
    resetInputs(state_);
    setEnabled(state_, {C::GetDevInfo, C::SecondDump}, false);
    // An armed trigger stays a button during its timed runs: it is how the
    // operator disarms them.
    setEnabled(state_, {C::TimeTrigger}, state_.armed);
    setSelectorsEnabled(state_, false);
    run.clock = clock_;
    run.directory = directory_;
    run.progress = progress_;
    passes = state_.secondDump ? 2 : 1;
    rows = {state_.command, state_.secondCommand};
  }
  notify();

  run.modelClass = ctx_.selectedDrive().usModelClass;
  result.modelClass = run.modelClass;
  result.runLogName = RunLogName(run.clock);
  std::string runText = description + "\r\n";
  run.append(runText);

  if (run.progress) run.progress->setPosition(0);
  for (int pass = 0; pass < passes; ++pass) {
    // A stopped run does not go on to its second pass.
    if (run.stopped) break;
    ctx_.CmdBlock.clear();
    size_t row = static_cast<size_t>(rows[static_cast<size_t>(pass)]);
    run.infoSsd.reset();
    run.smartData.reset();
    run.addressBox.reset();
    DiagPassResult p;
    p.row = row;
    p.text = PerformOperation(run, row);
    p.infoSsd = run.infoSsd;
    p.smartData = run.smartData;
    runText += p.text;
    result.passes.push_back(std::move(p));
    if (run.addressBox) {
      {
        std::lock_guard lock(mutex_);
        state_.inputs.address = *run.addressBox;
      }
      notify();
    }
  }
  result.commandFailed = run.commandFailed;
  result.stopped = run.stopped;
  result.inputRefused = run.inputRefused;
  result.runText = runText;

  if (!runText.empty()) {
    result.runLogWritten = AppendRunLog(run.file(result.runLogName), runText, result.runLogError);
    if (!result.runLogWritten) ctx_.ui->messageBox(result.runLogError, BoxIcon::Stop);
  }

  bool makeReport;
  {
    std::lock_guard lock(mutex_);
    setEnabled(state_, {C::TimeTrigger}, true);
    if (!state_.armed) {
      applySelection(state_, state_.command);
      setEnabled(state_, {C::GetDevInfo, C::SecondDump}, true);
      setEnabled(state_, {C::SecondCommand}, state_.secondDump);
      // The operation and the timer period can be chosen again.
      setEnabled(state_, {C::Command, C::Hours, C::Minutes}, true);
    } else {
      // The next timed run reads the same structure: the "0 Map, 1Table"
      // choice the run cleared while it ran comes back as it was.
      state_.mapChoices = mapChoices;
      state_.inputs.map = run.inputs.map;
      setEnabled(state_, {C::Map}, mapEnabled);
    }
    makeReport = state_.makeReport;
  }
  notify();

  if (makeReport) {
    result.report = MakeReport(run.directory, run.clock, run.modelClass);
    if (!result.report->reportWritable) {
      ctx_.ui->messageBox("Cannot write " + result.report->reportFile.string(), BoxIcon::Stop);
    }
  }

  {
    std::lock_guard lock(mutex_);
    state_.running = false;
    if (releaseDrive) ctx_.fgBusy = 0;
    lastRun_ = result;
  }
  notify();
  return result;
}

void DiagnosticsConsole::writeArmingLines() {
  DiagClockValue c;
  double span;
  {
    std::lock_guard lock(mutex_);
    c = clock_;
    countdown_ = state_.hours / 24.0 + state_.minutes / 1440.0;
    span = countdown_;
  }
  append(formatText("Current Time: Y: %02d, M: %02d, D: %02d, H: %02d, m: %02d, s: %02d\r\n", c.year(), c.month(),
                    c.day(), c.hour(), c.minute(), c.second()));
  SpanParts p = splitSpan(span);
  append(formatText("Span Day: %lld, Hour: %lld, Mins: %02lld, Sec:%lld\r\n\r\n", p.days, p.hours, p.minutes,
                    p.seconds));
}

void DiagnosticsConsole::onTimeTrigger() {
  bool arm;
  bool refusedZeroPeriod = false;
  {
    std::lock_guard lock(mutex_);
    if (!state_.isEnabled(C::TimeTrigger)) return;
    if (state_.armed && state_.running) {
      // Disarmed during a timed run: the run ends as a plain one and gives
      // the controls back itself.
      state_.armed = false;
      state_.timeLeft.clear();
      setEnabled(state_, {C::TimeTrigger}, false);
      arm = false;
    } else if (state_.isEnabled(C::GetDevInfo) && state_.hours == 0 && state_.minutes == 0) {
      // A period of nothing would start a run on every tick, for ever.
      arm = false;
      refusedZeroPeriod = true;
    } else if ((arm = state_.isEnabled(C::GetDevInfo))) {
      setEnabled(state_, {C::GetDevInfo, C::SecondDump}, false);
      setInputGroupEnabled(state_, false);
      setSelectorsEnabled(state_, false);
    } else {
      setEnabled(state_, {C::GetDevInfo, C::SecondDump}, true);
      setInputGroupEnabled(state_, true);
      setSelectorsEnabled(state_, true);
      applySelection(state_, state_.command);
      state_.timeLeft.clear();
      state_.armed = false;
    }
  }
  if (refusedZeroPeriod) {
    append(kZeroPeriodRefusedText);
    return;
  }
  if (arm) {
    writeArmingLines();
    std::lock_guard lock(mutex_);
    state_.armed = true;
  }
  notify();
}

void DiagnosticsConsole::onTimerTick() {
  bool trigger = false;
  {
    std::lock_guard lock(mutex_);
    clock_ = DiagClockValue{ctx_.clock->localTime(), true};
    state_.currentTime = formatText("%02d/%02d %02d:%02d:%02d", clock_.month(), clock_.day(), clock_.hour(),
                                    clock_.minute(), clock_.second());
    if (firstTick_) {
      firstTick_ = false;
      state_.sliderMinimum = 0;
      state_.sliderMaximum = 100;
      state_.sliderPosition = 100;
      state_.sliderTick = 10;
      state_.sliderLine = 20;
      updateSlider(state_);
      setEnabled(state_, {C::Slider, C::Address}, false);
    }
    if (state_.armed) {
      SpanParts p = splitSpan(countdown_);
      if (!p.zero()) {
        countdown_ -= kSecondInDays;
        state_.timeLeft = formatText("Day: %lld, Hur: %lld, Min: %lld, Sec: %lld", p.days, p.hours, p.minutes,
                                     p.seconds);
      } else {
        trigger = true;
      }
    }
  }
  notify();
  if (trigger) {
    // A trigger that falls while a run is still in progress is skipped; the
    // countdown starts again either way.
    startRun();
    writeArmingLines();
    notify();
  }
}

}  // namespace zorv
