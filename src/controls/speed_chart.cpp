#include "controls/speed_chart.h"

#include "controls/offscreen_application.h"

#include <QApplication>
#include <QChartView>
#include <QLineSeries>
#include <QPixmap>
#include <QValueAxis>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace zorv::app {

QChart* makeSpeedChart(const SpeedReportView& view) {
  auto* chart = new QChart();
  auto* series = new QLineSeries(chart);
  series->setColor(QColor(0x00, 0xFF, 0x00));
  QList<QPointF> points;
  points.reserve(static_cast<qsizetype>(view.speeds.size()));
  double top = 0;
  for (size_t i = 0; i < view.speeds.size(); ++i) {
    points.append(QPointF(static_cast<double>(i), view.speeds[i]));
    top = std::max(top, view.speeds[i]);
  }
  series->replace(points);
  chart->addSeries(series);
  chart->legend()->hide();
  auto* x = new QValueAxis(chart);
  x->setTitleText("Second");
  x->setLabelFormat("%d");
  x->setRange(0, std::max<double>(1, static_cast<double>(view.speeds.size()) - 1));
  auto* y = new QValueAxis(chart);
  y->setTitleText("MB/S");
  y->setLabelFormat("%d");
  y->setRange(0, top > 0 ? top * 1.1 : 1);
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(x);
  series->attachAxis(y);
  return chart;
}

bool renderSpeedChart(const SpeedReportView& view, const std::string& pngPath, std::string& error, int width,
                      int height) {
  controls::OffscreenApplication app;
  QChartView chartView(makeSpeedChart(view));
  chartView.setRenderHint(QPainter::Antialiasing);
  chartView.resize(width, height);
  QPixmap picture = chartView.grab();
  if (picture.isNull() || !picture.save(QString::fromStdString(pngPath), "PNG")) {
    error = "Cannot write the chart to " + pngPath;
    return false;
  }
  return true;
}

}  // namespace zorv::app
