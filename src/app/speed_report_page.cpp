#include "app/speed_report_page.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/fixed_pitch_font.h"
#include "controls/speed_chart.h"

namespace zorv::app {

CPfDiag::CPfDiag(PageServices& services, QWidget* parent) : QWidget(parent), services_(services) {
  setObjectName("CPfDiag");
  chart_ = new QChartView(makeSpeedChart({}), this);
  chart_->setRenderHint(QPainter::Antialiasing);
  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setFont(fixedPitchFont(10));
  open_ = new QPushButton(QStringLiteral("Open File"), this);
  keep_ = new QCheckBox(QStringLiteral("Keep Reflash"), this);
  auto* side = new QVBoxLayout;
  side->addWidget(open_);
  side->addWidget(keep_);
  side->addWidget(text_, 1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(chart_, 3);
  layout->addLayout(side, 1);
  timer_.setInterval(kRefreshMs);
  connect(open_, &QPushButton::clicked, this, &CPfDiag::onOpenFile);
  connect(&timer_, &QTimer::timeout, this, &CPfDiag::refresh);
}

void CPfDiag::onOpenFile() {
  if (auto f = services_.ui.chooseOpenFile("Open File", "Text File(*.csv)|All Files(*.*)|*.*||")) openFile(*f);
}

bool CPfDiag::show(const std::string& path) {
  std::string error;
  auto view = readSpeedReport(path, error);
  if (!view) {
    text_->appendPlainText(QString::fromStdString(error));
    return false;
  }
  // The view gives up the chart it showed without deleting it.
  QChart* old = chart_->chart();
  chart_->setChart(makeSpeedChart(*view));
  delete old;
  text_->setPlainText(QString::fromStdString(view->text).replace("\r\n", "\n"));
  shown_ = std::move(*view);
  return true;
}

bool CPfDiag::openFile(const std::string& path) {
  if (!show(path)) return false;
  if (keep_->isChecked()) {
    keptPath_ = path;
    open_->setEnabled(false);
    timer_.start();
  }
  return true;
}

void CPfDiag::refresh() {
  if (!keep_->isChecked()) {
    open_->setEnabled(true);
    timer_.stop();
  }
  if (!keptPath_.empty()) show(keptPath_);
  if (!keep_->isChecked()) keptPath_.clear();
}

namespace {

QWidget* makeSpeedReportPage(PageServices& services, QWidget* parent) { return new CPfDiag(services, parent); }

PageRegistrar reg{46, "Speed Report", &makeSpeedReportPage};

}  // namespace

}  // namespace zorv::app
