#pragma once
// CLgrw: the volume test tab, and CLGRWSUB: one window per volume while a
// script runs on it. Thin shells over volume/volume_list.h and
// volume/volume_test.h.
//
// "Parsing Drive" lists the mounted volumes on the family's drives (deleting
// the test files earlier runs left) and asks for the ".sc3" script, whose
// plan fills the list and whose summary per volume goes to the message box.
// "Run" opens a CLGRWSUB window per volume; while any is open the tab's
// buttons wait, so that no parse deletes the file of a running test.
//
// CLGRWSUB shows its own message box and progress bar and, once a second,
// what VolumeTestWindow::tick() says; closing it waits for its transfers.

#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "app/page_registry.h"
#include "app/qt_message_sink.h"
#include "volume/volume_list.h"
#include "volume/volume_test.h"

namespace zorv::app {

class CLGRWSUB : public QDialog {
  Q_OBJECT
 public:
  CLGRWSUB(PageServices& services, const VolumeRecord& volume, const Sc3Script& script,
           std::shared_ptr<VolumeRunBoard> board, QWidget* parent = nullptr);
  ~CLGRWSUB() override;

  // Starts the worker and the timer; false (with "CreateDirError") when it did not start.
  bool start();
  VolumeTestWindow& run() { return *run_; }
  QtMessageSink& box() { return *box_; }
  QProgressBar* progressBar() const { return progress_; }

 public Q_SLOTS:
  void onTimer();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void finish();

  std::shared_ptr<VolumeRunBoard> board_;
  QtMessageSink* box_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QTimer timer_;
  std::unique_ptr<VolumeTestWindow> run_;
};

class CLgrw : public QWidget {
  Q_OBJECT
 public:
  CLgrw(PageServices& services, QWidget* parent = nullptr);

  QTreeWidget* list() const { return list_; }
  QtMessageSink& box() { return *box_; }
  QLineEdit* scriptName() const { return scriptName_; }
  QPushButton* parsingDriveButton() const { return parsingDrive_; }
  QPushButton* runButton() const { return run_; }
  const std::vector<VolumeRecord>& volumes() const { return volumes_; }
  // The windows of the last Run that are still open.
  std::vector<CLGRWSUB*> openWindows() const;

 public Q_SLOTS:
  // "Parsing Drive": parseVolumes(), then the script the person chooses.
  void onParsingDrive();
  void parseVolumes();
  // False (with a box saying why; the list and plans unchanged) for a
  // script that cannot be read or used.
  bool loadScript(const std::string& path);
  // "Run": a window per volume; nothing starts when one volume refuses the script.
  void onRun();

 private:
  void fillList(int type);
  void updateButtons();

  PageServices& services_;
  QTreeWidget* list_ = nullptr;
  QtMessageSink* box_ = nullptr;
  QLineEdit* scriptName_ = nullptr;
  QPushButton* parsingDrive_ = nullptr;
  QPushButton* run_ = nullptr;
  QPushButton* test_ = nullptr;
  std::vector<VolumeRecord> volumes_;
  Sc3Script script_;
  std::vector<QPointer<CLGRWSUB>> windows_;
};

}  // namespace zorv::app
