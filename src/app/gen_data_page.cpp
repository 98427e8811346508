#include "app/gen_data_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <chrono>
#include <ctime>

#include "app/qt_message_sink.h"
#include "discovery/drive_selected.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"
#include "transport/message.h"

namespace zorv::app {

namespace {

constexpr int kInitialiseAfterMs = 2000;

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QLineEdit* e) { return e->text().toStdString(); }

}  // namespace

QLineEdit* CGenDataPage::addEdit(const char* name, int maxLength) {
  auto* e = new QLineEdit(settings_);
  e->setObjectName(name);
  e->setMaxLength(maxLength);
  return e;
}

QCheckBox* CGenDataPage::addCheck(const char* text, const char* name) {
  auto* c = new QCheckBox(text, settings_);
  c->setObjectName(name);
  return c;
}

QRadioButton* CGenDataPage::addRadio(QButtonGroup* group, const char* text, const char* name, int id) {
  auto* r = new QRadioButton(text, settings_);
  r->setObjectName(name);
  group->addButton(r, id);
  return r;
}

CGenDataPage::CGenDataPage(PageServices& services, QWidget* parent) : QWidget(parent), services_(services) {
  auto* layout = new QVBoxLayout(this);
  patternBox_ = QtMessageSink::makeTextBox(this, 9);
  patternBox_->setObjectName("patternBox");
  layout->addWidget(patternBox_, 2);

  settings_ = new QWidget(this);
  auto* grid = new QGridLayout(settings_);
  grid->setContentsMargins(0, 0, 0, 0);
  int row = 0;

  kind_ = new QButtonGroup(this);
  width_ = new QButtonGroup(this);
  step_ = new QButtonGroup(this);
  grid->addWidget(addRadio(kind_, "Custom Value (Hex, without \"0x\")", "customValue", int(PatternKind::CustomValue)), row, 0);
  grid->addWidget(addEdit("value", 16), row, 1);
  grid->addWidget(addRadio(width_, "DWORD", "dword", int(ElementWidth::Dword)), row, 2);
  grid->addWidget(addRadio(width_, "WORD", "word", int(ElementWidth::Word)), row, 3);
  grid->addWidget(addRadio(width_, "BYTE", "byte", int(ElementWidth::Byte)), row, 4);
  // "Increase" and "Decrease" start with neither selected; a click on the
  // selected one clears it again.
  step_->setExclusive(false);
  grid->addWidget(addRadio(step_, "Increase", "increase", int(ElementStep::Increase)), row, 5);
  grid->addWidget(addRadio(step_, "Decrease", "decrease", int(ElementStep::Decrease)), row, 6);
  connect(step_, &QButtonGroup::idClicked, this, [this](int id) {
    for (QAbstractButton* b : step_->buttons())
      if (step_->id(b) != id) b->setChecked(false);
  });
  ++row;
  grid->addWidget(addRadio(kind_, "Random", "random", int(PatternKind::Random)), row, 0);
  grid->addWidget(addRadio(kind_, "String", "string", int(PatternKind::String)), row, 1);
  grid->addWidget(addEdit("text", static_cast<int>(kMaxPatternText)), row, 2, 1, 3);
  grid->addWidget(new QLabel("Sector Number", settings_), row, 5);
  grid->addWidget(addEdit("sectorNumber", 8), row, 6);
  ++row;

  QCheckBox* stampRecord = addCheck("Stamp Record", "stampRecord");
  grid->addWidget(stampRecord, row, 0);
  grid->addWidget(new QLabel("Offset", settings_), row, 1);
  grid->addWidget(addEdit("offset", 4), row, 2);
  grid->addWidget(addCheck("Current LBA Addrs (4B)", "stampLba"), row, 3);
  grid->addWidget(addCheck("Time (Big Endian)", "stampTime"), row, 4);
  grid->addWidget(addCheck("Serial Number", "stampSerial"), row, 5);
  ++row;
  grid->addWidget(new QLabel("Serial Number (4B)", settings_), row, 0);
  grid->addWidget(addEdit("serial", 8), row, 1);
  ++row;

  startSlider_ = new QSlider(Qt::Horizontal, settings_);
  endSlider_ = new QSlider(Qt::Horizontal, settings_);
  startPercent_ = new QLabel(settings_);
  endPercent_ = new QLabel(settings_);
  for (QSlider* slider : {startSlider_, endSlider_}) {
    slider->setRange(0, 100);
    slider->setTickInterval(10);
    slider->setTickPosition(QSlider::TicksBelow);
  }
  startSlider_->setObjectName("startSlider");
  endSlider_->setObjectName("endSlider");
  grid->addWidget(new QLabel("Start LBA", settings_), row, 0);
  grid->addWidget(startSlider_, row, 1, 1, 3);
  grid->addWidget(startPercent_, row, 4);
  grid->addWidget(addEdit("startLba", 24), row, 5, 1, 2);
  ++row;
  grid->addWidget(new QLabel("End LBA", settings_), row, 0);
  grid->addWidget(endSlider_, row, 1, 1, 3);
  grid->addWidget(endPercent_, row, 4);
  grid->addWidget(addEdit("endLba", 24), row, 5, 1, 2);
  ++row;

  loopKind_ = new QButtonGroup(this);
  grid->addWidget(new QLabel("Shft Addr/ Max Rdn Len", settings_), row, 0);
  grid->addWidget(addEdit("shift", 16), row, 1);
  grid->addWidget(new QLabel("Loop", settings_), row, 2);
  grid->addWidget(addEdit("loop", 8), row, 3);
  grid->addWidget(addRadio(loopKind_, "Compacity Loop", "capacityLoop", int(LoopKind::Capacity)), row, 4);
  grid->addWidget(addRadio(loopKind_, "Command Loop", "commandLoop", int(LoopKind::Command)), row, 5);
  ++row;
  grid->addWidget(addCheck("Shift Random", "shiftRandom"), row, 0);
  grid->addWidget(addCheck("Length Random", "lengthRandom"), row, 1);
  compare_ = new QButtonGroup(this);
  grid->addWidget(addRadio(compare_, "Simple Compare", "simpleCompare", int(CompareKind::Simple)), row, 2);
  grid->addWidget(addRadio(compare_, "Total Compare", "totalCompare", int(CompareKind::Total)), row, 3);
  command_ = new QButtonGroup(this);
  grid->addWidget(addRadio(command_, "DMA", "dma", int(PatternCommand::Dma)), row, 4);
  grid->addWidget(addRadio(command_, "SCSI Pass", "scsiPass", int(PatternCommand::ScsiPass)), row, 5);
  grid->addWidget(addRadio(command_, "DMA Ext", "dmaExt", int(PatternCommand::DmaExt)), row, 6);
  ++row;
  grid->addWidget(new QLabel("Err Limit", settings_), row, 0);
  errLimit_ = new QComboBox(settings_);
  errLimit_->setObjectName("errLimit");
  grid->addWidget(errLimit_, row, 1);
  QCheckBox* onlyRead = addCheck("Only Read", "onlyRead");
  grid->addWidget(onlyRead, row, 2);
  grid->addWidget(addCheck("Save Log", "saveLog"), row, 3);
  grid->addWidget(addCheck("Disable Message", "disableMessage"), row, 4);
  view_ = new QButtonGroup(this);
  grid->addWidget(addRadio(view_, "Value", "valueView", 0), row, 5);
  grid->addWidget(addRadio(view_, "Ascii", "asciiView", 1), row, 6);
  layout->addWidget(settings_);

  auto* counters = new QHBoxLayout;
  auto counter = [&](const char* label, const char* name) {
    counters->addWidget(new QLabel(label, this));
    auto* e = new QLineEdit(this);
    e->setObjectName(name);
    e->setReadOnly(true);
    counters->addWidget(e);
    return e;
  };
  totalRd_ = counter("Total Rd", "totalRd");
  totalWr_ = counter("Total Wr", "totalWr");
  byteRdSec_ = counter("Byte Rd/Sec", "byteRdSec");
  byteWrSec_ = counter("Byte Wr/Sec", "byteWrSec");
  layout->addLayout(counters);

  auto* buttons = new QHBoxLayout;
  auto button = [&](const char* text, const char* name) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    buttons->addWidget(b);
    return b;
  };
  genData_ = button("Gen Data", "genData");
  write_ = button("Write", "write");
  read_ = button("Read", "read");
  break_ = button("Break", "break");
  clean_ = button("Clean MSG", "cleanMsg");
  buttons->addStretch();
  layout->addLayout(buttons);

  messageBox_ = QtMessageSink::makeTextBox(this, 10);
  messageBox_->setObjectName("messageBox");
  messageSink_ = std::make_unique<QtMessageSink>(messageBox_);
  layout->addWidget(messageBox_, 3);

  connect(startSlider_, &QSlider::valueChanged, this, [this](int position) {
    if (showing_) return;
    readControls();
    model_.setStartSlider(position);
    showControls();
  });
  connect(endSlider_, &QSlider::valueChanged, this, [this](int position) {
    if (showing_) return;
    readControls();
    model_.setEndSlider(position);
    showControls();
  });
  connect(stampRecord, &QCheckBox::toggled, this, [this](bool on) {
    if (showing_) return;
    readControls();
    model_.setStampRecord(on);
    showControls();
  });
  connect(onlyRead, &QCheckBox::toggled, this, [this](bool on) {
    if (showing_) return;
    readControls();
    model_.setOnlyRead(on);
    showControls();
  });
  connect(view_, &QButtonGroup::idClicked, this, [this](int id) {
    model_.controls.asciiView = id == 1;
    patternBox_->setPlainText(q(model_.patternView()));
  });
  connect(genData_, &QPushButton::clicked, this, [this] { onGenData(); });
  connect(write_, &QPushButton::clicked, this, [this] { startRun(false); });
  connect(read_, &QPushButton::clicked, this, [this] { startRun(true); });
  connect(break_, &QPushButton::clicked, this, [this] { counters_.requestBreak(); });
  connect(clean_, &QPushButton::clicked, this, [this] { messageSink_->clear(); });
  connect(&services_.runner, &OperationRunner::selectedDriveChanged, this, [this] {
    if (!initialised_ || running_ || !services_.ctx.hasSelectedDrive()) return;
    readControls();
    const DriveEntry& d = services_.ctx.selectedDrive();
    model_.setDrive(d.sectorCount(), d.usSectorSize);
    showControls();
  });

  secondTimer_ = new QTimer(this);
  secondTimer_->setInterval(1000);
  connect(secondTimer_, &QTimer::timeout, this, [this] { onSecond(); });

  settings_->setEnabled(false);
  for (QPushButton* b : {genData_, write_, read_, break_}) b->setEnabled(false);
  QTimer::singleShot(kInitialiseAfterMs, this, [this] {
    if (!initialised_) initialise();
  });
}

CGenDataPage::~CGenDataPage() {
  secondTimer_->stop();
  // A run still going needs the counters and the box: wait for it.
  counters_.requestBreak();
  services_.runner.wait();
}

void CGenDataPage::initialise() {
  const bool drive = services_.ctx.hasSelectedDrive();
  const DriveEntry d = drive ? services_.ctx.selectedDrive() : DriveEntry{};
  model_.initialise(drive ? d.sectorCount() : 0, d.usSectorSize);
  errLimit_->clear();
  for (const std::string& choice : CGenData::errLimitChoices()) errLimit_->addItem(q(choice));
  for (QLineEdit* e : {totalRd_, totalWr_, byteRdSec_, byteWrSec_}) e->clear();
  messageSink_->clear();
  patternBox_->clear();
  initialised_ = true;
  settings_->setEnabled(true);
  showControls();
}

void CGenDataPage::readControls() {
  GenDataControls& c = model_.controls;
  c.kind = static_cast<PatternKind>(std::max(0, kind_->checkedId()));
  c.value = s(edit("value"));
  c.width = static_cast<ElementWidth>(std::max(0, width_->checkedId()));
  c.step = radio("increase")->isChecked() ? ElementStep::Increase
           : radio("decrease")->isChecked() ? ElementStep::Decrease
                                            : ElementStep::None;
  c.text = s(edit("text"));
  c.sectorNumber = s(edit("sectorNumber"));
  c.stampRecord = checkBox("stampRecord")->isChecked();
  c.offset = s(edit("offset"));
  c.stampLba = checkBox("stampLba")->isChecked();
  c.stampTime = checkBox("stampTime")->isChecked();
  c.stampSerial = checkBox("stampSerial")->isChecked();
  c.serial = s(edit("serial"));
  c.startLba = s(edit("startLba"));
  c.endLba = s(edit("endLba"));
  c.shift = s(edit("shift"));
  c.loop = s(edit("loop"));
  c.loopKind = static_cast<LoopKind>(std::max(0, loopKind_->checkedId()));
  c.shiftRandom = checkBox("shiftRandom")->isChecked();
  c.lengthRandom = checkBox("lengthRandom")->isChecked();
  c.compare = compare_->checkedId() < 0 ? CompareKind::None : static_cast<CompareKind>(compare_->checkedId());
  c.command = command_->checkedId() < 0 ? PatternCommand::None : static_cast<PatternCommand>(command_->checkedId());
  c.errLimitIndex = std::max(0, errLimit_->currentIndex());
  c.onlyRead = checkBox("onlyRead")->isChecked();
  c.saveLog = checkBox("saveLog")->isChecked();
  c.disableMessage = checkBox("disableMessage")->isChecked();
  c.asciiView = view_->checkedId() == 1;
}

void CGenDataPage::showControls() {
  showing_ = true;
  const GenDataControls& c = model_.controls;
  auto check = [](QButtonGroup* g, int id) {
    if (QAbstractButton* b = g->button(id)) {
      b->setChecked(true);
    } else if (g->checkedButton()) {
      // No selection: an exclusive group lets go of its button only this way.
      g->setExclusive(false);
      g->checkedButton()->setChecked(false);
      g->setExclusive(true);
    }
  };
  check(kind_, int(c.kind));
  edit("value")->setText(q(c.value));
  check(width_, int(c.width));
  radio("increase")->setChecked(c.step == ElementStep::Increase);
  radio("decrease")->setChecked(c.step == ElementStep::Decrease);
  edit("text")->setText(q(c.text));
  edit("sectorNumber")->setText(q(c.sectorNumber));
  checkBox("stampRecord")->setChecked(c.stampRecord);
  edit("offset")->setText(q(c.offset));
  checkBox("stampLba")->setChecked(c.stampLba);
  checkBox("stampTime")->setChecked(c.stampTime);
  checkBox("stampSerial")->setChecked(c.stampSerial);
  edit("serial")->setText(q(c.serial));
  startSlider_->setValue(c.startSlider);
  endSlider_->setValue(c.endSlider);
  startPercent_->setText(q(c.startPercent));
  endPercent_->setText(q(c.endPercent));
  edit("startLba")->setText(q(c.startLba));
  edit("endLba")->setText(q(c.endLba));
  edit("shift")->setText(q(c.shift));
  edit("loop")->setText(q(c.loop));
  check(loopKind_, int(c.loopKind));
  checkBox("shiftRandom")->setChecked(c.shiftRandom);
  checkBox("lengthRandom")->setChecked(c.lengthRandom);
  checkBox("shiftRandom")->setEnabled(model_.randomBoxesEnabled());
  checkBox("lengthRandom")->setEnabled(model_.randomBoxesEnabled());
  check(compare_, c.compare == CompareKind::None ? -1 : int(c.compare));
  check(command_, c.command == PatternCommand::None ? -1 : int(c.command));
  errLimit_->setCurrentIndex(c.errLimitIndex);
  checkBox("onlyRead")->setChecked(c.onlyRead);
  checkBox("saveLog")->setChecked(c.saveLog);
  checkBox("disableMessage")->setChecked(c.disableMessage);
  check(view_, c.asciiView ? 1 : 0);
  showing_ = false;
  updateButtons();
}

void CGenDataPage::updateButtons() {
  const bool idle = initialised_ && !running_;
  settings_->setEnabled(idle);
  genData_->setEnabled(idle);
  write_->setEnabled(idle && !model_.controls.onlyRead && model_.writeEnabled());
  read_->setEnabled(idle && model_.controls.onlyRead);
  break_->setEnabled(running_);
}

void CGenDataPage::onGenData() {
  readControls();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  std::string refusal = model_.genData(static_cast<uint32_t>(seconds.count()));
  if (!refusal.empty()) {
    AppendMessage(services_.ctx, genDataErrorText(refusal), *messageSink_);
    return;
  }
  showControls();
  patternBox_->setPlainText(q(model_.patternView()));
}

void CGenDataPage::startRun(bool onlyRead) {
  Context& ctx = services_.ctx;
  if (running_ || ctx.fgBusy || services_.runner.running()) return;
  if (!checkDriveSelected(ctx)) return;
  readControls();
  model_.controls.onlyRead = onlyRead;
  CGenData::RunSetup setup = model_.runParameters();
  if (!setup.ok()) {
    AppendMessage(ctx, genDataErrorText(setup.refusal), *messageSink_);
    return;
  }
  PatternJob job;
  job.params = setup.params;
  job.drive = ctx.selectedDrive();
  job.messages = messageSink_.get();
  job.counters = &counters_;
  job.logDirectory = logDirectory_;
  job.releasesBusy = false;
  job.permission.volumes = readVolumeMap(services_.mountInfoPath);
  // The run's random numbers: the milliseconds of the clock, shifted left by 5.
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  job.seed = static_cast<uint32_t>(ms.count() % 1000) << 5;
  if (!onlyRead && ctx.port->name() != "sim") {
    int n = physicalDriveNumber(ctx, job.drive.strDevicePath);
    std::string question = formatText("Write destroys the data of Physical Drive %d from LBA 0x%llX to 0x%llX.\nGo on?", n,
                                      static_cast<unsigned long long>(job.params.startLba),
                                      static_cast<unsigned long long>(job.params.endLba));
    if (!services_.ui.askYesNo(question, {}, BoxIcon::Exclamation)) return;
    job.permission.userConsent = true;
  }
  counters_.start(job.params.loop);
  running_ = true;
  bool started = services_.runner.start(
      this, [this, job] { runResult_ = PatternWorker(services_.ctx, job); }, [this] { runEnded(); });
  if (!started) {
    running_ = false;
    return;
  }
  updateButtons();
  secondTimer_->start();
}

void CGenDataPage::onSecond() {
  PatternCounters::Second s = counters_.tick();
  totalRd_->setText(QString::number(s.totalRead));
  totalWr_->setText(QString::number(s.totalWritten));
  byteRdSec_->setText(QString::number(s.readThisSecond));
  byteWrSec_->setText(QString::number(s.writtenThisSecond));
  edit("loop")->setText(QString::number(s.loop, 16).toUpper());
  if (s.loop == 0) secondTimer_->stop();
}

void CGenDataPage::runEnded() {
  lastResult_ = runResult_;
  running_ = false;
  onSecond();
  secondTimer_->stop();
  // The loop counter was shown while the run went; the box gets back the
  // count the next run starts with.
  showControls();
}

namespace {

QWidget* makeGenDataPage(PageServices& services, QWidget* parent) { return new CGenDataPage(services, parent); }

PageRegistrar reg{45, "Gen Data", &makeGenDataPage};

}  // namespace

}  // namespace zorv::app
