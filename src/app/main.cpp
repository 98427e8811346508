#include <QApplication>

#include <iostream>

#include "app/zorv_app.h"

int main(int argc, char** argv) {
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
