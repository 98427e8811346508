#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <atomic>
#include <thread>
#include <vector>

#include "app/qt_drive_list.h"
#include "app/qt_message_sink.h"
#include "app/qt_user_interface.h"
#include "qt_environment.h"

namespace zorv::app {
namespace {

using test::onNextModal;
using test::pumpUntil;

TEST(WindowsFilter, DescriptionPatternPairsBecomeQtFilters) {
  struct Case {
    const char* windows;
    QStringList qt;
  } cases[] = {
      {"Bin Files (*.bin)|*.bin||", {"Bin Files (*.bin)"}},
      {"EXE Files(*.exe)|*.*||", {"EXE Files (*.*)"}},  // the pattern filters, not the description
      {"QZ Files(*.qz)|*.*||", {"QZ Files (*.*)"}},
      {"Text (*.txt)|*.txt;*.log|All Files (*.*)|*.*||", {"Text (*.txt *.log)", "All Files (*.*)"}},
      {" Files(*.sc3)|*.*||", {"Files (*.*)"}},
      // A description where a pattern belongs: its parentheses hold the pattern.
      {"Execute File(*.exe)|All Files(*.*)|*.*||", {"Execute File (*.*)"}},
      {"", {"All Files (*)"}},
      {"|||", {"All Files (*)"}},
  };
  for (const Case& c : cases) EXPECT_EQ(windowsFilterToQt(c.windows), c.qt) << c.windows;
}

TEST(QtMessageSink, GuiThreadTextAppearsAtOnceWithWindowsLineEnds) {
  QPlainTextEdit* box = QtMessageSink::makeTextBox(nullptr);
  QtMessageSink sink(box);
  sink.append("Model Name      : X\r\nFirmware Version: 1\r\n\n\n");
  EXPECT_EQ(sink.text(), "Model Name      : X\nFirmware Version: 1\n\n\n");
  sink.clear();
  sink.append("a\rb");
  EXPECT_EQ(sink.text(), "ab");
  EXPECT_TRUE(box->isReadOnly());
  delete box;
}

TEST(QtMessageSink, WorkersWriteInTheirOwnOrderAndClearKeepsItsPlace) {
  QPlainTextEdit* box = QtMessageSink::makeTextBox(nullptr);
  QtMessageSink sink(box);
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&sink, t] {
      for (int i = 0; i < kLines; ++i) sink.append(std::to_string(t) + ":" + std::to_string(i) + "\r\n");
    });
  }
  for (auto& w : workers) w.join();
  ASSERT_TRUE(pumpUntil([&] { return sink.text().count('\n') == kThreads * kLines; }));
  std::vector<int> next(kThreads, 0);
  for (const QString& line : sink.text().split('\n', Qt::SkipEmptyParts)) {
    int t = line.section(':', 0, 0).toInt();
    EXPECT_EQ(line.section(':', 1).toInt(), next[static_cast<size_t>(t)]++) << line.toStdString();
  }

  std::thread writer([&sink] {
    sink.append("before\r\n");
    sink.clear();
    sink.append("after\r\n");
  });
  writer.join();
  ASSERT_TRUE(pumpUntil([&] { return sink.text() == "after\n"; }));
  delete box;
}

TEST(QtUserInterface, MessageBoxShowsTextIconAndCaption) {
  QtUserInterface ui;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
  onNextModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    text = box->text();
    icon = box->icon();
    title = box->windowTitle();
    box->accept();
  });
  ui.messageBox("SetupDiGetClassDevs(): failed", BoxIcon::Exclamation);
  EXPECT_EQ(text, "SetupDiGetClassDevs(): failed");
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(title, "Zorv");

  onNextModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    title = box->windowTitle();
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(ui.askYesNo("Erase?", "Caption", BoxIcon::Stop));
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(title, "Caption");
}

// The reply window, asked from a worker: the worker waits for the person.
TEST(QtUserInterface, ReplyWindowFromAWorkerThread) {
  QtUserInterface ui;
  for (const char* press : {"Go On", "Cancel"}) {
    QString shown;
    onNextModal([&shown, press](QWidget* w) {
      shown = w->findChild<QLabel*>()->text();
      for (QPushButton* b : w->findChildren<QPushButton*>()) {
        if (b->text() == press) b->click();
      }
    });
    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = ui.askGoOn("Power cycle the drive") ? 1 : 0; });
    ASSERT_TRUE(pumpUntil([&] { return answer != -1; }));
    worker.join();
    EXPECT_EQ(answer, std::string(press) == "Go On" ? 1 : 0);
    EXPECT_EQ(shown, "Power cycle the drive");
  }
}

TEST(QtDriveList, ChangedFromAWorkerOnlyOnTheGuiThreadAndSilentToTheHandler) {
  QComboBox combo;
  QtDriveList list(&combo);
  int userSelections = 0;
  QObject::connect(&list, &QtDriveList::userSelected, [&] { ++userSelections; });
  std::atomic<bool> done{false};
  std::string second;
  int selection = -2;
  std::thread worker([&] {
    list.clear();
    list.insertLine(0, "Physical Drive 0 A");
    list.insertLine(1, "Physical Drive 3 B");
    list.insertLine(1, "Physical Drive 1 C");
    list.select(2);
    list.setEnabled(false);
    second = list.line(1);
    selection = list.currentSelection();
    done = true;
  });
  ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(second, "Physical Drive 1 C");
  EXPECT_EQ(selection, 2);
  EXPECT_EQ(combo.currentText(), "Physical Drive 3 B");
  EXPECT_FALSE(combo.isEnabled());
  EXPECT_EQ(list.line(7), "");
  EXPECT_EQ(userSelections, 0);
  Q_EMIT combo.activated(0);
  EXPECT_EQ(userSelections, 1);
}

}  // namespace
}  // namespace zorv::app
