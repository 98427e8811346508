// The window's operation runner: one operation at a time holds the drive
// (fgBusy) and the drive list; the end comes back on the GUI thread.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QThread>

#include <future>

#include "app/gui_thread.h"
#include "app/operation_runner.h"
#include "qt_environment.h"
#include "support/test_support.h"

namespace zorv::app {
namespace {

struct RunnerFixture : ::testing::Test {
  RunnerFixture() {
    for (int i : {0, 1}) t.ctx.DriveTable[static_cast<size_t>(i)].strDevicePath = port.physicalDrivePath(i);
    t.ctx.ucDriveCount = 2;
    list.insertLine(0, "Physical Drive 0");
    list.insertLine(1, "Physical Drive 1");
    list.select(0);
  }

  test::RecordingPort port;
  test::TestContext t{port};
  DriveListModel list;
  OperationRunner runner{t.ctx, list};
};

TEST_F(RunnerFixture, AnOperationHoldsTheDriveAndTheListUntilItsEndIsReported) {
  QSignalSpy ended(&runner, &OperationRunner::operationEnded);
  std::promise<void> go;
  std::shared_future<void> released = go.get_future().share();
  std::atomic<int> busyInside{-1}, stopInside{-1};
  bool listEnabledInside = true;
  int onEndCalls = 0;
  bool onEndOnGuiThread = false;
  QObject page;

  t.ctx.fgStopRequest = 1;
  t.ctx.ucSelDrive = 1;
  ASSERT_TRUE(runner.start(
      &page,
      [&] {
        busyInside = t.ctx.fgBusy;
        stopInside = t.ctx.fgStopRequest;
        listEnabledInside = list.isEnabled();
        released.wait();
      },
      [&] {
        ++onEndCalls;
        onEndOnGuiThread = onGuiThread();
      }));
  EXPECT_TRUE(runner.running());
  EXPECT_EQ(runner.boundDrive(), 1);
  EXPECT_FALSE(list.isEnabled());
  // One operation at a time, whichever way it would run.
  bool ranHere = false;
  EXPECT_FALSE(runner.start(&page, [] {}));
  EXPECT_FALSE(runner.runHere([&] { ranHere = true; }));
  EXPECT_FALSE(ranHere);

  go.set_value();
  ASSERT_TRUE(runner.wait());
  EXPECT_EQ(busyInside, 1);
  EXPECT_EQ(stopInside, 0);
  EXPECT_FALSE(listEnabledInside);
  EXPECT_EQ(onEndCalls, 1);
  EXPECT_TRUE(onEndOnGuiThread);
  EXPECT_EQ(ended.count(), 1);
  EXPECT_FALSE(runner.running());
  EXPECT_EQ(runner.boundDrive(), kNoDrive);
  EXPECT_EQ(t.ctx.fgBusy, 0);
  EXPECT_TRUE(list.isEnabled());
}

TEST_F(RunnerFixture, AListThatWasDisabledStaysSo) {
  list.setEnabled(false);
  ASSERT_TRUE(runner.start(nullptr, [] {}));
  ASSERT_TRUE(runner.wait());
  EXPECT_FALSE(list.isEnabled());
  ASSERT_TRUE(runner.runHere([] {}));
  EXPECT_FALSE(list.isEnabled());
}

TEST_F(RunnerFixture, ADriveHeldElsewhereIsNotTaken) {
  t.ctx.fgBusy = 1;
  bool ran = false;
  EXPECT_FALSE(runner.start(nullptr, [&] { ran = true; }));
  EXPECT_FALSE(runner.runHere([&] { ran = true; }));
  EXPECT_FALSE(ran);
  EXPECT_FALSE(runner.running());
  EXPECT_TRUE(list.isEnabled());
  EXPECT_EQ(t.ctx.fgBusy, 1);
}

TEST_F(RunnerFixture, AShortCommandHoldsTheDriveOnTheGuiThread) {
  QSignalSpy started(&runner, &OperationRunner::operationStarted);
  QSignalSpy ended(&runner, &OperationRunner::operationEnded);
  t.ctx.fgStopRequest = 1;
  bool inside = false;
  ASSERT_TRUE(runner.runHere([&] {
    inside = true;
    EXPECT_EQ(t.ctx.fgBusy, 1);
    EXPECT_EQ(t.ctx.fgStopRequest, 0);
    EXPECT_FALSE(list.isEnabled());
    EXPECT_TRUE(runner.running());
    // Its caller cannot wait for it to end.
    EXPECT_FALSE(runner.wait());
  }));
  EXPECT_TRUE(inside);
  EXPECT_EQ(started.count(), 1);
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(t.ctx.fgBusy, 0);
  EXPECT_TRUE(list.isEnabled());
}

TEST_F(RunnerFixture, WaitingServesAWorkerThatNeedsTheGuiThread) {
  std::atomic<bool> answered{false};
  ASSERT_TRUE(runner.start(nullptr, [&] {
    // As a message box or a file choice from a worker does.
    runOnGuiThread([&] { answered = true; });
  }));
  EXPECT_TRUE(runner.wait());
  EXPECT_TRUE(answered);
  EXPECT_FALSE(runner.running());
}

TEST_F(RunnerFixture, TheEndOfAGonePageIsNotReportedToIt) {
  QSignalSpy ended(&runner, &OperationRunner::operationEnded);
  auto* page = new QObject;
  bool called = false;
  std::promise<void> go;
  std::shared_future<void> released = go.get_future().share();
  ASSERT_TRUE(runner.start(page, [released] { released.wait(); }, [&] { called = true; }));
  delete page;
  go.set_value();
  ASSERT_TRUE(runner.wait());
  EXPECT_FALSE(called);
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(t.ctx.fgBusy, 0);
}

TEST_F(RunnerFixture, RequestStopSetsTheStopFlag) {
  ASSERT_TRUE(runner.start(nullptr, [this] {
    while (!t.ctx.fgStopRequest) QThread::msleep(1);
  }));
  runner.requestStop();
  EXPECT_TRUE(runner.wait());
  EXPECT_EQ(t.ctx.fgStopRequest, 1);
}

TEST_F(RunnerFixture, ASelectionChangeIsReportedWhenAnotherDriveIsSelected) {
  QSignalSpy changed(&runner, &OperationRunner::selectedDriveChanged);
  struct Step {
    const char* what;
    std::function<void(Context&)> change;
    bool reported;
  };
  const Step steps[] = {
      {"nothing changed", [](Context&) {}, false},
      {"the other line", [](Context& c) { c.ucSelDrive = 1; }, true},
      {"a rescan that keeps the drive", [](Context& c) { c.DriveTable[1].ucBusType = kBusUsb; }, false},
      {"another drive in the same slot", [](Context& c) { c.DriveTable[1].strSerial = "NEW"; }, true},
      {"no drive", [](Context& c) { c.ucSelDrive = kNoDrive; }, true},
      {"still no drive", [](Context&) {}, false},
  };
  for (const Step& s : steps) {
    int before = static_cast<int>(changed.count());
    s.change(t.ctx);
    runner.noteSelection();
    EXPECT_EQ(changed.count() - before, s.reported ? 1 : 0) << s.what;
  }
}

}  // namespace
}  // namespace zorv::app
