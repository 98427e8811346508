#pragma once
// CGenData in the window: the data pattern generator tab. A thin shell over
// the tab's model (pattern/gen_data.h): the widgets show the model's
// controls, Gen Data fills the upper box with the pattern, Write and Read
// start PatternWorker through the window's operation runner on the drive
// selected then, Break ends it after the current command, and a 1-second
// timer shows the counters while it runs. The tab initialises itself 2
// seconds after it opens.

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

#include "app/page_registry.h"
#include "pattern/gen_data.h"
#include "pattern/pattern_worker.h"

namespace zorv::app {

class CGenDataPage : public QWidget {
  Q_OBJECT
 public:
  CGenDataPage(PageServices& services, QWidget* parent = nullptr);
  ~CGenDataPage() override;

  // The initialisation the 2-second timer runs (tests call it at once).
  void initialise();
  bool initialised() const { return initialised_; }
  CGenData& model() { return model_; }
  // What the last run that has ended returned.
  const std::optional<PatternResult>& lastResult() const { return lastResult_; }
  bool running() const { return running_; }
  // Where "CompErrLog.txt" goes (the current directory unless set).
  void setLogDirectory(std::string directory) { logDirectory_ = std::move(directory); }

  QPushButton* genDataButton() const { return genData_; }
  QPushButton* writeButton() const { return write_; }
  QPushButton* readButton() const { return read_; }
  QPushButton* breakButton() const { return break_; }
  QPushButton* cleanButton() const { return clean_; }
  QPlainTextEdit* patternBox() const { return patternBox_; }
  QPlainTextEdit* messageBox() const { return messageBox_; }
  QtMessageSink& messages() { return *messageSink_; }
  QLineEdit* edit(const char* objectName) const { return findChild<QLineEdit*>(objectName); }
  QCheckBox* checkBox(const char* objectName) const { return findChild<QCheckBox*>(objectName); }
  QRadioButton* radio(const char* objectName) const { return findChild<QRadioButton*>(objectName); }
  QSlider* startSlider() const { return startSlider_; }
  QSlider* endSlider() const { return endSlider_; }
  QComboBox* errLimit() const { return errLimit_; }
  QTimer* secondTimer() const { return secondTimer_; }

 private:
  QLineEdit* addEdit(const char* name, int maxLength);
  QCheckBox* addCheck(const char* text, const char* name);
  QRadioButton* addRadio(QButtonGroup* group, const char* text, const char* name, int id);
  // Widgets -> model, model -> widgets.
  void readControls();
  void showControls();
  void updateButtons();
  void onGenData();
  void startRun(bool onlyRead);
  void onSecond();
  void runEnded();

  PageServices& services_;
  CGenData model_;
  PatternCounters counters_;
  PatternResult runResult_;
  std::optional<PatternResult> lastResult_;
  bool running_ = false;
  bool initialised_ = false;
  bool showing_ = false;
  std::string logDirectory_;

  QPlainTextEdit* patternBox_ = nullptr;
  QPlainTextEdit* messageBox_ = nullptr;
  std::unique_ptr<QtMessageSink> messageSink_;
  QWidget* settings_ = nullptr;
  QButtonGroup* kind_ = nullptr;
  QButtonGroup* width_ = nullptr;
  QButtonGroup* step_ = nullptr;
  QButtonGroup* loopKind_ = nullptr;
  QButtonGroup* compare_ = nullptr;
  QButtonGroup* command_ = nullptr;
  QButtonGroup* view_ = nullptr;
  QSlider* startSlider_ = nullptr;
  QSlider* endSlider_ = nullptr;
  QLabel* startPercent_ = nullptr;
  QLabel* endPercent_ = nullptr;
  QComboBox* errLimit_ = nullptr;
  QLineEdit* totalRd_ = nullptr;
  QLineEdit* totalWr_ = nullptr;
  QLineEdit* byteRdSec_ = nullptr;
  QLineEdit* byteWrSec_ = nullptr;
  QPushButton* genData_ = nullptr;
  QPushButton* write_ = nullptr;
  QPushButton* read_ = nullptr;
  QPushButton* break_ = nullptr;
  QPushButton* clean_ = nullptr;
  QTimer* secondTimer_ = nullptr;
};

}  // namespace zorv::app
