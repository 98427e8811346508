#include "app/operation_runner.h"

#include <QEventLoop>
#include <QMetaObject>

namespace zorv::app {

OperationRunner::OperationRunner(Context& ctx, DriveListView& driveList, QObject* parent)
    : QObject(parent), ctx_(ctx), driveList_(driveList), selection_(selectionKey()) {}

OperationRunner::~OperationRunner() {
  wait();
  if (worker_.joinable()) worker_.join();
}

bool OperationRunner::claim() {
  if (running_) return false;
  uint8_t idle = 0;
  if (!ctx_.fgBusy.compare_exchange_strong(idle, 1)) return false;
  running_ = true;
  ctx_.fgStopRequest = 0;
  boundDrive_ = ctx_.ucSelDrive;
  listWasEnabled_ = driveList_.isEnabled();
  driveList_.setEnabled(false);
  Q_EMIT operationStarted();
  return true;
}

void OperationRunner::release() {
  // The list comes back as the operation found it: a list that a failed
  // selection left disabled stays so.
  if (listWasEnabled_) driveList_.setEnabled(true);
  boundDrive_ = kNoDrive;
  ctx_.fgBusy = 0;
  running_ = false;
  Q_EMIT operationEnded();
}

bool OperationRunner::start(QObject* owner, std::function<void()> body, std::function<void()> onEnd) {
  if (!claim()) return false;
  // The previous worker has reported its end, so its thread is done.
  if (worker_.joinable()) worker_.join();
  owner_ = owner;
  hasOwner_ = owner != nullptr;
  onEnd_ = std::move(onEnd);
  worker_ = std::thread([this, body = std::move(body)] {
    body();
    QMetaObject::invokeMethod(this, &OperationRunner::workerEnded, Qt::QueuedConnection);
  });
  return true;
}

bool OperationRunner::runHere(const std::function<void()>& body) {
  if (!claim()) return false;
  body();
  release();
  return true;
}

void OperationRunner::workerEnded() {
  if (worker_.joinable()) worker_.join();
  std::function<void()> onEnd = std::move(onEnd_);
  onEnd_ = nullptr;
  bool ownerAlive = !hasOwner_ || owner_;
  release();
  if (onEnd && ownerAlive) onEnd();
}

void OperationRunner::requestStop() { ctx_.fgStopRequest = 1; }

bool OperationRunner::wait() {
  if (!running_) return true;
  if (!worker_.joinable()) return false;
  QEventLoop loop;
  connect(this, &OperationRunner::operationEnded, &loop, &QEventLoop::quit);
  // The end is reported on this thread, so it cannot slip in between.
  if (running_) loop.exec(QEventLoop::ExcludeUserInputEvents);
  return !running_;
}

std::string OperationRunner::selectionKey() const {
  if (!ctx_.hasSelectedDrive()) return {};
  const DriveEntry& d = ctx_.DriveTable[ctx_.ucSelDrive];
  return d.strDevicePath + '\n' + d.strModel + '\n' + d.strSerial;
}

void OperationRunner::noteSelection() {
  std::string now = selectionKey();
  if (now == selection_) return;
  selection_ = std::move(now);
  Q_EMIT selectedDriveChanged();
}

}  // namespace zorv::app
