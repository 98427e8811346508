#pragma once
// CVxaRma: the RMA station page. A thin shell over rma::RmaStation: the
// serial-number box (every change runs the station, so that a scanned serial
// number starts the run by itself), "F2 = RUN", the message box, the "Time
// Left" box and timer 112 for the power-cycle wait; and "Make RMA Variant",
// which writes a copy of a program with another variant letter. The first phase runs on
// the GUI thread with the drive claimed; the write/read test runs on the
// window's operation runner. Enter and Esc typed in the page are swallowed.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/page_registry.h"
#include "rma/rma_station.h"

namespace zorv::app {

class CVxaRma : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kPowerCycleTimerId = 112;
  static constexpr int kPowerCycleTimerMs = 1000;

  CVxaRma(PageServices& services, QWidget* parent = nullptr);
  ~CVxaRma() override;

  rma::RmaStation& station() { return *station_; }
  QLineEdit* serialBox() const { return serial_; }
  QPlainTextEdit* messageBox() const { return box_; }
  QtMessageSink& boxSink() { return *boxSink_; }
  QLineEdit* timeLeftBox() const { return timeLeft_; }
  QPushButton* runButton() const { return run_; }
  QPushButton* reflashButton() const { return reflash_; }
  QTimer* powerCycleTimer() const { return timer_; }
  QComboBox* variantBox() const { return variant_; }
  QPushButton* makeVariantButton() const { return makeVariant_; }

 public Q_SLOTS:
  // runRma: "F2 = RUN" (and F2), and each change of the serial-number box.
  void runRma();
  void onSerialChanged();
  // "Make RMA Variant": a copy of a program with the chosen variant letter.
  void onMakeVariant();
  // Timer 112.
  void onPowerCycleTick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void startWriteRead(std::function<void()> body);
  // On a real device: whether the operator agreed to lose the data of the
  // test range. Asked on F2, and on a change of the box only the first time.
  bool consentToWrite(bool ask);
  void start();

  PageServices& services_;
  QLabel* label_;
  QLineEdit* serial_;
  QPlainTextEdit* box_;
  std::unique_ptr<QtMessageSink> boxSink_;
  QLineEdit* timeLeft_;
  QPushButton* run_;
  QPushButton* reflash_;
  QTimer* timer_;
  QComboBox* variant_;
  QPushButton* makeVariant_;
  std::unique_ptr<rma::RmaStation> station_;
  bool consent_ = false;
  bool asked_ = false;
};

}  // namespace zorv::app
