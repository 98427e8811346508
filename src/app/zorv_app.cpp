#include "app/zorv_app.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

#include <iostream>
#include <memory>

#include "app/zorv_dlg.h"
#include "discovery/device_backend.h"
#include "discovery/volumes.h"

namespace zorv::app {

bool CZorvApp::parseArguments(AppOptions& options, std::string& error) {
  QCommandLineParser parser;
  parser.setApplicationDescription("Zorv: SSD firmware downloader and engineering tool");
  parser.addHelpOption();
  QCommandLineOption sim("sim", "Use the simulated drive bay stored in DIR (created when missing).", "DIR");
  QCommandLineOption engineering("engineering", "Open the engineering layout with every page.");
  QCommandLineOption screenshot("screenshot", "Save a picture of the opened window to FILE and close it.", "FILE");
  QCommandLineOption tab("tab", "Show tab N of the engineering layout (0: the message pane).", "N");
  QCommandLineOption command("command", "Run the menu command ID once the window is open (32937: DrawData).", "ID");
  parser.addOption(sim);
  parser.addOption(engineering);
  parser.addOption(screenshot);
  parser.addOption(tab);
  parser.addOption(command);
  if (!parser.parse(QApplication::arguments())) {
    error = parser.errorText().toStdString();
    return false;
  }
  // parse() leaves both help options to the caller; --help-all must not open the window.
  if (parser.isSet("help") || parser.isSet("help-all")) parser.showHelp(0);
  options.simDir = parser.value(sim).toStdString();
  options.engineering = parser.isSet(engineering);
  options.screenshot = parser.value(screenshot).toStdString();
  bool ok = true;
  if (parser.isSet(tab)) options.tab = parser.value(tab).toInt(&ok);
  if (!ok || (parser.isSet(tab) && options.tab < 0)) {
    error = "--tab takes a tab number from 0";
    return false;
  }
  if (parser.isSet(command)) options.command = parser.value(command).toInt(&ok);
  if (!ok || (parser.isSet(command) && options.command <= 0)) {
    error = "--command takes a menu command id";
    return false;
  }
  if ((options.tab >= 0 || options.command) && !options.engineering) {
    error = "--tab and --command need --engineering";
    return false;
  }
  return true;
}

int CZorvApp::run(const AppOptions& options) {
  std::string error;
  std::unique_ptr<DevicePort> port = openDeviceBackend(options.simDir, error);
  if (!port) {
    QMessageBox::critical(nullptr, QApplication::applicationDisplayName(), QString::fromStdString(error));
    return 2;
  }
  DlgOptions dlgOptions;
  dlgOptions.layout = options.engineering ? WindowLayout::Engineering : WindowLayout::Downloader;
  dlgOptions.mountInfoPath = mountInfoPathFor(*port, options.simDir);
  CZorvDlg dlg(*port, dlgOptions);
  if (options.tab >= 0) {
    if (options.tab >= dlg.tabs()->count()) {
      std::cerr << "zorv: there is no tab " << options.tab << " (the window has " << dlg.tabs()->count() << ")\n";
      return 2;
    }
    dlg.tabs()->setCurrentIndex(options.tab);
  }
  if (options.command) {
    QAction* action = dlg.menuAction(options.command);
    if (!action) action = dlg.menuAction(options.command, true);
    if (!action) {
      std::cerr << "zorv: no menu command has the id " << options.command << '\n';
      return 2;
    }
    QTimer::singleShot(100, action, &QAction::trigger);
  }
  if (!options.screenshot.empty()) {
    QString file = QString::fromStdString(options.screenshot);
    QTimer::singleShot(options.command ? 1500 : 500, &dlg, [&dlg, file] {
      // A window a command opened is the picture; closing it lets the command end.
      QWidget* modal = QApplication::activeModalWidget();
      auto* shown = qobject_cast<QDialog*>(modal && modal != &dlg ? modal : nullptr);
      bool saved = (shown ? shown->grab() : dlg.grab()).save(file);
      if (shown) shown->reject();
      QTimer::singleShot(0, &dlg, [&dlg, saved] { dlg.done(saved ? 0 : 1); });
    });
  }
  int result = dlg.exec();
  return options.screenshot.empty() ? 0 : result;
}

}  // namespace zorv::app
