#include "controls/offscreen_application.h"

#include <cstdio>

namespace zorv::controls {

OffscreenApplication::OffscreenApplication() {
  previous_ = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
  });
  if (!QCoreApplication::instance()) {
    // QApplication keeps argc and argv for its whole life.
    static int argc = 3;
    static char arg0[] = "zorvctl";
    static char arg1[] = "-platform";
    static char arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    own_ = std::make_unique<QApplication>(argc, argv);
  }
}

OffscreenApplication::~OffscreenApplication() {
  own_.reset();
  qInstallMessageHandler(previous_);
}

}  // namespace zorv::controls
