#pragma once
// How the window runs an operation. One operation at a time owns the
// transport, CmdBlock and SectorBuffer; the runner is where that is decided:
// it claims the drive (ctx.fgBusy) or refuses, clears the stop flag, disables
// the drive list, runs the operation on its worker thread (or, for the short
// commands, right here on the GUI thread), and when the operation is over
// gives the drive back and reports the end on the GUI thread.
//
// An operation works on the drive that was selected when it started: while it
// runs the drive list is disabled, and the window refuses a selection change
// (and defers hot-plug rescans) until the runner reports the end.
//
// The main window owns one runner and hands it to every page (PageServices).

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "discovery/drive_list.h"
#include "transport/context.h"

namespace zorv::app {

class OperationRunner : public QObject {
  Q_OBJECT
 public:
  OperationRunner(Context& ctx, DriveListView& driveList, QObject* parent = nullptr);
  // Waits for a running operation.
  ~OperationRunner() override;
  OperationRunner(const OperationRunner&) = delete;
  OperationRunner& operator=(const OperationRunner&) = delete;

  // Claims the drive and runs body on the worker thread. When body has
  // returned, the drive is given back and onEnd runs on the GUI thread (not
  // when owner, the page that started it, is gone by then). False, with
  // nothing started, when another operation holds the drive.
  bool start(QObject* owner, std::function<void()> body, std::function<void()> onEnd = {});
  // Claims the drive for body and runs it now, on the GUI thread. False when
  // another operation holds the drive.
  bool runHere(const std::function<void()>& body);

  // True from the claim until the end has been reported.
  bool running() const { return running_; }
  // The selected drive (ucSelDrive) the running operation started on; kNoDrive when idle.
  uint8_t boundDrive() const { return boundDrive_; }
  // Asks the running operation to stop between commands (sets fgStopRequest).
  void requestStop();
  // Waits until the operation on the worker has ended, serving the GUI
  // thread's events meanwhile (the worker may be waiting for a message box);
  // user input waits until afterwards. False when the operation runs on the
  // GUI thread itself (it cannot end while its caller waits for it).
  bool wait();

  // Called after anything that may have changed the selected drive (a pick
  // in the list, a rescan): emits selectedDriveChanged when the drive now
  // selected is not the one selected before.
  void noteSelection();

 Q_SIGNALS:
  void operationStarted();
  void operationEnded();
  void selectedDriveChanged();

 private:
  bool claim();
  void release();
  void workerEnded();
  std::string selectionKey() const;

  Context& ctx_;
  DriveListView& driveList_;
  std::thread worker_;
  std::atomic<bool> running_{false};
  uint8_t boundDrive_ = kNoDrive;
  bool listWasEnabled_ = false;
  QPointer<QObject> owner_;
  bool hasOwner_ = false;
  std::function<void()> onEnd_;
  std::string selection_;
};

}  // namespace zorv::app
