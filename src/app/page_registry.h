#pragma once
// Engineering pages register themselves, as zorvctl commands do: a page file
// in src/app defines
//   static zorv::app::PageRegistrar reg{30, "Identify", &makeIdentifyPage};
// and the engineering layout shows every registered page as a tab, in order
// of `order` (then title). The message pane (CMainMessage) is always the first tab.
//
// A page is a QWidget built by its factory with the services it shares with
// the rest of the window. Pages work on ctx's selected drive, write their own
// message boxes through QtMessageSink (safe from worker threads), ask the
// person through ui, and run their operations through the window's runner,
// which holds the drive (ctx.fgBusy) and the drive list while they run.

#include <QWidget>

#include <string>
#include <vector>

#include "app/operation_runner.h"
#include "app/qt_message_sink.h"
#include "app/qt_user_interface.h"
#include "discovery/drive_list.h"
#include "transport/context.h"

namespace zorv::app {

struct PageServices {
  Context& ctx;
  QtUserInterface& ui;
  QtMessageSink& pane;       // the message pane (CMainMessage) that PrintMessage writes to
  DriveListView& driveList;  // the main window's drive list
  QWidget* mainWindow;
  OperationRunner& runner;  // runs every operation of the window, one at a time
  // Where the mounted volumes come from (raw writes refuse a drive with
  // mounted file systems); "" for none.
  std::string mountInfoPath;
};

using PageFactory = QWidget* (*)(PageServices& services, QWidget* parent);

struct RegisteredPage {
  int order;
  const char* title;
  PageFactory factory;
};

// Every registered page, sorted by order and title.
std::vector<RegisteredPage> registeredPages();

struct PageRegistrar {
  PageRegistrar(int order, const char* title, PageFactory factory);
};

}  // namespace zorv::app
