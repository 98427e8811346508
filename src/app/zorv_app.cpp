#include "app/zorv_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

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
  parser.addOption(sim);
  parser.addOption(engineering);
  parser.addOption(screenshot);
  if (!parser.parse(QApplication::arguments())) {
    error = parser.errorText().toStdString();
    return false;
  }
  // parse() leaves both help options to the caller; --help-all must not open the window.
  if (parser.isSet("help") || parser.isSet("help-all")) parser.showHelp(0);
  options.simDir = parser.value(sim).toStdString();
  options.engineering = parser.isSet(engineering);
  options.screenshot = parser.value(screenshot).toStdString();
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
  if (!options.screenshot.empty()) {
    QString file = QString::fromStdString(options.screenshot);
    QTimer::singleShot(500, &dlg, [&dlg, file] {
      bool saved = dlg.grab().save(file);
      dlg.done(saved ? 0 : 1);
    });
  }
  int result = dlg.exec();
  return options.screenshot.empty() ? 0 : result;
}

}  // namespace zorv::app
