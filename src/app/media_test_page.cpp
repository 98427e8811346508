#include "app/media_test_page.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <map>

#include "discovery/drive_selected.h"
#include "discovery/enumerate.h"
#include "discovery/volumes.h"
#include "mediatest/raw_write_guard.h"
#include "transport/message.h"

namespace zorv::app {

namespace {

struct TestButton {
  uint16_t opCode;
  const char* text;
  const char* name;
};
constexpr std::array<TestButton, 4> kTestButtons = {{
    {kOpSeqRead, "Seq Read", "seqRead"},
    {kOpRandomAccess, "Rnd Access", "rndAccess"},
    {kOpSeqWrite, "Seq Write", "seqWrite"},
    {kOpRandomWrite, "Rnd Write", "rndWrite"},
}};

// The media-test page of each window, found by the window's services (GUI thread only).
std::map<const PageServices*, CMediaTestPage*>& pagesByWindow() {
  static std::map<const PageServices*, CMediaTestPage*> pages;
  return pages;
}

}  // namespace

CMediaTestPage::CMediaTestPage(PageServices& services, QWidget* parent)
    : QWidget(parent), services_(services) {
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  for (size_t i = 0; i < kTestButtons.size(); ++i) {
    const TestButton& t = kTestButtons[i];
    auto* button = new QPushButton(t.text, this);
    button->setObjectName(t.name);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, code = t.opCode] { openDialog(code); });
    tests_[i] = button;
    row->addWidget(button);
  }
  stop_ = new QPushButton("Stop", this);
  stop_->setObjectName("stopTest");
  stop_->setAutoDefault(false);
  stop_->setEnabled(false);
  connect(stop_, &QPushButton::clicked, this, [this] { services_.runner.requestStop(); });
  row->addWidget(stop_);
  row->addStretch();
  layout->addLayout(row);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("testProgress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progressSink_ = std::make_unique<QtProgressSink>(progress_);
  layout->addWidget(progress_);
  layout->addStretch();

  dialog_ = new CEditFuncDialog(
      services_.ctx, model_, [this](const MediaTestParams& params) { return start(params); }, this);
  pagesByWindow()[&services_] = this;
}

CMediaTestPage::~CMediaTestPage() {
  // A run still going reports its end to a page that is gone: the runner
  // drops that report, and the run itself needs nothing of the page but the
  // progress sink, which it must not outlive.
  services_.runner.wait();
  auto& pages = pagesByWindow();
  auto it = pages.find(&services_);
  if (it != pages.end() && it->second == this) pages.erase(it);
}

bool CMediaTestPage::mayOpen() {
  // While a test (or any operation) holds the drive the dialog does not open.
  if (services_.ctx.fgBusy || services_.runner.running()) return false;
  return checkDriveSelected(services_.ctx);
}

bool CMediaTestPage::openDialog(uint16_t opCode) {
  if (!isMediaTestCode(opCode) || !mayOpen()) return false;
  return dialog_->openFor(opCode, services_.ctx.selectedDrive().sectorCount());
}

bool CMediaTestPage::repeatLast() {
  if (!mayOpen()) return false;
  return dialog_->openRepeat(services_.ctx.selectedDrive().sectorCount());
}

std::string CMediaTestPage::start(const MediaTestParams& params) {
  Context& ctx = services_.ctx;
  if (ctx.fgBusy || services_.runner.running() || !ctx.hasSelectedDrive())
    return "Another operation is using the drive";
  MediaTestJob job;
  job.params = params;
  job.drive = ctx.selectedDrive();
  job.messages = &services_.pane;
  job.progress = progressSink_.get();
  // The runner holds fgBusy from the claim until it has put the drive list
  // back; the worker leaves it alone.
  job.releasesBusy = false;

  if (isWriteTestCode(params.usOpCode)) {
    job.permission.volumes = readVolumeMap(services_.mountInfoPath);
    // Everything but the consent first: a drive that may not be written is
    // refused without asking the question.
    RawWritePermission withConsent = job.permission;
    withConsent.userConsent = true;
    std::string refusal;
    if (!services_.runner.runHere([&] {
          refusal = rawWriteRefusal(ctx, job.drive, params.ulStartLba, params.ulEndLba, withConsent);
        }))
      return "Another operation is using the drive";
    if (!refusal.empty()) return refusal;
    if (ctx.port->name() != "sim") {
      int n = physicalDriveNumber(ctx, job.drive.strDevicePath);
      std::string question =
          formatText("%s destroys the data of Physical Drive %d from LBA 0x%X to 0x%X.\nGo on?",
                     model_.entry().status.c_str(), n, params.ulStartLba, params.ulEndLba);
      if (!services_.ui.askYesNo(question, {}, BoxIcon::Exclamation))
        return "Not started: raw writes need your consent";
      job.permission.userConsent = true;
    }
  }

  progress_->setValue(0);
  bool started = services_.runner.start(
      this, [this, job] { running_ = MediaTestWorker(services_.ctx, job); }, [this] { runEnded(); });
  if (!started) return "Another operation is using the drive";
  for (QPushButton* b : tests_) b->setEnabled(false);
  stop_->setEnabled(true);
  return {};
}

void CMediaTestPage::runEnded() {
  lastResult_ = running_;
  for (QPushButton* b : tests_) b->setEnabled(true);
  stop_->setEnabled(false);
  if (QPlainTextEdit* box = services_.pane.widget()) box->setFocus();
}

bool openMediaTestDialog(PageServices& services, uint16_t opCode) {
  auto& pages = pagesByWindow();
  auto it = pages.find(&services);
  return it != pages.end() && it->second->openDialog(opCode);
}

bool repeatMediaTest(PageServices& services) {
  auto& pages = pagesByWindow();
  auto it = pages.find(&services);
  return it != pages.end() && it->second->repeatLast();
}

namespace {

QWidget* makeMediaTestPage(PageServices& services, QWidget* parent) {
  return new CMediaTestPage(services, parent);
}

PageRegistrar reg{40, "Media Test", &makeMediaTestPage};

}  // namespace

}  // namespace zorv::app
