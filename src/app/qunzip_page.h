#pragma once
// CQUnZip: the firmware package page. A thin shell over the package tab
// logic (firmware/package_session.h) and its download side
// (firmware/package_download.h): "Open QZ" fills the list, "Download QZ" and a
// double-click on a row start a download of the row's image (or, with "Make
// FW Downloader", write it into an executable), "Open Bin" does the same with
// a whole file, "Clear SMART", "PreRB3", "Append QZ", and the four option
// boxes sent as switches before a download. Downloads and executable writing
// run on the window's operation runner; the page's controls are disabled
// meanwhile.

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/page_registry.h"
#include "app/qt_progress.h"
#include "firmware/package_download.h"

namespace zorv::app {

class CQUnZip : public QWidget {
  Q_OBJECT
 public:
  CQUnZip(PageServices& services, QWidget* parent = nullptr);
  ~CQUnZip() override;

  firmware::QzPackageTab& packageTab() { return tab_; }
  QTreeWidget* list() const { return list_; }
  QPlainTextEdit* messageBox() const { return box_; }
  QtMessageSink& boxSink() { return *boxSink_; }
  QProgressBar* progressBar() const { return progress_; }
  QPushButton* openQzButton() const { return openQz_; }
  QPushButton* downloadQzButton() const { return downloadQz_; }
  QPushButton* openBinButton() const { return openBin_; }
  QPushButton* clearSmartButton() const { return clearSmart_; }
  QPushButton* preRb3Button() const { return preRb3_; }
  QPushButton* appendQzButton() const { return appendQz_; }
  QCheckBox* disablePowerDownBox() const { return disablePowerDown_; }
  QCheckBox* abnormalDebugBox() const { return abnormalDebug_; }
  QCheckBox* rs232Box() const { return rs232_; }
  QCheckBox* skipModelNameCheckBox() const { return skipModelNameCheck_; }
  QCheckBox* makeFwDownloaderBox() const { return makeFwDownloader_; }

  // True while an operation of the window runs (a download or an executable
  // write of this page among them).
  bool running() const;
  // Waits for the running operation to end (the GUI thread keeps serving its calls).
  void waitForWorker();
  // The last download's result, once its worker has ended.
  std::optional<firmware::DownloadResult> lastDownload() const;
  std::optional<firmware::ImageWriteStatus> lastImageWrite() const;

 public Q_SLOTS:
  // "Open QZ" and "Open Bin" ask for the file; the loads behind them take a
  // path already chosen (empty: cancelled).
  void onOpenQz();
  bool loadQz(const std::string& path);
  void openBin(const std::string& path);
  void onDownloadQz();
  void onRowActivated(QTreeWidgetItem* item);
  void onOpenBin();
  void onClearSmart();
  void onPreRb3();
  void onAppendQz();

 private:
  firmware::FirmwareTabOptions options() const;
  void clearOptionBoxes();
  void fillList();
  void applyColumns(const std::array<firmware::ListColumn, 3>& columns);
  void bringFirstTabToFront();
  // Starts the worker for an image: a download or, with "Make FW
  // Downloader", the write into an executable.
  void startFromTab(std::vector<uint8_t> image);
  void setControlsEnabled(bool enabled);

  PageServices& services_;
  firmware::QzPackageTab tab_;
  QTreeWidget* list_ = nullptr;
  QPlainTextEdit* box_ = nullptr;
  std::unique_ptr<QtMessageSink> boxSink_;
  QProgressBar* progress_ = nullptr;
  std::unique_ptr<QtProgressSink> progressSink_;
  QPushButton* openQz_ = nullptr;
  QPushButton* downloadQz_ = nullptr;
  QPushButton* openBin_ = nullptr;
  QPushButton* clearSmart_ = nullptr;
  QPushButton* preRb3_ = nullptr;
  QPushButton* appendQz_ = nullptr;
  QCheckBox* disablePowerDown_ = nullptr;
  QCheckBox* abnormalDebug_ = nullptr;
  QCheckBox* rs232_ = nullptr;
  QCheckBox* skipModelNameCheck_ = nullptr;
  QCheckBox* makeFwDownloader_ = nullptr;

  mutable std::mutex resultMutex_;
  std::optional<firmware::DownloadResult> lastDownload_;
  std::optional<firmware::ImageWriteStatus> lastImageWrite_;
};

}  // namespace zorv::app
