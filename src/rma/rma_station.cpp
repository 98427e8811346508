#include "rma/rma_station.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "diagnostics/vendor_command.h"
#include "discovery/drive_list.h"
#include "discovery/enumerate.h"
#include "discovery/identify_strings.h"
#include "firmware/updater.h"
#include "identify/identify_view.h"
#include "rma/rma_errors.h"
#include "rma/write_read_test.h"
#include "transport/byte_order.h"

namespace zorv::rma {

namespace {

constexpr size_t kSerialLength = 20;

// 61h: bytes 9 to 15 are 0, the six limits and POH follow big-endian.
VendorCommandSector limitsSector(const RmaLimits& limits) {
  VendorCommandSector s(0x61, 0x00);
  for (size_t i = 9; i < 16; ++i) s.setByte(i, 0);
  const uint16_t values[] = {limits.RmaTime, limits.BBLife,     limits.PELife, limits.WorstTemp,
                             limits.AvgEC,   limits.TotalWrtGB, limits.POH};
  for (size_t i = 0; i < std::size(values); ++i) s.setBe16(16 + 2 * i, values[i]);
  return s;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string withoutBlanks(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out.push_back(c);
  return out;
}

}  // namespace

RmaStation::RmaStation(Context& ctx, MessageSink& box, RmaStationOptions options, RmaStationHooks hooks)
    : ctx_(ctx), box_(box), options_(std::move(options)), hooks_(std::move(hooks)) {}

RmaStation::~RmaStation() = default;

void RmaStation::add(std::string_view text) { AppendMessage(ctx_, text, box_); }

void RmaStation::open() {
  box_.clear();
  if (hooks_.timeLeft) hooks_.timeLeft("");
  limits_ = options_.limits;
  add(openingText(limits_, options_.range));
}

std::optional<std::string> RmaStation::normalizedSerial(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ') continue;
    if (c < 0x21 || c > 0x7E) return std::nullopt;
    out.push_back(c);
  }
  if (out.size() > kSerialLength) return std::nullopt;
  return upper(out);
}

std::optional<RmaVerdict> RmaStation::lastVerdict() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return verdict_;
}

std::string RmaStation::modelName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_;
}

std::string RmaStation::serialNumber() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return serial_;
}

bool RmaStation::readIdentity(std::string& model, std::string& serial) {
  if (!SendIdentifyDevice(ctx_)) return false;
  IdentifyData id{};
  std::copy_n(ctx_.SectorBuffer.data(), id.size(), id.begin());
  model = modelText(id);
  serial = upper(withoutBlanks(cutAtNul(swappedField(id, 20, 20))));
  std::lock_guard<std::mutex> lock(mutex_);
  model_ = model;
  serial_ = serial;
  return true;
}

RunStart RmaStation::runRma(std::string_view serialBoxText) {
  RmaPhase idle = RmaPhase::Idle;
  // Only one run at a time: a change of the box or F2 during a run is ignored.
  if (!phase_.compare_exchange_strong(idle, RmaPhase::FirstPhase)) return RunStart::Busy;
  auto notStarted = [this](RunStart why) {
    phase_ = RmaPhase::Idle;
    return why;
  };

  // A drive's serial number is printable ASCII without blanks: anything else
  // can never match, and is named at once instead of ending in a mismatch.
  std::optional<std::string> entered = normalizedSerial(serialBoxText);
  if (!entered) {
    add("Serial Number Not Valid: letters, digits and marks only, at most 20\r\n");
    return notStarted(RunStart::InvalidSerial);
  }
  if (ctx_.ucDriveCount == kNoDrive || !ctx_.hasSelectedDrive()) {
    box_.clear();
    add("No Drive Found\r\n");
    return notStarted(RunStart::NoDrive);
  }
  std::string model, serial;
  if (!readIdentity(model, serial)) {
    add("Drive Command Error\r\n");
    return notStarted(RunStart::CommandError);
  }
  // The operator is still typing (or the scanner still sending).
  if (serial.size() != entered->size()) return notStarted(RunStart::StillTyping);

  box_.clear();
  entered_ = *entered;
  testedPath_ = ctx_.selectedDrive().strDevicePath;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    verdict_.reset();
  }
  if (serial != entered_) {
    // The report keeps the mismatch too: the drive's model and serial number
    // and, in the next column, what was entered.
    line_ = model + "," + serial + "," + entered_ + ",";
    fail(ulRMA_SNMMErr, errorCodeLine(ulRMA_SNMMErr));
    return RunStart::Started;
  }
  add("Check Modelname and SN\r\n");
  line_ = model + "," + serial + ",";
  if (limits_.RmaTime == 0) {
    add("No Script File\r\n");
    ctx_.ui->messageBox("No Script File", BoxIcon::Stop);
    return notStarted(RunStart::NoScript);
  }
  firstPhase();
  return RunStart::Started;
}

void RmaStation::firstPhase() {
  // Limits the drive did not take fail the step: the save that
  // follows could still succeed and would then pass a drive without one.
  if (!WriteVendorSector(ctx_, limitsSector(limits_)) || !SendVendorCommand(ctx_, 0x62, 0))
    return fail(ulRMA_SMARTErr, errorCodeLine(ulRMA_SMARTErr));
  add("Check Set RMA Spec and Save SMART to SPI\r\n");
  line_ += "Pass,";

  // A reading that did not arrive is no temperature: the step fails without one.
  if (!VendorQuery(ctx_, 0xF3, 0).ok()) return fail(ulRMA_TSENSORErr, errorCodeLine(ulRMA_TSENSORErr));
  const int temperature = le16(ctx_.SectorBuffer.data()) / 10;
  const std::string tempLine = formatText("Current Temp %d\r\n", temperature);
  add(tempLine);
  if (temperature < 5 || temperature > 100) {
    // The reading goes into its column without the line end, so that the
    // report line stays one line.
    line_ += formatText("Current Temp %d", temperature) + " ";
    return fail(ulRMA_TSENSORErr, errorCodeLine(ulRMA_TSENSORErr));
  }
  add("Check Thermal sensor\r\n");
  line_ += "Pass,";

  if (!SendVendorCommand(ctx_, 0xB1, 1)) return fail(ulRMA_TBL2SPIErr, errorCodeLine(ulRMA_TBL2SPIErr));
  add("Check Merge TBL BB into OBB in SPI\r\n");
  line_ += "Pass,";

  // Hot plug is watched from before Preb2 on: a person may power the drive
  // down as soon as it has taken Preb2, before the prompt is up.
  events_ = ctx_.port->watchDevices();
  if (!SendVendorCommand(ctx_, 0x03, 2)) return fail(ulRMA_FENANDErr, errorCodeLine(ulRMA_FENANDErr));
  add("Check Preb2\r\n");
  line_ += "Pass,";

  if (options_.variant == 'B') {
    if (!firmwareStep()) return;
    events_ = ctx_.port->watchDevices();  // the download's own resets are not the power cycle
  } else {
    line_ += "Remain,";
  }
  add("<<<<Please Power Down Drive then Plug Again>>>>\r\n");
  beginWait();
}

bool RmaStation::firmwareStep() {
  add("Update FW, Please Wait.........\r\n");
  NullProgress noProgress;
  firmware::EmbeddedRunOptions o;
  o.allowHwidUpdate = false;
  o.quietUnpack = true;
  firmware::EmbeddedRunResult r = firmware::runEmbeddedPackage(
      ctx_, options_.progress ? *options_.progress : noProgress, options_.ownPath, o);
  if (firmware::isDecodeFailure(r.status)) {
    // Not a verdict on the drive: the program carries no usable package.
    add("<<<<Update FW Fail, Decode Error>>>>\r\n");
    ctx_.ui->messageBox("<<<<Update FW Fail, Decode Error>>>>", BoxIcon::Stop);
    phase_ = RmaPhase::Idle;
    return false;
  }
  // Only a download the drive verifiably took counts as an update; a drive
  // that already runs the package's version (or a newer one) is passed by.
  if (r.status == firmware::EmbeddedStatus::Updated) {
    add("Update FW Success\r\n<<<<Please Remove Drive then Plug Again>>>>\r\n");
    line_ += "Updated,";
    return true;
  }
  if (r.status == firmware::EmbeddedStatus::UpToDate) {
    add("By Pass Update FW\r\n<<<<Please Remove Drive then Plug Again>>>>\r\n");
    line_ += "ByPass,";
    return true;
  }
  add("<<<<Update FW Fail>>>>\r\n");
  ctx_.ui->messageBox("<<<<Update FW Fail>>>>", BoxIcon::Stop);
  fail(ulRMA_DLFWErr, errorCodeLine(ulRMA_DLFWErr));
  return false;
}

void RmaStation::beginWait() {
  wait_ = PowerCycleWait(limits_.TimeInterval);
  // Hot plug tells of a removal even when the drive is back before the next
  // rescan (a quick power cycle between two ticks).
  if (!events_) events_ = ctx_.port->watchDevices();
  phase_ = RmaPhase::WaitingForPowerCycle;
  timerRunning_ = true;
  if (hooks_.timer) hooks_.timer(true);
}

void RmaStation::endWait() {
  events_.reset();
  if (!timerRunning_) return;
  timerRunning_ = false;
  if (hooks_.timer) hooks_.timer(false);
  if (hooks_.timeLeft) hooks_.timeLeft("");
}

bool RmaStation::pollRemoval() {
  if (!events_) return false;
  std::vector<DeviceEvent> events;
  if (!events_->poll(events, 0)) return false;
  const std::string serial = serialNumber();
  for (const DeviceEvent& e : events) {
    if (e.kind == DeviceEventKind::Removal && !serial.empty() &&
        upper(e.interfaceName).find(serial) != std::string::npos)
      return true;
  }
  return false;
}

void RmaStation::tick() {
  if (phase() != RmaPhase::WaitingForPowerCycle) return;
  const bool removalReported = pollRemoval();
  if (hooks_.rescan) {
    hooks_.rescan();
  } else {
    EnumerateDrives(ctx_);
  }
  // The drive under test is the one in its own place: another drive of the
  // station neither counts as its removal nor as its return.
  int back = -1;
  for (int i = 0; ctx_.ucDriveCount != kNoDrive && i < ctx_.ucDriveCount && i < kMaxDrives; ++i) {
    if (ctx_.DriveTable[static_cast<size_t>(i)].strDevicePath == testedPath_) back = i;
  }
  WaitStep step = wait_.tick(back >= 0, removalReported);
  if (step != WaitStep::Back) {
    if (hooks_.timeLeft) hooks_.timeLeft(wait_.timeLeftText());
    if (step == WaitStep::TimedOut) {
      add("<<<<Time Out>>>>\r\n");
      endWait();
      ctx_.ui->messageBox("<<<<Time Out>>>>", BoxIcon::Stop);
      fail(ulRMA_WAITRDY_FAIL, errorCodeLine(ulRMA_WAITRDY_FAIL));
    }
    return;
  }
  endWait();
  selectPhysicalDrive(ctx_, physicalDriveNumber(ctx_, testedPath_));
  std::string model, serial;
  if (!readIdentity(model, serial)) {
    // The drive came back but does not answer: it has not passed the power cycle.
    add("Drive Command Error\r\n");
    return fail(ulRMA_WAITRDY_FAIL, errorCodeLine(ulRMA_WAITRDY_FAIL));
  }
  if (serial != entered_) return fail(ulRMA_WAITRDY_FAIL, errorCodeLine(ulRMA_WAITRDY_FAIL));
  line_ += "Pass,";
  add("Check Device Ready\r\n");
  secondPhase();
}

void RmaStation::secondPhase() {
  if (!SendVendorCommand(ctx_, 0xB0, 1))
    return fail(std::nullopt, "<<<Error Code Incorrect>>>\r\n<<<< Set RMA Flag Error  >>>>\r\n");
  add("Set RMA Flag\r\n");
  line_ += "Pass,";

  if (!SendVendorCommand(ctx_, 0xFB, 0)) {
    // The drive hands its four error bytes over as the reply of the refused
    // check; without the read the buffer would still hold the command sector.
    ReadBufferSector(ctx_);
    const uint8_t* b = ctx_.SectorBuffer.data();
    std::string code = formatText("OBB err code: %02X%02X%02X%02x", b[0], b[1], b[2], b[3]);
    add(code + "\r\n");
    line_ += code + " ";
    return fail(ulRMA_OBBErr, errorCodeLine(ulRMA_OBBErr));
  }
  add("Check VC OBB\r\n");
  line_ += "Pass,";

  if (!SendVendorCommand(ctx_, 0xB0, 0))
    return fail(std::nullopt, "<<<Error Code Incorrect>>>\r\n<<<< Clear RMA Flag Error  >>>>\r\n");
  add("Clean RMA Flag\r\n");
  line_ += "Pass,";
  startWriteRead();
}

void RmaStation::startWriteRead() {
  WriteReadJob job;
  job.drive = ctx_.selectedDrive();
  job.driveListLine = selectedDriveLine(ctx_);
  job.range = options_.range;
  job.permission = options_.permission;
  phase_ = RmaPhase::WriteReadTest;
  auto body = [this, job] {
    WriteReadResult r = runWriteReadTest(ctx_, job, box_, ctx_.fgStopRequest);
    switch (r.outcome) {
      case WriteReadOutcome::Passed: return pass();
      case WriteReadOutcome::WriteFailed: ctx_.ui->messageBox("Write Test Fail", BoxIcon::Information); break;
      case WriteReadOutcome::ReadFailed: ctx_.ui->messageBox("Read Test Fail", BoxIcon::Information); break;
      case WriteReadOutcome::Refused: add(r.refusal + "\r\n"); break;
      case WriteReadOutcome::Stopped: break;
      case WriteReadOutcome::LifeQueryFailed: add("Drive Command Error\r\n"); break;
    }
    add("Testing Fail\r\n");
    fail(ulRMA_WrRdErr, errorCodeLine(ulRMA_WrRdErr));
  };
  if (hooks_.startWorker) {
    hooks_.startWorker(body);
  } else {
    body();
  }
}

void RmaStation::writeReadNotStarted(std::string_view why) {
  if (phase() != RmaPhase::WriteReadTest) return;
  add(std::string(why) + "\r\n");
  add("Testing Fail\r\n");
  fail(ulRMA_WrRdErr, errorCodeLine(ulRMA_WrRdErr));
}

void RmaStation::pass() {
  add("Testing Pass\r\n");
  ctx_.ui->messageBox("Pass", BoxIcon::Information);
  line_ += "Pass,\r\n";
  finish(true, std::nullopt, {});
}

void RmaStation::fail(std::optional<uint32_t> code, const std::string& errorText) {
  add(errorText);
  ctx_.ui->messageBox(errorText, BoxIcon::Stop);
  line_ += "Fail\r\n";
  finish(false, code, errorText);
}

void RmaStation::finish(bool passed, std::optional<uint32_t> code, const std::string& errorText) {
  endWait();
  RmaVerdict v;
  v.passed = passed;
  v.errorCode = code;
  v.errorText = errorText;
  v.reportLine = line_;
  v.report = appendReportLine(options_.reportDirectory, ctx_.clock->utcTime(), line_);
  if (!v.report.written) {
    // The verdict stands; the operator has to know that its line is missing.
    std::string text = "Report Not Written: " + v.report.path + ": " + v.report.error + "\r\n";
    add(text);
    ctx_.ui->messageBox(text, BoxIcon::Exclamation);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    verdict_ = std::move(v);
  }
  phase_ = RmaPhase::Idle;
}

}  // namespace zorv::rma
