#include "controls/erase_stats_chart.h"

#include "controls/offscreen_application.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGridLayout>
#include <QPixmap>
#include <QValueAxis>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace zorv::controls {

namespace {

QString figures(const char* name, const Distribution& d) {
  if (d.count == 0) return QString("%1: no good blocks").arg(name);
  return QString("%1: min %2, max %3, avg %4, sd %5")
      .arg(name)
      .arg(d.min)
      .arg(d.max)
      .arg(d.average, 0, 'f', 1)
      .arg(d.stddev, 0, 'f', 1);
}

// Twenty bins or thirty-two planes of labels fit under a chart only small.
QFont smallFont() {
  QFont f;
  f.setPointSizeF(std::max(6.0, f.pointSizeF() - 2));
  return f;
}

QChartView* makeView(QWidget* parent, const char* name) {
  auto* view = new QChartView(new QChart, parent);
  view->setObjectName(name);
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumSize(360, 260);
  view->chart()->legend()->hide();
  return view;
}

// A new chart for view (the old one goes with setChart).
QChart* freshChart(QChartView* view, const QString& title) {
  auto* chart = new QChart;
  chart->setTitle(title);
  chart->setAnimationOptions(QChart::NoAnimation);
  QChart* old = view->chart();
  view->setChart(chart);
  delete old;
  return chart;
}

void drawHistogram(QChartView* view, const QString& title, const Distribution& d, const QString& xTitle,
                   const QColor& colour) {
  QChart* chart = freshChart(view, title);
  chart->legend()->hide();
  if (d.count == 0) return;
  auto* set = new QBarSet("blocks");
  set->setColor(colour);
  QStringList categories;
  uint64_t top = 0;
  for (const HistogramBin& b : d.histogram) {
    *set << static_cast<double>(b.count);
    // The bins are of equal width: each is named by where it starts.
    categories << QString::number(b.from);
    top = std::max(top, b.count);
  }
  auto* series = new QBarSeries;
  series->setBarWidth(0.95);
  series->append(set);
  chart->addSeries(series);
  auto* x = new QBarCategoryAxis;
  x->append(categories);
  x->setTitleText(QString("%1 (bins of %2 from the value shown)").arg(xTitle).arg(d.histogram.front().to - d.histogram.front().from + 1));
  x->setLabelsAngle(-90);
  x->setLabelsFont(smallFont());
  auto* y = new QValueAxis;
  y->setRange(0, static_cast<double>(top) * 1.1 + 1);
  y->setLabelFormat("%d");
  y->setTitleText("blocks");
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(x);
  series->attachAxis(y);
}

void drawGroups(QChartView* view, const EraseStatistics& s) {
  QChart* chart = freshChart(view, s.perPlane ? "Erase count per plane" : "Erase count per RAID group");
  auto* low = new QBarSet("lowest");
  auto* mean = new QBarSet("average");
  auto* high = new QBarSet("highest");
  low->setColor(QColor(0x4C, 0x9A, 0x2A));
  mean->setColor(QColor(0x2A, 0x6F, 0xB5));
  high->setColor(QColor(0xC0, 0x39, 0x2B));
  QStringList categories;
  uint32_t top = 0;
  for (const GroupStatistics& g : s.groups) {
    *low << g.eraseCount.min;
    *mean << g.eraseCount.average;
    *high << g.eraseCount.max;
    top = std::max(top, g.eraseCount.max);
    categories << (s.perPlane ? QString("%1.%2.%3.%4")
                                    .arg(g.address[0])
                                    .arg(g.address[1])
                                    .arg(g.address[2])
                                    .arg(g.address[3])
                              : QString("R%1").arg(g.address[0]));
  }
  auto* series = new QBarSeries;
  series->append(low);
  series->append(mean);
  series->append(high);
  chart->addSeries(series);
  auto* x = new QBarCategoryAxis;
  x->append(categories);
  x->setTitleText(s.perPlane ? "channel.chip.die.plane" : "RAID group");
  x->setLabelsAngle(-90);
  x->setLabelsFont(smallFont());
  auto* y = new QValueAxis;
  y->setRange(0, top * 1.1 + 1);
  y->setLabelFormat("%d");
  y->setTitleText("erase count");
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(x);
  series->attachAxis(y);
  chart->legend()->setVisible(true);
  chart->legend()->setAlignment(Qt::AlignTop);
}

}  // namespace

EraseStatsChart::EraseStatsChart(QWidget* parent) : QWidget(parent) {
  setObjectName("eraseStatsChart");
  auto* grid = new QGridLayout(this);
  caption_ = new QLabel(this);
  caption_->setObjectName("eraseStatsCaption");
  caption_->setWordWrap(true);
  caption_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  erase_ = makeView(this, "eraseHistogram");
  invalid_ = makeView(this, "invalidHistogram");
  planes_ = makeView(this, "groupChart");
  grid->addWidget(caption_, 0, 0, 1, 2);
  grid->addWidget(erase_, 1, 0);
  grid->addWidget(invalid_, 1, 1);
  grid->addWidget(planes_, 2, 0, 1, 2);
  grid->setRowStretch(1, 3);
  grid->setRowStretch(2, 2);
  clear("No block information read yet");
}

void EraseStatsChart::setStatistics(const EraseStatistics& s) {
  QStringList lines;
  if (!s.source.empty()) lines << QString::fromStdString(s.source);
  lines << QString("Blocks: %1, early bad %2, later bad %3, good %4")
               .arg(s.blocks)
               .arg(s.earlyBad)
               .arg(s.laterBad)
               .arg(s.eraseCount.count);
  if (!s.geometryChecked) lines << "Flash geometry not checked: no Info SSD record of the drive";
  caption_->setText(lines.join('\n'));
  drawHistogram(erase_, figures("Erase count", s.eraseCount), s.eraseCount, "erase count", QColor(0x2A, 0x6F, 0xB5));
  drawHistogram(invalid_, figures("Invalid pages", s.invalidPages), s.invalidPages, "invalid pages",
                QColor(0xD3, 0x84, 0x1E));
  drawGroups(planes_, s);
  shown_ = true;
}

void EraseStatsChart::clear(const QString& why) {
  caption_->setText(why);
  freshChart(erase_, "Erase count");
  freshChart(invalid_, "Invalid pages per block");
  freshChart(planes_, "Erase count per plane");
  shown_ = false;
}

bool EraseStatsChart::savePng(const QString& path, QString& error) {
  if (!grab().save(path, "PNG")) {
    error = "Cannot write " + path;
    return false;
  }
  return true;
}

bool renderEraseStatsPng(const EraseStatistics& stats, const std::string& path, std::string& error) {
  OffscreenApplication app;
  bool ok = false;
  {
    EraseStatsChart chart;
    chart.setAttribute(Qt::WA_DontShowOnScreen);
    chart.resize(1200, 900);
    chart.setStatistics(stats);
    chart.show();
    QApplication::processEvents();
    QString why;
    ok = chart.savePng(QString::fromStdString(path), why);
    if (!ok) error = why.toStdString();
  }
  return ok;
}

}  // namespace zorv::controls
