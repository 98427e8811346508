#include <QApplication>

#include <iostream>

#include "app/headless_update.h"
#include "app/zorv_app.h"

int main(int argc, char** argv) {
  // A one-file updater run with --update needs no window (nor a display).
  if (zorv::app::wantsHeadlessUpdate(argc, argv)) return zorv::app::runHeadlessUpdate(argc, argv, std::cout, std::cerr);
  QApplication app(argc, argv);
  QApplication::setApplicationName("zorv");
  QApplication::setApplicationDisplayName("Zorv");
  zorv::app::AppOptions options;
  std::string error;
  if (!zorv::app::CZorvApp::parseArguments(options, error)) {
    std::cerr << "zorv: " << error << '\n';
    return 2;
  }
  return zorv::app::CZorvApp::run(options);
}
