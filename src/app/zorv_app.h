#pragma once
// CZorvApp: the program. Picks the device backend (the simulated bay with
// --sim DIR, the OS otherwise), opens the main window modally and ends when
// it closes.
//
//   zorv [--sim DIR] [--engineering] [--tab N] [--command ID] [--screenshot FILE]
//
// --tab shows the engineering layout's tab N (0 is the message pane);
// --command runs a menu command (by its id, e.g. 32937 DrawData) once the
// window is open. --screenshot saves a picture of the opened window (or of
// the modal window a command opened) to FILE and closes it.

#include <string>

namespace zorv::app {

struct AppOptions {
  std::string simDir;
  bool engineering = false;
  std::string screenshot;
  int tab = -1;
  int command = 0;
};

class CZorvApp {
 public:
  // Runs the program on an existing QApplication; returns the exit status.
  static int run(const AppOptions& options);
  // Parses the command line of the running QApplication.
  static bool parseArguments(AppOptions& options, std::string& error);
};

}  // namespace zorv::app
