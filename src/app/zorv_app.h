#pragma once
// CZorvApp: the program. Picks the device backend (the simulated bay with
// --sim DIR, the OS otherwise), opens the main window modally and ends when
// it closes.
//
//   zorv [--sim DIR] [--engineering] [--screenshot FILE]
//
// --screenshot saves a picture of the opened window to FILE and closes it.

#include <string>

namespace zorv::app {

struct AppOptions {
  std::string simDir;
  bool engineering = false;
  std::string screenshot;
};

class CZorvApp {
 public:
  // Runs the program on an existing QApplication; returns the exit status.
  static int run(const AppOptions& options);
  // Parses the command line of the running QApplication.
  static bool parseArguments(AppOptions& options, std::string& error);
};

}  // namespace zorv::app
