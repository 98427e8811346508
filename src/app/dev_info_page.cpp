#include "app/dev_info_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>

#include "app/gui_thread.h"
#include "diagnostics/operation_table.h"

namespace zorv::app {

namespace {

// Lines of reply text the RAW Data pane shows at the least.
constexpr int kRawDataMinimumLines = 12;

ModelLockOpener& lockOpener() {
  static ModelLockOpener opener = nullptr;
  return opener;
}

using C = DevInfoControl;

void setTextIfChanged(QLineEdit* edit, const std::string& text) {
  QString q = QString::fromStdString(text);
  if (edit->text() != q) edit->setText(q);
}

}  // namespace

ModelLockRegistrar::ModelLockRegistrar(ModelLockOpener opener) { lockOpener() = opener; }
ModelLockOpener modelLockOpener() { return lockOpener(); }

QLineEdit* CDevInfo::addEdit(C c, const char* name, std::string DiagInputs::*box, const char* label, Radix radix,
                             int digits) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(name);
  restrictToRadix(edit, radix, QString::fromLatin1(label), digits);
  controls_[static_cast<size_t>(c)] = edit;
  edits_.emplace_back(edit, box);
  connect(edit, &QLineEdit::textEdited, this, [this, box](const QString& text) {
    std::string value = text.toStdString();
    console_->editInputs([&](DiagInputs& in) { in.*box = value; });
  });
  return edit;
}

CDevInfo::CDevInfo(PageServices& services, QWidget* parent) : QWidget(parent), services_(services) {
  rawData_ = QtMessageSink::makeTextBox(this, 10);
  rawData_->setObjectName("edit1303");
  rawSink_ = std::make_unique<QtMessageSink>(rawData_);
  console_ = std::make_unique<DiagnosticsConsole>(services_.ctx, *rawSink_);

  // Start and passes.
  getDevInfo_ = new QPushButton("Get Dev Info", this);
  getDevInfo_->setObjectName("button1297");
  command_ = new QComboBox(this);
  command_->setObjectName("combo1295");
  second_ = new QComboBox(this);
  second_->setObjectName("combo1305");
  for (const VendorOperation& op : VendorOperationList()) {
    QString text = QString::fromLatin1(op.text.data(), static_cast<qsizetype>(op.text.size()));
    command_->addItem(text);
    second_->addItem(text);
  }
  secondDump_ = new QCheckBox("Second Dump", this);
  secondDump_->setObjectName("check1300");
  makeReport_ = new QCheckBox("Make Report 1", this);
  makeReport_->setObjectName("check1426");
  clear_ = new QPushButton("Clear Message", this);
  clear_->setObjectName("button1304");
  lockModel_ = new QPushButton("Lock Model", this);
  lockModel_->setObjectName("button1416");
  controls_[static_cast<size_t>(C::GetDevInfo)] = getDevInfo_;
  controls_[static_cast<size_t>(C::Command)] = command_;
  controls_[static_cast<size_t>(C::SecondCommand)] = second_;
  controls_[static_cast<size_t>(C::SecondDump)] = secondDump_;
  controls_[static_cast<size_t>(C::MakeReport)] = makeReport_;

  progress_ = new QProgressBar(this);
  progress_->setObjectName("diagProgress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progressSink_ = std::make_unique<QtProgressSink>(progress_);
  console_->setProgressSink(progressSink_.get());
  stop_ = new QPushButton("Stop", this);
  stop_->setObjectName("stopRun");
  stop_->setAutoDefault(false);
  stop_->setEnabled(false);

  // Inputs.
  auto* flash = new QGroupBox("Flash Address", this);
  auto* flashGrid = new QGridLayout(flash);
  struct Box {
    C control;
    const char* label;
    const char* name;
    std::string DiagInputs::*member;
  };
  const Box flashBoxes[] = {
      {C::Channel, "Channel", "edit1290", &DiagInputs::channel}, {C::Chip, "Chip", "edit1291", &DiagInputs::chip},
      {C::Die, "Die", "edit1246", &DiagInputs::die},             {C::Plane, "Plane", "edit1248", &DiagInputs::plane},
      {C::Block, "Block", "edit1258", &DiagInputs::block},       {C::Raid, "RAID", "edit1442", &DiagInputs::raid},
      {C::Page, "Page", "edit1259", &DiagInputs::page},          {C::Count, "Count", "edit1260", &DiagInputs::count},
      {C::Static, "Static", "edit1293", &DiagInputs::staticBox},
  };
  int i = 0;
  for (const Box& b : flashBoxes) {
    flashGrid->addWidget(new QLabel(b.label, flash), 0, i);
    flashGrid->addWidget(addEdit(b.control, b.name, b.member, b.label, Radix::Hex, 8), 1, i);
    ++i;
  }

  auto* ftl = new QGroupBox("FTL", this);
  auto* ftlGrid = new QGridLayout(ftl);
  ftlGrid->addWidget(new QLabel("Start PPN (Hex)", ftl), 0, 0);
  ftlGrid->addWidget(addEdit(C::StartPpn, "edit1292", &DiagInputs::startPpn, "Start PPN", Radix::Hex, 8), 1, 0);
  ftlGrid->addWidget(new QLabel("End PPN (Hex)", ftl), 0, 1);
  ftlGrid->addWidget(addEdit(C::EndPpn, "edit1294", &DiagInputs::endPpn, "End PPN", Radix::Hex, 8), 1, 1);
  map_ = new QComboBox(ftl);
  map_->setObjectName("combo1271");
  controls_[static_cast<size_t>(C::Map)] = map_;
  ftlGrid->addWidget(new QLabel("0 Map, 1Table", ftl), 0, 2);
  ftlGrid->addWidget(map_, 1, 2);

  auto* memory = new QGroupBox("Memory", this);
  auto* memoryGrid = new QGridLayout(memory);
  memoryGrid->addWidget(new QLabel("Start Memory (No \"0x\")", memory), 0, 0);
  memoryGrid->addWidget(
      addEdit(C::StartMemory, "edit1353", &DiagInputs::startMemory, "Start Memory", Radix::Hex, 8), 1, 0);
  memoryGrid->addWidget(new QLabel("Memory Length (Byte)", memory), 0, 1);
  memoryGrid->addWidget(
      addEdit(C::MemoryLength, "edit1354", &DiagInputs::memoryLength, "Memory Length", Radix::Hex, 8), 1, 1);

  // Timer.
  auto* timed = new QGroupBox("Timer", this);
  auto* timedGrid = new QGridLayout(timed);
  currentTime_ = new QDateTimeEdit(timed);
  currentTime_->setObjectName("picker1287");
  currentTime_->setDisplayFormat("MM/dd hh:mm:ss");
  currentTime_->setReadOnly(true);
  currentTime_->setButtonSymbols(QAbstractSpinBox::NoButtons);
  hours_ = new QComboBox(timed);
  hours_->setObjectName("combo1299");
  minutes_ = new QComboBox(timed);
  minutes_->setObjectName("combo1298");
  for (int n = 0; n <= 100; ++n) {
    hours_->addItem(QString::number(n));
    minutes_->addItem(QString::number(n));
  }
  timeTrigger_ = new QPushButton("Time Trigger", timed);
  timeTrigger_->setObjectName("button1301");
  timeLeft_ = new QLineEdit(timed);
  timeLeft_->setObjectName("edit1302");
  timeLeft_->setReadOnly(true);
  controls_[static_cast<size_t>(C::Hours)] = hours_;
  controls_[static_cast<size_t>(C::Minutes)] = minutes_;
  controls_[static_cast<size_t>(C::TimeTrigger)] = timeTrigger_;
  timedGrid->addWidget(new QLabel("Current Time", timed), 0, 0);
  timedGrid->addWidget(currentTime_, 1, 0);
  timedGrid->addWidget(new QLabel("Hours", timed), 0, 1);
  timedGrid->addWidget(hours_, 1, 1);
  timedGrid->addWidget(new QLabel("Minutes", timed), 0, 2);
  timedGrid->addWidget(minutes_, 1, 2);
  timedGrid->addWidget(timeTrigger_, 1, 3);
  timedGrid->addWidget(new QLabel("Time Left", timed), 0, 4);
  timedGrid->addWidget(timeLeft_, 1, 4);

  // Max address.
  auto* maxAddress = new QGroupBox("Max Address", this);
  auto* maxGrid = new QGridLayout(maxAddress);
  slider_ = new QSlider(Qt::Horizontal, maxAddress);
  slider_->setObjectName("slider1453");
  slider_->setTickPosition(QSlider::TicksBelow);
  controls_[static_cast<size_t>(C::Slider)] = slider_;
  percent_ = new QLineEdit(maxAddress);
  percent_->setObjectName("edit1454");
  percent_->setReadOnly(true);
  indirect_ = new QCheckBox("Indirect Complement", maxAddress);
  indirect_->setObjectName("check1296");
  controls_[static_cast<size_t>(C::IndirectComplement)] = indirect_;
  maxGrid->addWidget(slider_, 0, 0, 1, 3);
  maxGrid->addWidget(
      addEdit(C::Address, "edit1387", &DiagInputs::address, "Max Address", Radix::HexOrSuffixH, 12), 1, 0);
  maxGrid->addWidget(percent_, 1, 1);
  maxGrid->addWidget(indirect_, 1, 2);

  auto* top = new QGridLayout;
  top->addWidget(new QLabel("Command", this), 0, 0);
  top->addWidget(command_, 0, 1);
  top->addWidget(getDevInfo_, 0, 2);
  top->addWidget(secondDump_, 1, 0);
  top->addWidget(second_, 1, 1);
  top->addWidget(makeReport_, 1, 2);
  top->addWidget(clear_, 0, 3);
  top->addWidget(lockModel_, 1, 3);
  top->setColumnStretch(1, 1);

  auto* inputs = new QHBoxLayout;
  inputs->addWidget(ftl);
  inputs->addWidget(memory);
  auto* lower = new QHBoxLayout;
  lower->addWidget(timed);
  lower->addWidget(maxAddress);

  // The controls scroll and the RAW Data pane keeps its share of the page:
  // at the window's minimum size the reply text must still be readable. The
  // splitter lets the person move the border.
  auto* controlsPane = new QWidget(this);
  auto* controlsLayout = new QVBoxLayout(controlsPane);
  controlsLayout->addLayout(top);
  controlsLayout->addWidget(flash);
  controlsLayout->addLayout(inputs);
  controlsLayout->addLayout(lower);
  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(progress_, 1);
  progressRow->addWidget(stop_);
  controlsLayout->addLayout(progressRow);
  controlsLayout->addStretch();
  auto* controlsScroll = new QScrollArea(this);
  controlsScroll->setWidget(controlsPane);
  controlsScroll->setWidgetResizable(true);
  controlsScroll->setFrameShape(QFrame::NoFrame);

  auto* rawPane = new QWidget(this);
  auto* rawLayout = new QVBoxLayout(rawPane);
  rawLayout->setContentsMargins(0, 0, 0, 0);
  rawLayout->addWidget(new QLabel("RAW Data", rawPane));
  rawLayout->addWidget(rawData_, 1);
  rawData_->setMinimumHeight(rawData_->fontMetrics().lineSpacing() * kRawDataMinimumLines);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->setObjectName("devInfoSplitter");
  splitter->addWidget(controlsScroll);
  splitter->addWidget(rawPane);
  splitter->setChildrenCollapsible(false);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter);

  // Events to the console.
  connect(getDevInfo_, &QPushButton::clicked, this, [this] { console_->onGetDevInfo(); });
  connect(timeTrigger_, &QPushButton::clicked, this, [this] { console_->onTimeTrigger(); });
  connect(clear_, &QPushButton::clicked, this, [this] { console_->onClearMessage(); });
  // Stop ends whatever operation holds the drive, as Esc does.
  connect(stop_, &QPushButton::clicked, this, [this] { services_.runner.requestStop(); });
  connect(&services_.runner, &OperationRunner::operationStarted, stop_, [this] { stop_->setEnabled(true); });
  connect(&services_.runner, &OperationRunner::operationEnded, stop_, [this] { stop_->setEnabled(false); });
  connect(&services_.runner, &OperationRunner::selectedDriveChanged, progress_, [this] { progress_->setValue(0); });
  connect(lockModel_, &QPushButton::clicked, this, [this] {
    if (ModelLockOpener open = modelLockOpener()) open(services_, parentWidget() ? parentWidget() : this);
  });
  connect(command_, &QComboBox::currentIndexChanged, this, [this](int row) {
    if (!refreshing_) console_->onCommandChanged(row);
  });
  connect(second_, &QComboBox::currentIndexChanged, this, [this](int row) {
    if (!refreshing_) console_->onSecondCommandChanged(row);
  });
  connect(secondDump_, &QCheckBox::toggled, this, [this](bool on) {
    if (!refreshing_) console_->onSecondDumpToggled(on);
  });
  connect(makeReport_, &QCheckBox::toggled, this, [this](bool on) {
    if (!refreshing_) console_->onMakeReportToggled(on);
  });
  connect(map_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!refreshing_) console_->onMapChanged(index);
  });
  connect(hours_, &QComboBox::currentIndexChanged, this, [this](int n) {
    if (!refreshing_) console_->onHoursChanged(n);
  });
  connect(minutes_, &QComboBox::currentIndexChanged, this, [this](int n) {
    if (!refreshing_) console_->onMinutesChanged(n);
  });
  connect(slider_, &QSlider::valueChanged, this, [this](int position) {
    if (!refreshing_) console_->onSliderMoved(position);
  });

  // Runs on the window's runner; state changes come back to the interface thread.
  console_->setRunStarter([this](std::function<void()> body) {
    return services_.runner.start(this, std::move(body), [this] { refresh(); });
  });
  console_->setChangeListener([this] {
    if (onGuiThread()) {
      if (!refreshing_) refresh();
    } else {
      QMetaObject::invokeMethod(this, &CDevInfo::refresh, Qt::QueuedConnection);
    }
  });

  timer_ = new QTimer(this);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, [this] { console_->onTimerTick(); });
  timer_->start();
  refresh();
}

CDevInfo::~CDevInfo() {
  timer_->stop();
  console_->setChangeListener(nullptr);
  waitForRun();
  console_->setProgressSink(nullptr);
}

void CDevInfo::waitForRun() { services_.runner.wait(); }

void CDevInfo::refresh() {
  DevInfoState s = console_->state();
  refreshing_ = true;
  for (size_t c = 0; c < kDevInfoControlCount; ++c) {
    if (controls_[c]) controls_[c]->setEnabled(s.enabled[c]);
  }
  command_->setCurrentIndex(s.command);
  second_->setCurrentIndex(s.secondCommand);
  secondDump_->setChecked(s.secondDump);
  makeReport_->setChecked(s.makeReport);
  indirect_->setChecked(s.indirectComplement);
  for (auto& [edit, member] : edits_) setTextIfChanged(edit, s.inputs.*member);

  QStringList choices;
  for (const std::string& c : s.mapChoices) choices << QString::fromStdString(c);
  QStringList shown;
  for (int k = 0; k < map_->count(); ++k) shown << map_->itemText(k);
  if (shown != choices) {
    map_->clear();
    map_->addItems(choices);
  }
  map_->setCurrentIndex(static_cast<int>(choices.indexOf(QString::fromStdString(s.inputs.map))));

  hours_->setCurrentIndex(s.hours);
  minutes_->setCurrentIndex(s.minutes);
  DiagClockValue clock = console_->clock();
  if (clock.valid) {
    currentTime_->setDateTime(QDateTime(QDate(clock.year(), clock.month(), clock.day()),
                                        QTime(clock.hour(), clock.minute(), clock.second())));
  }
  setTextIfChanged(timeLeft_, s.timeLeft);
  slider_->setRange(s.sliderMinimum, s.sliderMaximum);
  slider_->setTickInterval(s.sliderTick);
  slider_->setSingleStep(s.sliderLine);
  slider_->setPageStep(s.sliderLine);
  slider_->setValue(s.sliderPosition);
  setTextIfChanged(percent_, s.percent);
  refreshing_ = false;
}

namespace {

QWidget* makeDevInfoPage(PageServices& services, QWidget* parent) { return new CDevInfo(services, parent); }

PageRegistrar reg{10, "Dev Info", &makeDevInfoPage};

}  // namespace

}  // namespace zorv::app
