#include "qt_environment.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QWidget>

namespace zorv::test {

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "zorv_app_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    QApplication::setApplicationDisplayName("Zorv");
  }
  void TearDown() override { delete app_; }

 private:
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void onNextModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(modal);
  });
  timer->start(5);
}

}  // namespace zorv::test
