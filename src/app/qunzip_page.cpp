#include "app/qunzip_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>


#include "app/fixed_pitch_font.h"

namespace zorv::app {

namespace {

// Beside the package's three columns: the version each image carries.
constexpr int kVersionColumn = 3;

QPushButton* makeButton(const char* text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(QString::fromLatin1(text), parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

QCheckBox* makeBox(const char* text, const char* name, QWidget* parent) {
  auto* b = new QCheckBox(QString::fromLatin1(text), parent);
  b->setObjectName(name);
  return b;
}

}  // namespace

CQUnZip::CQUnZip(PageServices& services, QWidget* parent) : QWidget(parent), services_(services) {
  setObjectName("CQUnZip");
  list_ = new QTreeWidget(this);
  list_->setObjectName("qzList");
  list_->setRootIsDecorated(false);
  list_->setColumnCount(kVersionColumn + 1);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setAllColumnsShowFocus(true);
  list_->setFont(fixedPitchFont(10));
  applyColumns(firmware::initialQzColumns(services_.ctx.selectedDrive().usModelClass));

  box_ = QtMessageSink::makeTextBox(this, 10);
  box_->setObjectName("qzMessage");
  boxSink_ = std::make_unique<QtMessageSink>(box_);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("qzProgress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  // A download brings the message page to the front: its bar shows the
  // transfer too.
  QProgressBar* watched =
      services_.mainWindow ? services_.mainWindow->findChild<QProgressBar*>("messageProgress") : nullptr;
  progressSink_ = std::make_unique<QtProgressSink>(progress_, watched);

  openQz_ = makeButton("Open QZ", "openQz", this);
  downloadQz_ = makeButton("Download QZ", "downloadQz", this);
  openBin_ = makeButton("Open Bin", "openBin", this);
  clearSmart_ = makeButton("Clear SMART", "clearSmart", this);
  preRb3_ = makeButton("PreRB3", "preRb3", this);
  appendQz_ = makeButton("Append QZ", "appendQz", this);
  disablePowerDown_ = makeBox("Disable Power Down Mode", "disablePowerDown", this);
  abnormalDebug_ = makeBox("Enable Abnormal Debug", "abnormalDebug", this);
  rs232_ = makeBox("Enable RS323 (Need Disable Power Down)", "rs232", this);
  skipModelNameCheck_ = makeBox("Enable Skip Model Name Check", "skipModelNameCheck", this);
  makeFwDownloader_ = makeBox("Make FW Downloader", "makeFwDownloader", this);

  auto* buttons = new QGridLayout;
  buttons->addWidget(openQz_, 0, 0);
  buttons->addWidget(downloadQz_, 0, 1);
  buttons->addWidget(openBin_, 0, 2);
  buttons->addWidget(clearSmart_, 1, 0);
  buttons->addWidget(preRb3_, 1, 1);
  buttons->addWidget(appendQz_, 1, 2);
  auto* boxes = new QVBoxLayout;
  boxes->addWidget(disablePowerDown_);
  boxes->addWidget(abnormalDebug_);
  boxes->addWidget(rs232_);
  boxes->addWidget(skipModelNameCheck_);
  boxes->addWidget(makeFwDownloader_);
  auto* controls = new QHBoxLayout;
  controls->addLayout(buttons);
  controls->addLayout(boxes);
  controls->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 2);
  layout->addLayout(controls);
  layout->addWidget(progress_);
  layout->addWidget(box_, 3);

  connect(openQz_, &QPushButton::clicked, this, &CQUnZip::onOpenQz);
  connect(downloadQz_, &QPushButton::clicked, this, &CQUnZip::onDownloadQz);
  connect(openBin_, &QPushButton::clicked, this, &CQUnZip::onOpenBin);
  connect(clearSmart_, &QPushButton::clicked, this, &CQUnZip::onClearSmart);
  connect(preRb3_, &QPushButton::clicked, this, &CQUnZip::onPreRb3);
  connect(appendQz_, &QPushButton::clicked, this, &CQUnZip::onAppendQz);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) { onRowActivated(item); });
  // The bar shows the selected drive's download, not another drive's.
  connect(&services_.runner, &OperationRunner::selectedDriveChanged, progress_,
          [this] { progressSink_->setPosition(0); });
}

CQUnZip::~CQUnZip() { waitForWorker(); }

bool CQUnZip::running() const { return services_.runner.running(); }

void CQUnZip::waitForWorker() { services_.runner.wait(); }

std::optional<firmware::DownloadResult> CQUnZip::lastDownload() const {
  std::lock_guard lock(resultMutex_);
  return lastDownload_;
}

std::optional<firmware::ImageWriteStatus> CQUnZip::lastImageWrite() const {
  std::lock_guard lock(resultMutex_);
  return lastImageWrite_;
}

firmware::FirmwareTabOptions CQUnZip::options() const {
  firmware::FirmwareTabOptions o;
  o.switches.disablePowerDown = disablePowerDown_->isChecked();
  o.switches.enableAbnormalDebug = abnormalDebug_->isChecked();
  o.switches.enableRs232 = rs232_->isChecked();
  o.switches.skipModelNameCheck = skipModelNameCheck_->isChecked();
  o.makeFwDownloader = makeFwDownloader_->isChecked();
  return o;
}

void CQUnZip::clearOptionBoxes() {
  for (QCheckBox* b : {disablePowerDown_, abnormalDebug_, rs232_, skipModelNameCheck_}) b->setChecked(false);
}

void CQUnZip::applyColumns(const std::array<firmware::ListColumn, 3>& columns) {
  QStringList titles;
  for (const firmware::ListColumn& c : columns)
    titles << QString::fromLatin1(c.title.data(), static_cast<qsizetype>(c.title.size()));
  titles << QStringLiteral("FW Version");
  list_->setHeaderLabels(titles);
  list_->resizeColumnToContents(kVersionColumn);
  // The widths are the least a column gets; a column whose texts are wider
  // (a 16-byte Firmware ID in this font) widens to them instead of cutting them.
  for (int i = 0; i < 3; ++i) {
    list_->resizeColumnToContents(i);
    list_->setColumnWidth(i, std::max(list_->columnWidth(i), columns[static_cast<size_t>(i)].width));
  }
}

void CQUnZip::fillList() {
  list_->clear();
  for (const firmware::QzListRow& r : tab_.listRows()) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, QString::fromStdString(r.firmwareId));
    item->setText(1, QString::fromStdString(r.offset));
    item->setText(2, QString::fromStdString(r.modelName));
    item->setText(kVersionColumn, QString::fromStdString(tab_.imageVersion(list_->indexOfTopLevelItem(item))));
  }
  applyColumns(tab_.columns());
}

void CQUnZip::bringFirstTabToFront() {
  if (!services_.mainWindow) return;
  if (auto* tabs = services_.mainWindow->findChild<QTabWidget*>("tabs")) tabs->setCurrentIndex(0);
}

void CQUnZip::setControlsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{list_, openQz_, downloadQz_, openBin_, clearSmart_, preRb3_,
                                                    appendQz_, disablePowerDown_, abnormalDebug_, rs232_,
                                                    skipModelNameCheck_, makeFwDownloader_})
    w->setEnabled(enabled);
}

void CQUnZip::onOpenQz() {
  if (running()) return;
  std::optional<std::string> path = services_.ctx.ui->chooseOpenFile("Open QZ", firmware::kQzFileFilter);
  loadQz(path.value_or(std::string()));
}

bool CQUnZip::loadQz(const std::string& path) {
  if (running()) return false;
  if (!tab_.loadFile(services_.ctx, path, *boxSink_)) return false;
  fillList();
  return true;
}

void CQUnZip::onDownloadQz() {
  std::optional<int> row;
  bool ran = services_.runner.runHere([&] {
    if (list_->topLevelItemCount() == 0) {
      AppendMessage(services_.ctx, "No QZ code\r\n", *boxSink_);
    } else {
      const uint16_t readWith = tab_.modelClass();
      row = firmware::chooseQzRowForDrive(services_.ctx, tab_, *boxSink_);
      // The IDs were read again for the drive selected now: show them so.
      if (tab_.modelClass() != readWith) fillList();
    }
  });
  if (!ran || !row) return;
  bringFirstTabToFront();
  std::span<const uint8_t> image = tab_.image(*row);
  startFromTab(std::vector<uint8_t>(image.begin(), image.end()));
}

void CQUnZip::onRowActivated(QTreeWidgetItem* item) {
  if (!item || running()) return;
  int row = list_->indexOfTopLevelItem(item);
  std::span<const uint8_t> image = tab_.image(row);
  if (image.empty()) return;
  bringFirstTabToFront();
  startFromTab(std::vector<uint8_t>(image.begin(), image.end()));
}

void CQUnZip::onOpenBin() {
  if (running()) return;
  clearOptionBoxes();
  std::optional<std::string> path = services_.ctx.ui->chooseOpenFile("Open Bin", firmware::kBinFilter);
  openBin(path.value_or(std::string()));
}

void CQUnZip::openBin(const std::string& path) {
  if (running()) return;
  clearOptionBoxes();
  std::optional<std::vector<uint8_t>> bytes = firmware::readBinFile(services_.ctx, path, *boxSink_);
  if (!bytes) return;
  bringFirstTabToFront();
  list_->clear();
  startFromTab(std::move(*bytes));
}

void CQUnZip::startFromTab(std::vector<uint8_t> image) {
  firmware::FirmwareTabOptions o = options();
  const firmware::TabJob job = firmware::planTabStart(o);
  std::function<void()> body;
  if (job == firmware::TabJob::WriteExecutable) {
    body = [this, image = std::move(image)] {
      firmware::ImageWriteStatus s = firmware::writeImageIntoExecutable(services_.ctx, image);
      std::lock_guard lock(resultMutex_);
      lastImageWrite_ = s;
    };
  } else {
    body = [this, image = std::move(image), switches = o.switches] {
      firmware::TabDownloadResult r =
          firmware::runTabDownload(services_.ctx, image, switches, *boxSink_, *progressSink_);
      std::lock_guard lock(resultMutex_);
      lastDownload_ = r.download;
    };
  }
  if (!services_.runner.start(this, std::move(body), [this] { setControlsEnabled(true); })) return;
  setControlsEnabled(false);
  if (job == firmware::TabJob::WriteExecutable) {
    clearOptionBoxes();
  } else {
    progressSink_->setPosition(0);
  }
}

void CQUnZip::onClearSmart() {
  services_.runner.runHere([this] { firmware::clearSmartData(services_.ctx, *boxSink_); });
}

void CQUnZip::onPreRb3() {
  services_.runner.runHere([this] { firmware::preReboot(services_.ctx, *boxSink_); });
}

void CQUnZip::onAppendQz() {
  if (running()) return;
  firmware::appendPackageToExecutable(services_.ctx, skipModelNameCheck_->isChecked(), *boxSink_);
}

namespace {

QWidget* makeQUnZipPage(PageServices& services, QWidget* parent) { return new CQUnZip(services, parent); }

PageRegistrar reg{20, "Firmware", &makeQUnZipPage};

}  // namespace

}  // namespace zorv::app
