#pragma once
// CZorvDlg: the main window. The downloader layout (drive list, message box,
// progress bar, "FW Update") is the one the program opens; the engineering
// layout holds the drive list above the tab control of engineering pages.
// Closing the window ends the program.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QHBoxLayout>

#include <memory>
#include <string>
#include <vector>

#include "app/main_message.h"
#include "app/operation_runner.h"
#include "app/page_registry.h"
#include "app/qt_drive_list.h"
#include "app/qt_message_sink.h"
#include "app/qt_progress.h"
#include "app/qt_user_interface.h"
#include "app/tab_main.h"
#include "discovery/enumerate.h"
#include "transport/clock.h"
#include "transport/context.h"

namespace zorv::app {

enum class WindowLayout { Downloader, Engineering };

struct DlgOptions {
  WindowLayout layout = WindowLayout::Downloader;
  // Where the volumes of the drive information come from ("" for none).
  std::string mountInfoPath;
  // How often device arrival/removal is looked for; 0 leaves it to pollDeviceEvents().
  int devicePollMs = 250;
  // Where the erase-statistics view writes the block-information dump it
  // reads ("" for the current directory, as the diagnostics page does).
  std::string dumpDirectory;
};

// The engineering layout's menu commands, by their command ids.
enum MenuCommand : int {
  kCmdExit = 32805,
  kCmdAnyAta = 32884,
  kCmdSeqRead = 32904,
  kCmdRndAccess = 32905,
  kCmdSeqWrite = 32917,
  kCmdRndWrite = 32918,
  kCmdUpdateFirmware = 32935,
  kCmdDrawData = 32937,
  kCmdDiagnosticTrigger = 32943,
  kCmdCleanSmart = 32944,
};
// The any-ATA console's operation code.
constexpr uint16_t kOpAnyAta = 0x25B0;

class CZorvDlg : public QDialog {
  Q_OBJECT
 public:
  CZorvDlg(DevicePort& port, DlgOptions options, QWidget* parent = nullptr);
  ~CZorvDlg() override;

  Context& context() { return *ctx_; }
  QtUserInterface& userInterface() { return ui_; }
  WindowLayout layout() const { return options_.layout; }
  // Runs the operations of this window and of its pages.
  OperationRunner& runner() { return *runner_; }

  QComboBox* driveListWidget() const { return driveCombo_; }
  QtDriveList& driveList() { return *driveList_; }
  // Downloader layout.
  QPlainTextEdit* messageBox() const { return messageBox_; }
  QProgressBar* progressBar() const { return progress_; }
  QPushButton* fwUpdateButton() const { return fwUpdate_; }
  // Engineering layout (the message page also exists, unseen, in the
  // downloader layout: it is where the pane's lines go).
  CTabMain* tabs() const { return tabs_; }
  CMainMessage* mainMessage() const { return mainMessage_; }
  QCheckBox* skipModelCheckBox() const { return skipModelCheck_; }
  // The menu bar and the second, shorter menu.
  QMenuBar* mainMenu() const { return menu_; }
  QMenuBar* secondMenu() const { return secondMenu_; }
  // The action of a command in the menu bar (second: in the second menu);
  // nullptr when that menu does not hold it.
  QAction* menuAction(int command, bool second = false) const;
  PageServices* pageServices() const { return services_.get(); }

  // The message pane PrintMessage writes to: the message page.
  QtMessageSink& pane() { return *paneSink_; }
  // The drives the opening pass found.
  const std::vector<DriveInformation>& driveInformation() const { return drives_; }
  // The last dropped file's path without its extension, upper-cased.
  const QString& currentFileBaseName() const { return fileBaseName_; }
  bool watchingDevices() const { return events_ != nullptr; }

 public Q_SLOTS:
  // Looks for device arrival/removal once and re-runs the enumeration for
  // those of the brand (the timer calls it; tests call it directly).
  void pollDeviceEvents();
  void onFwUpdate();
  void onDriveSelected(int index);
  void onReflashDrive();
  // Engineering menu commands. Each does nothing while an operation holds
  // the drive (fgBusy).
  void onAnyAta();
  void onDrawData();
  void onMediaTestMenu(uint16_t opCode);
  void onUpdateFirmware();
  void onDiagnosticTrigger();
  void onCleanSmart();
  // Closing (File > Exit, the window's close button) while an operation runs
  // asks first, then stops the operation and waits for it to end.
  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildDownloader();
  void buildEngineering();
  void openDownloader();
  void openEngineering();
  void startDeviceWatch();
  void applyPendingDeviceEvents();
  bool acceptsDrop(const QMimeData* mime) const;
  void buildMenus(QVBoxLayout* layout, QHBoxLayout* top);
  bool busy() const;
  // Enter in a text field or list of a page is that page's.
  bool enterTakenByPage() const;

  DevicePort& port_;
  DlgOptions options_;
  SystemClock clock_;
  QtUserInterface ui_;

  QComboBox* driveCombo_ = nullptr;
  QPlainTextEdit* messageBox_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* fwUpdate_ = nullptr;
  QRadioButton* radio1227_ = nullptr;
  QRadioButton* radio1233_ = nullptr;
  CTabMain* tabs_ = nullptr;
  CMainMessage* mainMessage_ = nullptr;
  QCheckBox* skipModelCheck_ = nullptr;
  QPushButton* reflash_ = nullptr;
  QMenuBar* menu_ = nullptr;
  QMenuBar* secondMenu_ = nullptr;
  std::unique_ptr<QtProgressSink> updateProgress_;
  bool updateOk_ = false;

  QtMessageSink* boxSink_ = nullptr;
  QtMessageSink* paneSink_ = nullptr;
  QtDriveList* driveList_ = nullptr;
  std::unique_ptr<QtProgressSink> progressSink_;
  std::unique_ptr<Context> ctx_;
  std::unique_ptr<OperationRunner> runner_;
  std::unique_ptr<DriveListAttachment> attachment_;
  std::unique_ptr<PageServices> services_;
  std::unique_ptr<DeviceEventSource> events_;
  std::vector<DeviceEvent> pendingEvents_;
  QTimer deviceTimer_;
  std::vector<DriveInformation> drives_;
  QString fileBaseName_;
};

}  // namespace zorv::app
