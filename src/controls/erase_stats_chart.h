#pragma once
// The erase-statistics picture: the erase-count histogram and the
// invalid-pages histogram of a block-information dump, each with its
// minimum, maximum, average and standard deviation, and, where the dump
// tells planes apart, the erase counts of every plane (lowest, average,
// highest). The window shows it; zorvctl renders it offscreen to PNG.

#include <QLabel>
#include <QWidget>

#include <string>

#include "diagnostics/erase_stats.h"

QT_BEGIN_NAMESPACE
class QChartView;
QT_END_NAMESPACE

namespace zorv::controls {

class EraseStatsChart : public QWidget {
  Q_OBJECT
 public:
  explicit EraseStatsChart(QWidget* parent = nullptr);

  // Draws the figures; clear() draws nothing (and says why in the caption).
  void setStatistics(const EraseStatistics& stats);
  void clear(const QString& why);
  bool hasStatistics() const { return shown_; }

  QChartView* eraseView() const { return erase_; }
  QChartView* invalidView() const { return invalid_; }
  QChartView* planeView() const { return planes_; }
  QLabel* caption() const { return caption_; }

  // The widget as it is drawn now, as a PNG file. False, with the reason,
  // when the file cannot be written.
  bool savePng(const QString& path, QString& error);

 private:
  QLabel* caption_;
  QChartView* erase_;
  QChartView* invalid_;
  QChartView* planes_;
  bool shown_ = false;
};

// Renders the picture of stats into a PNG file without a window (for
// zorvctl): makes an offscreen application when the process has none.
// False, with the reason, when it cannot be written.
bool renderEraseStatsPng(const EraseStatistics& stats, const std::string& path, std::string& error);

}  // namespace zorv::controls
