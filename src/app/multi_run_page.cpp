#include "app/multi_run_page.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <filesystem>

#include "app/fixed_pitch_font.h"
#include "discovery/device_backend.h"
#include "discovery/volumes.h"

namespace zorv::app {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

void fillNumbers(QComboBox* box, int first, int last, int chosen) {
  box->clear();
  for (int n = first; n <= last; ++n) box->addItem(QString::number(n), n);
  box->setCurrentIndex(box->findData(chosen));
}

}  // namespace

// --- CMutiRunSub ---

CMutiRunSub::CMutiRunSub(Context& ctx, WorkloadJob job, QWidget* parent) : QDialog(parent) {
  setObjectName("CMutiRunSub");
  setWindowTitle(qs(job.title));
  setAttribute(Qt::WA_DeleteOnClose, false);
  state_ = new QPlainTextEdit(this);
  state_->setReadOnly(true);
  state_->setFont(fixedPitchFont(10));
  state_->setObjectName("state");
  messages_ = std::make_unique<QtMessageSink>(QtMessageSink::makeTextBox(this, 10));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(state_, 1);
  layout->addWidget(messages_->widget(), 1);
  resize(420, 520);

  job.stop = &stop_;
  job.messages = messages_.get();
  run_ = std::make_unique<WorkloadRun>(ctx, std::move(job));
  connect(&timer_, &QTimer::timeout, this, &CMutiRunSub::tick);
  timer_.start(1000);
  worker_ = std::thread([r = run_.get()] { r->run(); });
}

CMutiRunSub::~CMutiRunSub() {
  stop_ = 1;
  if (worker_.joinable()) worker_.join();
}

void CMutiRunSub::closeEvent(QCloseEvent* event) {
  stop_ = 1;
  timer_.stop();
  if (worker_.joinable()) worker_.join();
  joined_ = true;
  QDialog::closeEvent(event);
}

void CMutiRunSub::tick() {
  state_->setPlainText(qs(run_->stateText()).replace("\r\n", "\n"));
  if (!run_->finished()) return;
  timer_.stop();
  if (worker_.joinable()) worker_.join();
  joined_ = true;
  verdict_ = new QMessageBox(run_->result().passed ? QMessageBox::Information : QMessageBox::Warning, windowTitle(),
                             qs(run_->verdictText()), QMessageBox::Ok, this);
  verdict_->setAttribute(Qt::WA_DeleteOnClose);
  verdict_->open();
}

// --- CMultiRun ---

CMultiRun::CMultiRun(PageServices& services, QWidget* parent) : QWidget(parent), services_(services) {
  setObjectName("CMultiRun");
  list_ = new QTreeWidget(this);
  list_->setObjectName("driveList");
  list_->setRootIsDecorated(false);
  list_->setFont(fixedPitchFont(10));

  rsvFill_ = new QCheckBox(QStringLiteral("Reserve Fill %"), this);
  rsvText_ = new QLineEdit(this);
  rsvText_->setReadOnly(true);
  seq_ = new QComboBox(this);
  rnd_ = new QComboBox(this);
  fillNumbers(seq_, 0, 99, model_.sequentialPercent());
  fillNumbers(rnd_, 0, 100 - model_.sequentialPercent(), model_.randomPercent());
  byLoop_ = new QRadioButton(QStringLiteral("Loop"), this);
  byTime_ = new QRadioButton(QStringLiteral("Time"), this);
  byLoop_->setChecked(true);
  loop_ = new QLineEdit(qs(model_.loopText()), this);
  hours_ = new QComboBox(this);
  minutes_ = new QComboBox(this);
  fillNumbers(hours_, 0, 99, 1);
  fillNumbers(minutes_, 0, 99, 10);
  auto* getDrive = new QPushButton(QStringLiteral("Get Drive"), this);
  auto* openTs = new QPushButton(QStringLiteral("Open TS Script"), this);
  auto* openDefine = new QPushButton(QStringLiteral("Open Define Test Script"), this);
  auto* jesd = new QPushButton(QStringLiteral("JESD219A"), this);
  auto* run = new QPushButton(QStringLiteral("Run"), this);
  box_ = QtMessageSink::makeTextBox(this, 10);
  sink_ = std::make_unique<QtMessageSink>(box_);

  auto* grid = new QGridLayout;
  grid->addWidget(rsvFill_, 0, 0);
  grid->addWidget(rsvText_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Sequential Access %"), this), 1, 0);
  grid->addWidget(seq_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Random Access %"), this), 2, 0);
  grid->addWidget(rnd_, 2, 1);
  grid->addWidget(byLoop_, 0, 2);
  grid->addWidget(loop_, 0, 3);
  grid->addWidget(byTime_, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Hours"), this), 1, 3);
  grid->addWidget(hours_, 1, 4);
  grid->addWidget(new QLabel(QStringLiteral("Minutes"), this), 2, 3);
  grid->addWidget(minutes_, 2, 4);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {getDrive, openTs, openDefine, jesd, run}) buttons->addWidget(b);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 2);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->addWidget(box_, 1);
  showReserve();

  connect(getDrive, &QPushButton::clicked, this, &CMultiRun::onGetDrive);
  connect(openTs, &QPushButton::clicked, this, [this] {
    if (auto f = services_.ui.chooseOpenFile("Open TS Script", "Script Files(*.sc2)|*.sc2||")) openCapacityScript(*f);
  });
  connect(openDefine, &QPushButton::clicked, this, [this] {
    if (auto f = services_.ui.chooseOpenFile("Open Define Test Script", "Script Files(*.sc1)|*.sc1||"))
      openDefineScript(*f);
  });
  connect(jesd, &QPushButton::clicked, this, [this] {
    if (auto f = services_.ui.chooseOpenFile("JESD219A", "Script Files(*.txt)|*.txt||")) openJesdScript(*f);
  });
  connect(run, &QPushButton::clicked, this, &CMultiRun::onRun);
  connect(seq_, &QComboBox::activated, this, &CMultiRun::onSequentialChosen);
  connect(rnd_, &QComboBox::activated, this, &CMultiRun::onRandomChosen);
  connect(loop_, &QLineEdit::textEdited, this, &CMultiRun::onLoopEdited);
}

CMultiRun::~CMultiRun() {
  for (const QPointer<CMutiRunSub>& w : windows_) delete w.data();
}

void CMultiRun::showReserve() { rsvText_->setText(QString::number(model_.reservePercent())); }

void CMultiRun::fillList() {
  list_->clear();
  QStringList headers;
  for (const std::string& c : model_.columns()) headers << qs(c);
  list_->setHeaderLabels(headers);
  for (size_t i = 0; i < model_.rows().size(); ++i) {
    QStringList texts;
    for (const std::string& t : model_.rowTexts(i)) texts << qs(t);
    auto* item = new QTreeWidgetItem(list_, texts);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, model_.rows()[i].checked ? Qt::Checked : Qt::Unchecked);
  }
}

void CMultiRun::onGetDrive() {
  model_.getDrives(services_.ctx);
  fillList();
}

void CMultiRun::onSequentialChosen(int index) {
  model_.setSequentialPercent(seq_->itemData(index).toInt());
  fillNumbers(rnd_, 0, 100 - model_.sequentialPercent(), model_.randomPercent());
  showReserve();
  fillList();
}

void CMultiRun::onRandomChosen(int index) {
  model_.setRandomPercent(rnd_->itemData(index).toInt());
  showReserve();
  fillList();
}

void CMultiRun::onLoopEdited(const QString& text) {
  if (!model_.setLoopText(text.toStdString())) loop_->clear();
}

bool CMultiRun::openScript(const std::string& path, bool (MultiRunTab::*open)(const std::string&, std::string&)) {
  std::string error;
  auto text = readScriptFile(path, error);
  if (text && (model_.*open)(*text, error)) {
    fillList();
    return true;
  }
  sink_->append(error + "\r\n");
  return false;
}

bool CMultiRun::openDefineScript(const std::string& path) { return openScript(path, &MultiRunTab::openDefineScript); }
bool CMultiRun::openCapacityScript(const std::string& path) {
  return openScript(path, &MultiRunTab::openCapacityScript);
}
bool CMultiRun::openJesdScript(const std::string& path) { return openScript(path, &MultiRunTab::openJesdScript); }

WorkloadPortOpener CMultiRun::portOpener() const {
  // Each window opens the backend itself. The window program knows the bay
  // it was started on by the bay's mount table beside it.
  std::string simDir;
  if (services_.ctx.port->name() == "sim")
    simDir = std::filesystem::path(services_.mountInfoPath).parent_path().string();
  return [simDir](std::string& error) { return openDeviceBackend(simDir, error); };
}

bool CMultiRun::onRun() {
  for (int i = 0; i < list_->topLevelItemCount() && static_cast<size_t>(i) < model_.rows().size(); ++i)
    model_.rows()[static_cast<size_t>(i)].checked = list_->topLevelItem(i)->checkState(0) == Qt::Checked;
  model_.reserveFill = rsvFill_->isChecked();
  model_.byTime = byTime_->isChecked();
  model_.hours = static_cast<uint32_t>(hours_->currentData().toInt());
  model_.minutes = static_cast<uint32_t>(minutes_->currentData().toInt());
  RawWritePermission permission;
  permission.volumes = readVolumeMap(services_.mountInfoPath);
  if (services_.ctx.port->name() != "sim") {
    permission.userConsent = services_.ui.askYesNo(
        "The workload writes raw sectors and destroys the data of every checked drive. Go on?", {},
        BoxIcon::Exclamation);
    if (!permission.userConsent) return false;
  }
  std::string error;
  auto blocks = model_.buildBlocks(services_.ctx, permission, error);
  if (!blocks) {
    sink_->append(error + "\r\n");
    return false;
  }
  const WorkloadPortOpener opener = portOpener();
  for (const std::string& block : *blocks) {
    auto plan = parseWorkloadBlock(block, error);
    if (!plan) {
      sink_->append(error + "\r\n");
      return false;
    }
    WorkloadJob job;
    job.plan = *plan;
    job.drive = model_.rows()[static_cast<size_t>(plan->rowIndex)].drive;
    job.openPort = opener;
    auto* w = new CMutiRunSub(services_.ctx, std::move(job), nullptr);
    w->show();
    windows_.emplace_back(w);
  }
  return true;
}

namespace {

QWidget* makeMultiRunPage(PageServices& services, QWidget* parent) { return new CMultiRun(services, parent); }

PageRegistrar reg{45, "Multi Run", &makeMultiRunPage};

}  // namespace

}  // namespace zorv::app
