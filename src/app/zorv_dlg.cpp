#include "app/zorv_dlg.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QStyle>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include <filesystem>

#include "app/edit_ata_dialog.h"
#include "app/erase_stats_view.h"
#include "app/firmware_entry.h"
#include "app/media_test_page.h"
#include "diagnostics/vendor_maintenance.h"
#include "mediatest/media_test_params.h"
#include "transport/message.h"

namespace zorv::app {

namespace {

constexpr const char* kDownloaderTitle = "FW Downloader";
constexpr const char* kDownloaderTitleAfterPass = "Firmware Downloader Ver 1.7";
constexpr const char* kEngineeringTitle = "Zorv";
constexpr const char* kStopAndExitQuestion = "An operation is still running. Stop it and exit?";
// Device events that wait while an operation runs only ever cause a rescan,
// so a burst beyond this many is as good as this many.
constexpr size_t kMaxPendingEvents = 64;

}  // namespace

CZorvDlg::CZorvDlg(DevicePort& port, DlgOptions options, QWidget* parent)
    : QDialog(parent), port_(port), options_(std::move(options)), ui_(this) {
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));
  setAcceptDrops(true);
  if (options_.layout == WindowLayout::Downloader) {
    buildDownloader();
    openDownloader();
  } else {
    buildEngineering();
    openEngineering();
  }
}

CZorvDlg::~CZorvDlg() {
  deviceTimer_.stop();
  // The pages go while the runner and the context they use are still here,
  // and none of them has an operation left running.
  if (runner_) runner_->wait();
  delete tabs_;
  tabs_ = nullptr;
  attachment_.reset();
}

void CZorvDlg::buildDownloader() {
  setObjectName("CZorvDlg");
  auto* layout = new QVBoxLayout(this);
  driveCombo_ = new QComboBox(this);
  driveCombo_->setObjectName("driveList");
  layout->addWidget(driveCombo_);

  messageBox_ = QtMessageSink::makeTextBox(this, 12);
  messageBox_->setObjectName("messageBox");
  layout->addWidget(messageBox_, 1);

  progress_ = new QProgressBar(this);
  progress_->setObjectName("progressBar");
  layout->addWidget(progress_);

  auto* row = new QHBoxLayout;
  radio1227_ = new QRadioButton(this);
  radio1227_->setObjectName("radio1227");
  radio1233_ = new QRadioButton(this);
  radio1233_->setObjectName("radio1233");
  fwUpdate_ = new QPushButton(this);
  fwUpdate_->setObjectName("fwUpdate");
  // Enter must never start an update.
  fwUpdate_->setAutoDefault(false);
  row->addWidget(radio1227_);
  row->addWidget(radio1233_);
  row->addStretch();
  row->addWidget(fwUpdate_);
  layout->addLayout(row);
  resize(600, 560);

  boxSink_ = new QtMessageSink(messageBox_, this);
  // The message pane is the engineering layout's message page, which this
  // layout does not show: the message box keeps the drive blocks and the
  // verdicts, and a rescan on device arrival or removal, which clears the
  // pane, leaves them standing.
  mainMessage_ = new CMainMessage(this);
  mainMessage_->hide();
  paneSink_ = &mainMessage_->sink();
  driveList_ = new QtDriveList(driveCombo_, this);
  progressSink_ = std::make_unique<QtProgressSink>(progress_);
  ctx_ = std::make_unique<Context>(port_, ui_, clock_, *paneSink_);
  runner_ = std::make_unique<OperationRunner>(*ctx_, *driveList_);
  attachment_ = std::make_unique<DriveListAttachment>(*ctx_, *driveList_);

  connect(driveList_, &QtDriveList::userSelected, this, &CZorvDlg::onDriveSelected);
  connect(fwUpdate_, &QPushButton::clicked, this, &CZorvDlg::onFwUpdate);
  // The bar shows the selected drive's update, not another drive's.
  connect(runner_.get(), &OperationRunner::selectedDriveChanged, progress_, [this] { progress_->setValue(0); });
  connect(runner_.get(), &OperationRunner::operationEnded, this, &CZorvDlg::applyPendingDeviceEvents);
}

void CZorvDlg::openDownloader() {
  setWindowTitle(kDownloaderTitle);
  radio1227_->hide();
  radio1233_->hide();
  startDeviceWatch();
  applyStartupDefaults(*ctx_);

  setWindowTitle(kDownloaderTitleAfterPass);
  VolumeMap volumes = readVolumes(*ctx_->port, options_.mountInfoPath);
  drives_ = RunDriveInformationPass(*ctx_, *driveList_, *boxSink_, volumes);

  fwUpdate_->setText(QStringLiteral("FW Update"));
  progress_->setRange(0, 100);
  progress_->setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: #00FF00; }"));
  progress_->setValue(0);
  runner_->noteSelection();
}

void CZorvDlg::buildEngineering() {
  setObjectName("CZorvDlg");
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  driveCombo_ = new QComboBox(this);
  driveCombo_->setObjectName("driveList");
  skipModelCheck_ = new QCheckBox(QStringLiteral("Skip Model Name Check"), this);
  reflash_ = new QPushButton(QStringLiteral("Reflash Drive"), this);
  reflash_->setAutoDefault(false);
  top->addWidget(driveCombo_, 1);
  top->addWidget(skipModelCheck_);
  top->addWidget(reflash_);
  buildMenus(layout, top);
  layout->addLayout(top);

  tabs_ = new CTabMain(this);
  layout->addWidget(tabs_, 1);
  mainMessage_ = new CMainMessage(tabs_);
  tabs_->addPage(mainMessage_, QStringLiteral("Message"));
  resize(1000, 700);

  paneSink_ = &mainMessage_->sink();
  driveList_ = new QtDriveList(driveCombo_, this);
  ctx_ = std::make_unique<Context>(port_, ui_, clock_, *paneSink_);
  runner_ = std::make_unique<OperationRunner>(*ctx_, *driveList_);
  attachment_ = std::make_unique<DriveListAttachment>(*ctx_, *driveList_);
  services_ = std::make_unique<PageServices>(
      PageServices{*ctx_, ui_, *paneSink_, *driveList_, this, *runner_, options_.mountInfoPath});
  for (const RegisteredPage& page : registeredPages()) {
    QWidget* w = page.factory ? page.factory(*services_, tabs_) : nullptr;
    if (w) tabs_->addPage(w, QString::fromUtf8(page.title));
  }

  connect(driveList_, &QtDriveList::userSelected, this, &CZorvDlg::onDriveSelected);
  connect(reflash_, &QPushButton::clicked, this, &CZorvDlg::onReflashDrive);
  connect(runner_.get(), &OperationRunner::operationEnded, this, &CZorvDlg::applyPendingDeviceEvents);
}

void CZorvDlg::buildMenus(QVBoxLayout* layout, QHBoxLayout* top) {
  auto add = [this](QMenu* menu, const char* text, int id, auto slot) {
    QAction* a = menu->addAction(QString::fromUtf8(text));
    a->setObjectName(QString("action%1").arg(id));
    a->setData(id);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  menu_ = new QMenuBar(this);
  menu_->setObjectName("mainMenu");
  menu_->setNativeMenuBar(false);
  QMenu* file = menu_->addMenu(QStringLiteral("  F&ile  "));
  add(file, "&Exit", kCmdExit, [this] { accept(); });
  QMenu* vendor = menu_->addMenu(QStringLiteral("  &Vendor  "));
  QMenu* ata = vendor->addMenu(QStringLiteral("&1  ATA"));
  add(ata, "&1  Any ATA", kCmdAnyAta, &CZorvDlg::onAnyAta);
  add(vendor, "&2  DrawData", kCmdDrawData, &CZorvDlg::onDrawData);
  QMenu* func = menu_->addMenu(QStringLiteral("  &Func  "));
  QMenu* read = func->addMenu(QStringLiteral("&1  Read"));
  add(read, "&1  Seq Read", kCmdSeqRead, [this] { onMediaTestMenu(kOpSeqRead); });
  add(read, "&2  Rnd Access", kCmdRndAccess, [this] { onMediaTestMenu(kOpRandomAccess); });
  QMenu* write = func->addMenu(QStringLiteral("&2  Write"));
  add(write, "&1  Seq Write", kCmdSeqWrite, [this] { onMediaTestMenu(kOpSeqWrite); });
  add(write, "&2  Rnd Write", kCmdRndWrite, [this] { onMediaTestMenu(kOpRandomWrite); });
  QMenu* diagnostic = menu_->addMenu(QStringLiteral("Diagnostic"));
  add(diagnostic, "Trigger", kCmdDiagnosticTrigger, &CZorvDlg::onDiagnosticTrigger);
  layout->setMenuBar(menu_);

  // The second, shorter menu sits beside the rescan button.
  secondMenu_ = new QMenuBar(this);
  secondMenu_->setObjectName("secondMenu");
  secondMenu_->setNativeMenuBar(false);
  QAction* update = secondMenu_->addAction(QStringLiteral("Update Firmware"));
  update->setObjectName(QString("action%1").arg(kCmdUpdateFirmware));
  update->setData(int{kCmdUpdateFirmware});
  connect(update, &QAction::triggered, this, &CZorvDlg::onUpdateFirmware);
  QMenu* diagnostic2 = secondMenu_->addMenu(QStringLiteral("Diagnostic"));
  add(diagnostic2, "Trigger", kCmdDiagnosticTrigger, &CZorvDlg::onDiagnosticTrigger);
  QMenu* rma = secondMenu_->addMenu(QStringLiteral("RMA"));
  add(rma, "Clean SMART", kCmdCleanSmart, &CZorvDlg::onCleanSmart);
  top->addWidget(secondMenu_);
}

QAction* CZorvDlg::menuAction(int command, bool second) const {
  QMenuBar* bar = second ? secondMenu_ : menu_;
  if (!bar) return nullptr;
  for (QAction* a : bar->findChildren<QAction*>()) {
    if (a->data().toInt() == command && !a->menu()) return a;
  }
  // Actions added straight to a menu bar are the bar's, not its children.
  for (QAction* a : bar->actions()) {
    if (a->data().toInt() == command && !a->menu()) return a;
  }
  return nullptr;
}

bool CZorvDlg::busy() const { return ctx_->fgBusy || runner_->running(); }

void CZorvDlg::onAnyAta() {
  if (busy()) return;
  runner_->runHere([this] {
    ctx_->usOpCode = kOpAnyAta;
    paneSink_->clear();
    ctx_->CmdBlock.clear();
    CEditAta console(*ctx_, this);
    console.exec();
  });
}

void CZorvDlg::onDrawData() {
  if (busy()) return;
  runner_->runHere([this] {
    ctx_->usOpCode = kOpAnyAta;
    paneSink_->clear();
    ctx_->CmdBlock.clear();
    std::filesystem::path dir =
        options_.dumpDirectory.empty() ? std::filesystem::path(".") : std::filesystem::path(options_.dumpDirectory);
    CEraseStatsView view(*ctx_, ui_, *paneSink_, dir, this);
    view.readDrive();
    view.exec();
  });
}

void CZorvDlg::onMediaTestMenu(uint16_t opCode) {
  if (busy() || !services_) return;
  ctx_->usOpCode = opCode;
  openMediaTestDialog(*services_, opCode);
}

void CZorvDlg::onUpdateFirmware() {
  if (tabs_) tabs_->setCurrentIndex(0);
  if (busy()) return;
  if (!updateProgress_) updateProgress_ = std::make_unique<QtProgressSink>(mainMessage_->progressBar());
  updateProgress_->setPosition(0);
  updateOk_ = false;
  // The same update as the downloader's "FW Update", on the runner's worker;
  // its texts go to the message pane, the engineering layout's message box.
  runner_->start(
      this, [this] { updateOk_ = runFirmwareUpdate(*ctx_, *updateProgress_, *paneSink_); },
      [this] {
        if (!updateOk_) AppendMessage(*ctx_, "Download Fail\r\n", *paneSink_);
      });
}

void CZorvDlg::onDiagnosticTrigger() {
  if (tabs_) tabs_->setCurrentIndex(0);
  if (busy()) return;
  runner_->runHere([this] { TriggerDiagnostic(*ctx_); });
}

void CZorvDlg::onCleanSmart() {
  if (busy()) return;
  if (tabs_) tabs_->setCurrentIndex(0);
  runner_->runHere([this] { CleanSmart(*ctx_); });
}

void CZorvDlg::openEngineering() {
  setWindowTitle(kEngineeringTitle);
  startDeviceWatch();
  applyStartupDefaults(*ctx_);
  ProbeReport report;
  EnumerateDrives(*ctx_, *driveList_, &report);
  runner_->noteSelection();
}

void CZorvDlg::startDeviceWatch() {
  // A backend without notifications still gets a working window; only
  // arrival and removal then go unnoticed until the next rescan.
  events_ = port_.watchDevices();
  if (!events_) return;
  connect(&deviceTimer_, &QTimer::timeout, this, &CZorvDlg::pollDeviceEvents, Qt::UniqueConnection);
  if (options_.devicePollMs > 0) deviceTimer_.start(options_.devicePollMs);
}

void CZorvDlg::pollDeviceEvents() {
  if (!events_) return;
  std::vector<DeviceEvent> fresh;
  if (!events_->poll(fresh, 0)) {
    events_.reset();
    deviceTimer_.stop();
  }
  for (DeviceEvent& e : fresh) {
    if (pendingEvents_.size() >= kMaxPendingEvents) pendingEvents_.erase(pendingEvents_.begin());
    pendingEvents_.push_back(std::move(e));
  }
  applyPendingDeviceEvents();
}

void CZorvDlg::applyPendingDeviceEvents() {
  // The drive table must not change under a running operation; the events
  // wait until it has ended. (The runner is asked too: an enumeration inside
  // an operation clears fgBusy, as every enumeration does.)
  if (ctx_->fgBusy || runner_->running() || pendingEvents_.empty()) return;
  std::vector<DeviceEvent> events;
  events.swap(pendingEvents_);
  for (const DeviceEvent& e : events) OnDeviceChange(*ctx_, e, *driveList_);
  runner_->noteSelection();
}

void CZorvDlg::onFwUpdate() {
  runner_->runHere([this] {
    progress_->setValue(0);
    bool ok = runFirmwareUpdate(*ctx_, *progressSink_, *boxSink_);
    if (!ok) AppendMessage(*ctx_, "Download Fail\r\n", *boxSink_);
  });
}

void CZorvDlg::onDriveSelected(int) {
  // A running operation keeps the drive it started on: the line goes back.
  if (ctx_->fgBusy || runner_->running()) {
    if (ctx_->hasSelectedDrive()) driveList_->select(ctx_->ucSelDrive);
    return;
  }
  OnDriveSelected(*ctx_, *driveList_);
  runner_->noteSelection();
}

void CZorvDlg::onReflashDrive() {
  if (ctx_->fgBusy || runner_->running()) return;
  ctx_->fgSkipModelCheck = skipModelCheck_ && skipModelCheck_->isChecked() ? 1 : 0;
  EnumerateDrives(*ctx_, *driveList_);
  runner_->noteSelection();
}

void CZorvDlg::done(int result) {
  if (runner_ && runner_->running()) {
    if (!ui_.askYesNo(kStopAndExitQuestion, {}, BoxIcon::Question)) return;
    // Stopped between two commands, never in the middle of a transfer.
    runner_->requestStop();
    if (!runner_->wait()) return;
  }
  QDialog::done(result);
}

void CZorvDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      ctx_->fgStopRequest = 1;
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Never closes the window; in the engineering layout it repeats the
      // media test of the current history entry, unless a page took it.
      event->accept();
      if (options_.layout == WindowLayout::Engineering && services_ && !busy() && !enterTakenByPage()) {
        // As the matching menu command does, the repeat sets the operation code.
        if (repeatMediaTest(*services_)) {
          auto* page = tabs_->findChild<CMediaTestPage*>();
          if (page && page->history().current()) ctx_->usOpCode = page->history().current()->opCode;
        }
      }
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

bool CZorvDlg::enterTakenByPage() const {
  QWidget* focus = focusWidget();
  if (!focus || !tabs_ || !tabs_->isAncestorOf(focus)) return false;
  if (auto* text = qobject_cast<QPlainTextEdit*>(focus)) return !text->isReadOnly();
  if (auto* text = qobject_cast<QTextEdit*>(focus)) return !text->isReadOnly();
  return qobject_cast<QLineEdit*>(focus) || qobject_cast<QAbstractSpinBox*>(focus) ||
         qobject_cast<QAbstractItemView*>(focus);
}

bool CZorvDlg::acceptsDrop(const QMimeData* mime) const {
  if (ctx_->fgBusy || !mime || !mime->hasUrls()) return false;
  const QList<QUrl> urls = mime->urls();
  return urls.size() == 1 && urls.front().isLocalFile();
}

void CZorvDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (acceptsDrop(event->mimeData())) event->acceptProposedAction();
}

void CZorvDlg::dropEvent(QDropEvent* event) {
  if (!acceptsDrop(event->mimeData())) return;
  QString path = event->mimeData()->urls().front().toLocalFile();
  // Only the last path component can carry the extension.
  qsizetype slash = path.lastIndexOf('/');
  qsizetype dot = path.lastIndexOf('.');
  if (dot > slash + 1) path.truncate(dot);
  fileBaseName_ = path.toUpper();
  event->acceptProposedAction();
}

}  // namespace zorv::app
