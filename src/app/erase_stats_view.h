#pragma once
// The erase-statistics view ("DrawData"): a modal window that reads the
// block-information dump of the selected drive and charts its erase counts
// and invalid pages (EraseStatsChart), with "Save as PNG". "Open Dump..."
// charts a saved ".txt" dump instead. A dump that cannot be used draws
// nothing and says why.
//
// The window's menu command holds the drive (fgBusy) while the view is open;
// the view reads the drive on the GUI thread, as the short commands do.

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <filesystem>
#include <memory>
#include <optional>

#include "app/qt_progress.h"
#include "controls/erase_stats_chart.h"
#include "diagnostics/erase_stats.h"
#include "transport/context.h"
#include "transport/user_interface.h"

namespace zorv::app {

class CEraseStatsView : public QDialog {
  Q_OBJECT
 public:
  // The dump files go to dumpDirectory; pane gets the dump's messages.
  CEraseStatsView(Context& ctx, UserInterface& ui, MessageSink& pane, std::filesystem::path dumpDirectory,
                  QWidget* parent = nullptr);

  // Reads and charts the selected drive's dump; false (and nothing drawn) when it cannot.
  bool readDrive();
  // Charts a saved ".txt" dump; false (and nothing drawn) when it cannot.
  bool openDump(const std::filesystem::path& file);
  // Writes the picture; false when nothing is drawn or the file cannot be written.
  bool saveAsPng(const QString& file);

  controls::EraseStatsChart* chart() const { return chart_; }
  QLabel* status() const { return status_; }
  QProgressBar* progressBar() const { return progress_; }
  QPushButton* readButton() const { return read_; }
  QPushButton* openButton() const { return open_; }
  QPushButton* saveButton() const { return save_; }
  const std::optional<EraseStatistics>& statistics() const { return stats_; }

 public Q_SLOTS:
  void onOpen();
  void onSave();

 private:
  bool present(const BlockDumpReading& reading);

  Context& ctx_;
  UserInterface& ui_;
  MessageSink& pane_;
  std::filesystem::path dumpDirectory_;
  controls::EraseStatsChart* chart_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  std::unique_ptr<QtProgressSink> progressSink_;
  QPushButton* read_ = nullptr;
  QPushButton* open_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* close_ = nullptr;
  std::optional<EraseStatistics> stats_;
};

}  // namespace zorv::app
