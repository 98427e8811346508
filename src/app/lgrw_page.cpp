#include "app/lgrw_page.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <filesystem>

#include "app/fixed_pitch_font.h"
#include "discovery/volumes.h"

namespace zorv::app {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

CLGRWSUB::CLGRWSUB(PageServices& services, const VolumeRecord& volume, const Sc3Script& script,
                   std::shared_ptr<VolumeRunBoard> board, QWidget* parent)
    : QDialog(parent), board_(std::move(board)) {
  setObjectName("CLGRWSUB");
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  auto* text = QtMessageSink::makeTextBox(this, 10);
  text->setObjectName("volumeMessages");
  box_ = new QtMessageSink(text, this);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("volumeProgress");
  progress_->setRange(0, 100);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text, 1);
  layout->addWidget(progress_);
  resize(560, 420);
  run_ = std::make_unique<VolumeTestWindow>(services.ctx, volume, script, *board_, *box_, services.ui);
  setWindowTitle(qs(run_->title()));
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &CLGRWSUB::onTimer);
}

CLGRWSUB::~CLGRWSUB() { finish(); }

bool CLGRWSUB::start() {
  if (!run_->start()) return false;
  timer_.start();
  return true;
}

void CLGRWSUB::onTimer() {
  run_->tick();
  progress_->setValue(run_->progressPercent());
  if (run_->finished()) timer_.stop();
}

void CLGRWSUB::finish() {
  timer_.stop();
  if (run_) run_->close();  // waits for the transfers in flight, then closes the file
}

void CLGRWSUB::closeEvent(QCloseEvent* event) {
  finish();
  event->accept();
}

void CLGRWSUB::reject() {
  finish();
  QDialog::reject();
}

CLgrw::CLgrw(PageServices& services, QWidget* parent) : QWidget(parent), services_(services) {
  setObjectName("CLgrw");
  list_ = new QTreeWidget(this);
  list_->setObjectName("volumeList");
  list_->setRootIsDecorated(false);
  list_->setFont(fixedPitchFont(10));
  auto* text = QtMessageSink::makeTextBox(this, 10);
  text->setObjectName("lgrwMessages");
  box_ = new QtMessageSink(text, this);
  scriptName_ = new QLineEdit(this);
  scriptName_->setObjectName("scrpFileName");
  scriptName_->setReadOnly(true);
  parsingDrive_ = new QPushButton(QStringLiteral("Parsing Drive"), this);
  parsingDrive_->setObjectName("parsingDrive");
  run_ = new QPushButton(QStringLiteral("Run"), this);
  run_->setObjectName("run");
  test_ = new QPushButton(QStringLiteral("Test"), this);
  test_->setObjectName("test");
  test_->hide();

  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel(QStringLiteral("Scrp File Name"), this));
  controls->addWidget(scriptName_, 1);
  controls->addWidget(parsingDrive_);
  controls->addWidget(run_);
  controls->addWidget(test_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(controls);
  layout->addWidget(list_, 2);
  layout->addWidget(text, 1);

  connect(parsingDrive_, &QPushButton::clicked, this, &CLgrw::onParsingDrive);
  connect(run_, &QPushButton::clicked, this, &CLgrw::onRun);
  fillList(0);
  updateButtons();
}

std::vector<CLGRWSUB*> CLgrw::openWindows() const {
  std::vector<CLGRWSUB*> out;
  for (const QPointer<CLGRWSUB>& w : windows_)
    if (w) out.push_back(w.data());
  return out;
}

void CLgrw::updateButtons() {
  const bool idle = openWindows().empty();
  parsingDrive_->setEnabled(idle);
  run_->setEnabled(idle && script_.type != 0 && !volumes_.empty());
}

void CLgrw::fillList(int type) {
  list_->clear();
  QStringList headers;
  for (const std::string& c : volumeListColumns(type)) headers << qs(c);
  list_->setHeaderLabels(headers);
  for (const VolumeRecord& v : volumes_) {
    QStringList cells;
    for (const std::string& c : volumeListRow(v, type)) cells << qs(c);
    list_->addTopLevelItem(new QTreeWidgetItem(cells));
  }
}

void CLgrw::parseVolumes() {
  box_->clear();
  volumes_ = ParseVolumes(services_.ctx, readVolumes(*services_.ctx.port, services_.mountInfoPath), *box_);
  script_ = Sc3Script{};
  scriptName_->clear();
  fillList(0);
  updateButtons();
}

void CLgrw::onParsingDrive() {
  parseVolumes();
  std::optional<std::string> path = services_.ui.chooseOpenFile("Open SC3 File", " Files(*.sc3)|*.*||");
  if (path) loadScript(*path);
}

bool CLgrw::loadScript(const std::string& path) {
  Sc3Script script;
  std::string error;
  if (!readSc3File(path, script, error)) {
    services_.ui.messageBox(error, BoxIcon::Stop);
    return false;
  }
  script_ = script;
  scriptName_->setText(qs(std::filesystem::path(path).filename().string()));
  LoadVolumePlan(volumes_, script_, *box_);
  fillList(script_.type);
  updateButtons();
  return true;
}

void CLgrw::onRun() {
  if (script_.type == 0 || volumes_.empty() || !openWindows().empty()) return;
  std::string refusals;
  for (const VolumeRecord& v : volumes_) {
    const std::string r = volumeRefusal(v, script_);
    if (!r.empty()) refusals += (refusals.empty() ? "" : "\n") + r;
  }
  if (!refusals.empty()) {
    services_.ui.messageBox(refusals, BoxIcon::Stop);
    return;
  }
  windows_.clear();
  auto board = std::make_shared<VolumeRunBoard>();
  for (const VolumeRecord& v : volumes_) {
    auto* w = new CLGRWSUB(services_, v, script_, board, this);
    w->setWindowFlag(Qt::Window);
    connect(w, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, [this] { updateButtons(); }); });
    windows_.push_back(w);
    w->show();
    w->start();
  }
  updateButtons();
}

namespace {

QWidget* makeLgrwPage(PageServices& services, QWidget* parent) { return new CLgrw(services, parent); }

PageRegistrar reg{55, "Volume Test", &makeLgrwPage};

}  // namespace

}  // namespace zorv::app
