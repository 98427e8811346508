#pragma once
// The media tests in the window: one button per test opens the test
// parameter dialog (CEditFuncDialog) for its test code; Send starts
// MediaTestWorker through the window's operation runner on the drive selected
// then; "Stop" raises the stop flag between two commands. The page keeps the
// window's parameter history.
//
// The engineering window's Func menu and Enter key reach the dialog through
// openMediaTestDialog / repeatMediaTest with the window's page services.

#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "app/edit_func_dialog.h"
#include "app/page_registry.h"
#include "app/qt_progress.h"
#include "mediatest/edit_func.h"
#include "mediatest/media_test_worker.h"
#include "mediatest/parameter_history.h"

namespace zorv::app {

class CMediaTestPage : public QWidget {
  Q_OBJECT
 public:
  CMediaTestPage(PageServices& services, QWidget* parent = nullptr);
  ~CMediaTestPage() override;

  // Opens the dialog for a test code (0x3310, 0x3321, 0x3640, 0x3650) on the
  // selected drive. False, and nothing opens, while an operation holds the
  // drive, without a selected drive ("No drive is selected" on the pane) or
  // for a code that is no media test.
  bool openDialog(uint16_t opCode);
  // Opens the dialog with the current history entry; false as openDialog,
  // and when there is no entry yet.
  bool repeatLast();

  CEditFuncDialog* dialog() const { return dialog_; }
  // The buttons of the tests, in code order: Seq Read, Rnd Access, Seq Write, Rnd Write.
  QPushButton* testButton(int index) const { return tests_[static_cast<size_t>(index)]; }
  QPushButton* stopButton() const { return stop_; }
  QProgressBar* progressBar() const { return progress_; }
  const ParameterHistory& history() const { return history_; }
  // What the last run that has ended returned.
  const std::optional<MediaTestResult>& lastResult() const { return lastResult_; }

 private:
  bool mayOpen();
  // Starts the run of accepted parameters; empty when it has started, otherwise why not.
  std::string start(const MediaTestParams& params);
  void runEnded();

  PageServices& services_;
  ParameterHistory history_;
  CEditFunc model_{history_};
  CEditFuncDialog* dialog_ = nullptr;
  std::array<QPushButton*, 4> tests_{};
  QPushButton* stop_ = nullptr;
  QProgressBar* progress_ = nullptr;
  std::unique_ptr<QtProgressSink> progressSink_;
  MediaTestResult running_;  // written by the worker, read after the runner reported its end
  std::optional<MediaTestResult> lastResult_;
};

// The media-test dialog of the window these services belong to, for its
// menu commands and its Enter key. False when the window has no media-test
// page or the page refuses (see openDialog / repeatLast).
bool openMediaTestDialog(PageServices& services, uint16_t opCode);
bool repeatMediaTest(PageServices& services);

}  // namespace zorv::app
