#include "app/tab_main.h"

namespace zorv::app {

CTabMain::CTabMain(QWidget* parent) : QTabWidget(parent) { setObjectName("tabs"); }

}  // namespace zorv::app
