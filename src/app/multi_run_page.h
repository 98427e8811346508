#pragma once
// CMultiRun: the multi-drive workload tab, a thin shell over
// workload/multi_run.h. "Get Drive" lists the family's drives (each with a
// check box), the percentage combos choose the mixed workload, the three
// script buttons the scripted ones; "Run" builds a workload block for every
// checked drive and opens one CMutiRunSub window per block, each running its
// drive on its own device handle and queue. One window's failure never stops
// another.
//
// CMutiRunSub ("Multi-Run SubWindow"): its worker thread runs the block's
// WorkloadRun; a 1-second timer shows the state; error reports go to its
// message box; at the end a message box says " Done" or " Error". Closing
// the window stops its run and waits for the worker.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/page_registry.h"
#include "app/qt_message_sink.h"
#include "workload/multi_run.h"
#include "workload/workload_run.h"

namespace zorv::app {

class CMutiRunSub : public QDialog {
  Q_OBJECT
 public:
  // Starts the run of job at once.
  CMutiRunSub(Context& ctx, WorkloadJob job, QWidget* parent = nullptr);
  ~CMutiRunSub() override;

  QPlainTextEdit* stateBox() const { return state_; }
  QtMessageSink& messages() { return *messages_; }
  const WorkloadRun& run() const { return *run_; }
  bool finished() const { return joined_; }
  // The " Done" / " Error" box, once shown.
  QMessageBox* verdictBox() const { return verdict_; }
  // Raises this window's stop flag.
  void stop() { stop_ = 1; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void tick();

  std::atomic<uint8_t> stop_{0};
  QPlainTextEdit* state_ = nullptr;
  std::unique_ptr<QtMessageSink> messages_;
  std::unique_ptr<WorkloadRun> run_;
  std::thread worker_;
  QTimer timer_;
  bool joined_ = false;
  QPointer<QMessageBox> verdict_;
};

class CMultiRun : public QWidget {
  Q_OBJECT
 public:
  CMultiRun(PageServices& services, QWidget* parent = nullptr);
  ~CMultiRun() override;

  MultiRunTab& model() { return model_; }
  QTreeWidget* list() const { return list_; }
  QComboBox* sequentialCombo() const { return seq_; }
  QComboBox* randomCombo() const { return rnd_; }
  QLineEdit* reserveText() const { return rsvText_; }
  QLineEdit* loopEdit() const { return loop_; }
  QPlainTextEdit* messageBox() const { return box_; }
  const std::vector<QPointer<CMutiRunSub>>& windows() const { return windows_; }

 public Q_SLOTS:
  void onGetDrive();
  // The script buttons ask for a file; these take it chosen. False (with the
  // reason in the message box, nothing changed) when it is refused.
  bool openDefineScript(const std::string& path);
  bool openCapacityScript(const std::string& path);
  bool openJesdScript(const std::string& path);
  // "Run": false, no window opened, when any checked drive is refused.
  bool onRun();

 private:
  void fillList();
  void onSequentialChosen(int index);
  void onRandomChosen(int index);
  void onLoopEdited(const QString& text);
  void showReserve();
  bool openScript(const std::string& path, bool (MultiRunTab::*open)(const std::string&, std::string&));
  WorkloadPortOpener portOpener() const;

  PageServices& services_;
  MultiRunTab model_;
  QTreeWidget* list_ = nullptr;
  QCheckBox* rsvFill_ = nullptr;
  QLineEdit* rsvText_ = nullptr;
  QComboBox* seq_ = nullptr;
  QComboBox* rnd_ = nullptr;
  QRadioButton* byLoop_ = nullptr;
  QRadioButton* byTime_ = nullptr;
  QLineEdit* loop_ = nullptr;
  QComboBox* hours_ = nullptr;
  QComboBox* minutes_ = nullptr;
  QPlainTextEdit* box_ = nullptr;
  std::unique_ptr<QtMessageSink> sink_;
  std::vector<QPointer<CMutiRunSub>> windows_;
};

}  // namespace zorv::app
