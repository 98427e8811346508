#pragma once
// CDevInfo: the vendor diagnostics page. A thin shell over
// vendor::DiagnosticsConsole: the widgets show the console's state, their
// events go to the console, a run goes to the window's operation runner, the
// timer ticks once a second.
//
// "Lock Model" opens the model-lock dialog, which the firmware code provides
// by registering, in a file of src/app:
//   static zorv::app::ModelLockRegistrar reg{&openModelLockDialog};
// Without one the button does nothing.

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

#include "app/page_registry.h"
#include "app/qt_progress.h"
#include "app/radix_field.h"
#include "diagnostics/diagnostics_console.h"

namespace zorv::app {

// Opens the model-lock dialog as a modeless window owned by `owner`.
using ModelLockOpener = void (*)(PageServices& services, QWidget* owner);

struct ModelLockRegistrar {
  explicit ModelLockRegistrar(ModelLockOpener opener);
};
ModelLockOpener modelLockOpener();

class CDevInfo : public QWidget {
  Q_OBJECT
 public:
  CDevInfo(PageServices& services, QWidget* parent = nullptr);
  ~CDevInfo() override;

  DiagnosticsConsole& console() { return *console_; }
  // Waits for a run in progress to end.
  void waitForRun();

  // The widget of a console control (for tests and the layout).
  QWidget* control(DevInfoControl c) const { return controls_[static_cast<size_t>(c)]; }
  QPlainTextEdit* rawData() const { return rawData_; }
  QLineEdit* timeLeft() const { return timeLeft_; }
  QLineEdit* percent() const { return percent_; }
  QPushButton* clearMessage() const { return clear_; }
  QPushButton* lockModel() const { return lockModel_; }
  // How far a run's dump is, and the Stop that ends it between two commands.
  QProgressBar* progressBar() const { return progress_; }
  QPushButton* stopButton() const { return stop_; }
  QTimer* timer() const { return timer_; }

 public Q_SLOTS:
  // Shows the console's state in the widgets.
  void refresh();

 private:
  // A box of the console's inputs; it takes only digits of radix.
  QLineEdit* addEdit(DevInfoControl c, const char* name, std::string DiagInputs::*box, const char* label, Radix radix,
                     int digits);

  PageServices& services_;
  std::unique_ptr<QtMessageSink> rawSink_;
  std::unique_ptr<DiagnosticsConsole> console_;
  QProgressBar* progress_ = nullptr;
  std::unique_ptr<QtProgressSink> progressSink_;
  QPushButton* stop_ = nullptr;
  std::array<QWidget*, kDevInfoControlCount> controls_{};
  std::vector<std::pair<QLineEdit*, std::string DiagInputs::*>> edits_;
  QPlainTextEdit* rawData_ = nullptr;
  QComboBox* command_ = nullptr;
  QComboBox* second_ = nullptr;
  QCheckBox* secondDump_ = nullptr;
  QCheckBox* makeReport_ = nullptr;
  QComboBox* map_ = nullptr;
  QComboBox* hours_ = nullptr;
  QComboBox* minutes_ = nullptr;
  QDateTimeEdit* currentTime_ = nullptr;
  QLineEdit* timeLeft_ = nullptr;
  QSlider* slider_ = nullptr;
  QLineEdit* percent_ = nullptr;
  QCheckBox* indirect_ = nullptr;
  QPushButton* getDevInfo_ = nullptr;
  QPushButton* timeTrigger_ = nullptr;
  QPushButton* clear_ = nullptr;
  QPushButton* lockModel_ = nullptr;
  QTimer* timer_ = nullptr;
  bool refreshing_ = false;
};

}  // namespace zorv::app
