#include "app/erase_stats_view.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "transport/message.h"

namespace zorv::app {

CEraseStatsView::CEraseStatsView(Context& ctx, UserInterface& ui, MessageSink& pane,
                                 std::filesystem::path dumpDirectory, QWidget* parent)
    : QDialog(parent), ctx_(ctx), ui_(ui), pane_(pane), dumpDirectory_(std::move(dumpDirectory)) {
  setObjectName("CEraseStatsView");
  setWindowTitle("Erase Statistics");
  auto* layout = new QVBoxLayout(this);
  status_ = new QLabel(this);
  status_->setObjectName("eraseStatsStatus");
  status_->setWordWrap(true);
  layout->addWidget(status_);
  chart_ = new controls::EraseStatsChart(this);
  layout->addWidget(chart_, 1);

  auto* row = new QHBoxLayout;
  auto button = [this, row](const char* text, const char* name) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    row->addWidget(b);
    return b;
  };
  read_ = button("Read Drive", "readDrive");
  open_ = button("Open Dump...", "openDump");
  row->addStretch();
  save_ = button("Save as PNG", "savePng");
  close_ = button("Close", "close");
  layout->addLayout(row);
  // A dump of a large drive takes a while: the bar shows how far it is.
  progress_ = new QProgressBar(this);
  progress_->setObjectName("dumpProgress");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progressSink_ = std::make_unique<QtProgressSink>(progress_);
  layout->addWidget(progress_);
  save_->setEnabled(false);
  resize(1100, 900);

  connect(read_, &QPushButton::clicked, this, [this] { readDrive(); });
  connect(open_, &QPushButton::clicked, this, &CEraseStatsView::onOpen);
  connect(save_, &QPushButton::clicked, this, &CEraseStatsView::onSave);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
}

bool CEraseStatsView::present(const BlockDumpReading& reading) {
  if (!reading.ok()) {
    stats_.reset();
    chart_->clear("Nothing drawn");
    status_->setText(QString::fromStdString(reading.error));
    save_->setEnabled(false);
    return false;
  }
  stats_ = reading.statistics;
  chart_->setStatistics(*stats_);
  status_->setText(QString::fromStdString("Block information from " + reading.textFile.string()));
  save_->setEnabled(true);
  return true;
}

bool CEraseStatsView::readDrive() {
  status_->setText("Reading the block information...");
  progress_->setValue(0);
  return present(ReadEraseStatistics(ctx_, pane_, dumpDirectory_, progressSink_.get()));
}

bool CEraseStatsView::openDump(const std::filesystem::path& file) { return present(LoadEraseStatistics(file)); }

bool CEraseStatsView::saveAsPng(const QString& file) {
  if (!stats_) return false;
  QString why;
  if (!chart_->savePng(file, why)) {
    status_->setText(why);
    return false;
  }
  status_->setText("Saved " + file);
  return true;
}

void CEraseStatsView::onOpen() {
  auto file = ui_.chooseOpenFile("Open Block Information", "Block Info Files (*.txt)|*.txt||");
  if (file) openDump(*file);
}

void CEraseStatsView::onSave() {
  std::string suggested = "EraseStats.png";
  if (stats_ && !stats_->source.empty()) {
    std::filesystem::path p(stats_->source);
    suggested = p.replace_extension(".png").string();
  }
  auto file = ui_.chooseSaveFile("Save as PNG", "PNG Files (*.png)|*.png||", suggested);
  if (!file) return;
  QString path = QString::fromStdString(*file);
  if (!path.endsWith(".png", Qt::CaseInsensitive)) path += ".png";
  saveAsPng(path);
}

}  // namespace zorv::app
