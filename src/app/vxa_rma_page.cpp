#include "app/vxa_rma_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt_message_sink.h"
#include "discovery/config_block.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"
#include "firmware/updater.h"

namespace zorv::app {

namespace {

QString boxText(std::string_view text) {
  QString q = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  q.remove(QStringLiteral("\r\n"));
  return q;
}

}  // namespace

CVxaRma::CVxaRma(PageServices& services, QWidget* parent) : QWidget(parent), services_(services) {
  label_ = new QLabel("Input Serial Number", this);
  serial_ = new QLineEdit(this);
  serial_->setObjectName("serialNumber");
  run_ = new QPushButton("F2 = RUN", this);
  run_->setObjectName("runRma");
  reflash_ = new QPushButton("Reflash Drive (IRST)", this);
  reflash_->setObjectName("reflashDrive");
  timeLeft_ = new QLineEdit(this);
  timeLeft_->setObjectName("timeLeft");
  timeLeft_->setReadOnly(true);
  timeLeft_->setPlaceholderText("Time Left");
  box_ = QtMessageSink::makeTextBox(this, 12);
  box_->setObjectName("rmaMessages");
  boxSink_ = std::make_unique<QtMessageSink>(box_, this);
  variant_ = new QComboBox(this);
  variant_->setObjectName("rmaVariant");
  for (char c = 'A'; c <= 'Z'; ++c) variant_->addItem(QString(QChar(c)));
  variant_->setCurrentIndex(configRmaVariant() >= 'A' && configRmaVariant() <= 'Z' ? configRmaVariant() - 'A'
                                                                                   : 0);
  makeVariant_ = new QPushButton("Make RMA Variant", this);
  makeVariant_->setObjectName("makeRmaVariant");
  timer_ = new QTimer(this);
  timer_->setObjectName("timer112");
  timer_->setInterval(kPowerCycleTimerMs);

  auto* top = new QHBoxLayout;
  top->addWidget(label_);
  top->addWidget(serial_, 1);
  top->addWidget(run_);
  top->addWidget(reflash_);
  top->addWidget(variant_);
  top->addWidget(makeVariant_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(timeLeft_);
  layout->addWidget(box_, 1);

  rma::RmaStationOptions options;
  options.variant = configRmaVariant();
  options.permission.volumes = readVolumeMap(services_.mountInfoPath);
  rma::RmaStationHooks hooks;
  hooks.timer = [this](bool on) {
    if (on) {
      timer_->start();
    } else {
      timer_->stop();
    }
  };
  hooks.timeLeft = [this](std::string_view text) { timeLeft_->setText(boxText(text)); };
  hooks.startWorker = [this](std::function<void()> body) { startWriteRead(std::move(body)); };
  station_ =
      std::make_unique<rma::RmaStation>(services_.ctx, *boxSink_, std::move(options), std::move(hooks));

  connect(run_, &QPushButton::clicked, this, &CVxaRma::runRma);
  connect(serial_, &QLineEdit::textChanged, this, &CVxaRma::onSerialChanged);
  connect(timer_, &QTimer::timeout, this, &CVxaRma::onPowerCycleTick);
  connect(makeVariant_, &QPushButton::clicked, this, &CVxaRma::onMakeVariant);
  // F1 puts the cursor into the serial-number box, F2 runs.
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this, [this] { serial_->setFocus(); });
  f1->setContext(Qt::WidgetWithChildrenShortcut);
  auto* f2 = new QShortcut(QKeySequence(Qt::Key_F2), this, [this] { runRma(); });
  f2->setContext(Qt::WidgetWithChildrenShortcut);

  serial_->clear();
  station_->open();
}

CVxaRma::~CVxaRma() {
  timer_->stop();
  // The write/read worker works with the station: it has to end first.
  if (station_->phase() == rma::RmaPhase::WriteReadTest) services_.runner.wait();
}

void CVxaRma::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape: event->accept(); return;
    default: QWidget::keyPressEvent(event);
  }
}

bool CVxaRma::consentToWrite(bool ask) {
  if (consent_ || services_.ctx.port->name() == "sim") return true;
  if (!ask) return false;
  asked_ = true;
  consent_ = services_.ui.askYesNo(
      "The RMA test writes every drive it checks from LBA 0x1000 to 0x201000: the data there is lost.\nGo "
      "on?",
      {}, BoxIcon::Exclamation);
  station_->options().permission.userConsent = consent_;
  if (!consent_) boxSink_->append("Not started: the RMA test writes the drive only with your consent\r\n");
  return consent_;
}

void CVxaRma::runRma() {
  if (station_->active() || !consentToWrite(true)) return;
  start();
}

void CVxaRma::onSerialChanged() {
  if (station_->active() || serial_->text().isEmpty() || !consentToWrite(!asked_)) return;
  start();
}

void CVxaRma::start() {
  const std::string text = serial_->text().toLatin1().toStdString();
  // The first phase, the firmware download among it, runs here with the drive
  // claimed; another operation holding it keeps the station from starting.
  if (!services_.runner.runHere([&] { station_->runRma(text); }))
    boxSink_->append("Another operation is using the drive\r\n");
}

void CVxaRma::onMakeVariant() {
  const char letter = static_cast<char>('A' + std::max(0, variant_->currentIndex()));
  firmware::makeRmaVariant(services_.ctx, letter, *boxSink_);
}

void CVxaRma::onPowerCycleTick() {
  // A tick that finds the drive claimed by another operation is skipped.
  services_.runner.runHere([this] { station_->tick(); });
}

void CVxaRma::startWriteRead(std::function<void()> body) {
  // Called from a tick, while that tick holds the drive: the worker starts
  // once the tick has given it back.
  QTimer::singleShot(0, this, [this, body = std::move(body)] {
    if (!services_.runner.start(this, body))
      station_->writeReadNotStarted("Another operation is using the drive");
  });
}

namespace {

QWidget* makeRmaPage(PageServices& services, QWidget* parent) { return new CVxaRma(services, parent); }

PageRegistrar reg{65, "RMA", &makeRmaPage};

}  // namespace

}  // namespace zorv::app
