#include <gtest/gtest.h>

#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "app/fixed_pitch_font.h"
#include "app/qt_drive_list.h"
#include "app/qt_message_sink.h"
#include "app/qt_user_interface.h"
#include "identify/sector_buffer_window.h"
#include "qt_environment.h"
#include "support/sim_fixture.h"

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

TEST(QtUserInterface, ReplyWindowInItsMessage2FormOffersOnlyCancel) {
  QtUserInterface ui;
  QString shown;
  QStringList buttons;
  onNextModal([&](QWidget* w) {
    shown = w->findChild<QLabel*>()->text();
    for (QPushButton* b : w->findChildren<QPushButton*>()) buttons << b->text();
    w->findChild<QPushButton*>()->click();
  });
  ui.showCancelOnly("Check Sum Error\r\n");
  EXPECT_EQ(shown, "Check Sum Error\r\n");
  EXPECT_EQ(buttons, QStringList{"Cancel"});
}

// The buffer page asks before replacing a file; its save dialog must not ask
// as well, and a name typed without an extension gets ".bin".
TEST(QtUserInterface, BufferPageSaveAsksOnceAndNamesTheFileBin) {
  test::TempDir dir;
  const QString existing = QString::fromStdString(dir.file("dump.bin"));
  {
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old");
  }
  test::RecordingPort port;
  test::TestContext t(port);
  QtUserInterface ui;
  t.ctx.ui = &ui;
  StringSink dumpSink;
  BufferViewer viewer(t.ctx, dumpSink);
  viewer.open();

  QString suffix;
  bool dialogAsksToo = true;
  QStringList questions;
  std::function<void(QWidget*)> answerQuestion = [&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    questions << box->text();
    // Should the dialog have asked first, the page asks next.
    if (questions.size() == 1 && !box->text().contains("   already exists.")) onNextModal(answerQuestion);
    box->button(QMessageBox::Yes)->click();
  };
  onNextModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    suffix = dialog->defaultSuffix();
    dialogAsksToo = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
    dialog->selectFile(QString::fromStdString(dir.file("dump")));
    onNextModal(answerQuestion);
    static_cast<QDialog*>(dialog)->accept();  // as the Save button does
  });
  EXPECT_TRUE(viewer.saveFile());
  EXPECT_EQ(suffix, "bin");
  EXPECT_FALSE(dialogAsksToo);
  EXPECT_EQ(questions, QStringList{existing + "   already exists.\nDo you want to replace it?"});
  QFile saved(existing);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.size(), 0x200);
}

TEST(FixedPitchFont, AsksForFixedPitchWhateverFontsTheMachineHas) {
  QFont font = fixedPitchFont(10);
  EXPECT_TRUE(font.fixedPitch());
  EXPECT_EQ(font.styleHint(), QFont::Monospace);
  EXPECT_EQ(font.pointSize(), 10);
  // Where the machine has any fixed-pitch face, that is what is drawn.
  const QStringList families = QFontDatabase::families();
  const bool anyFixed = std::any_of(families.begin(), families.end(),
                                    [](const QString& f) { return QFontDatabase::isFixedPitch(f); });
  if (anyFixed) {
    EXPECT_TRUE(QFontInfo(font).fixedPitch()) << QFontInfo(font).family().toStdString();
  }

  QPlainTextEdit* box = QtMessageSink::makeTextBox(nullptr, 9);
  EXPECT_TRUE(box->font().fixedPitch());
  EXPECT_EQ(box->font().pointSize(), 9);
  delete box;
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
