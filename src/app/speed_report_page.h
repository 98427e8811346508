#pragma once
// CPfDiag: the speed report viewer tab. "Open File" reads a speed report
// (workload/speed_report_view.h), draws its curve (speed_chart.h) and lists
// its lines in the text box. With "Keep Reflash" checked when a file is
// opened, the path is kept, "Open File" is disabled and the file is read and
// drawn again every 10 s; unchecking the box ends that at the next tick
// (which still draws once more) and enables "Open File" again.

#include <QCheckBox>
#include <QChartView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <string>

#include "app/page_registry.h"
#include "workload/speed_report_view.h"

namespace zorv::app {

class CPfDiag : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 10000;

  CPfDiag(PageServices& services, QWidget* parent = nullptr);

  QChartView* chartView() const { return chart_; }
  QPlainTextEdit* textBox() const { return text_; }
  QPushButton* openButton() const { return open_; }
  QCheckBox* keepReflash() const { return keep_; }
  QTimer& refreshTimer() { return timer_; }
  const std::optional<SpeedReportView>& shown() const { return shown_; }

 public Q_SLOTS:
  void onOpenFile();
  // Reads, parses and draws path; false (the reason in the text box,
  // nothing else changed) when it cannot be read.
  bool openFile(const std::string& path);
  // The 10-second tick.
  void refresh();

 private:
  bool show(const std::string& path);

  PageServices& services_;
  QChartView* chart_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  QPushButton* open_ = nullptr;
  QCheckBox* keep_ = nullptr;
  QTimer timer_;
  std::string keptPath_;
  std::optional<SpeedReportView> shown_;
};

}  // namespace zorv::app
