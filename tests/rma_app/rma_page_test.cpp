// The RMA station page on the simulated bay: its controls and opening texts,
// a serial number typed into the box starting the run, the power-cycle wait
// on timer 112 and the write/read test on the window's runner.

#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/qt_environment.h"
#include "app/vxa_rma_page.h"
#include "support/sim_fixture.h"

namespace zorv::app {
namespace {

using test::pumpUntil;

// Records the message boxes instead of showing them.
class RecordingQtUi : public QtUserInterface {
 public:
  void messageBox(std::string_view text, BoxIcon, std::string_view) override {
    std::lock_guard<std::mutex> lock(mutex);
    boxes.emplace_back(text);
  }
  bool askYesNo(std::string_view text, std::string_view, BoxIcon) override {
    questions.emplace_back(text);
    return answer;
  }
  std::vector<std::string> questions;
  bool answer = false;
  std::vector<std::string> shown() {
    std::lock_guard<std::mutex> lock(mutex);
    return boxes;
  }
  std::mutex mutex;
  std::vector<std::string> boxes;
};

struct RmaPageFixture : ::testing::Test {
  RmaPageFixture()
      : paneBox(QtMessageSink::makeTextBox(nullptr)),
        pane(paneBox),
        runner(sim.ctx(), driveList),
        services{sim.ctx(), ui, pane, driveList, nullptr, runner, sim.dir.file("mountinfo")},
        page(services) {
    sim.ctx().setMessagePane(pane);
    page.station().options().reportDirectory = sim.dir.path();
    page.station().options().range.totalLength = 0x800;
  }
  ~RmaPageFixture() override {
    runner.wait();
    delete paneBox;
  }
  std::string report() {
    std::ifstream in(sim.dir.file(rma::reportFileName(sim.clock.utcTime())), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  test::SimFixture sim{0};
  RecordingQtUi ui;
  QPlainTextEdit* paneBox;
  QtMessageSink pane;
  DriveListModel driveList;
  OperationRunner runner;
  PageServices services;
  CVxaRma page;
};

TEST_F(RmaPageFixture, OpensWithItsControlsAndTexts) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::vector<RegisteredPage> pages = registeredPages();
  EXPECT_TRUE(std::any_of(pages.begin(), pages.end(),
                          [](const RegisteredPage& p) { return p.title == std::string("RMA"); }));
  EXPECT_EQ(page.runButton()->text(), "F2 = RUN");
  EXPECT_EQ(page.reflashButton()->text(), "Reflash Drive (IRST)");
  EXPECT_EQ(page.serialBox()->text(), "");
  EXPECT_EQ(page.timeLeftBox()->text(), "");
  EXPECT_EQ(page.powerCycleTimer()->interval(), 1000);
  EXPECT_FALSE(page.powerCycleTimer()->isActive());
  pumpUntil([&] { return page.boxSink().text().contains("Time Interval: 200 Sec"); });
  EXPECT_TRUE(
      page.boxSink().text().startsWith("Please Input Serial Number First\n<<Press F1 Select Input Edit>>\n"));
}

TEST_F(RmaPageFixture, ATypedSerialNumberRunsTheStationToItsVerdict) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  QTest::keyClicks(page.serialBox(), "ob2310a0041");
  EXPECT_EQ(page.station().phase(), rma::RmaPhase::Idle);
  QTest::keyClicks(page.serialBox(), "7");
  EXPECT_EQ(page.station().phase(), rma::RmaPhase::WaitingForPowerCycle);
  EXPECT_TRUE(page.powerCycleTimer()->isActive());
  // Neither the box nor F2 starts a second run.
  page.runButton()->click();
  QTest::keyClick(page.serialBox(), Qt::Key_F2);
  EXPECT_EQ(page.station().phase(), rma::RmaPhase::WaitingForPowerCycle);

  page.onPowerCycleTick();
  EXPECT_EQ(page.timeLeftBox()->text(), "Time Left: 3 min, 19 sec");
  std::string error;
  ASSERT_TRUE(sim.bay->powerCycle(0, error)) << error;
  page.onPowerCycleTick();
  EXPECT_FALSE(page.powerCycleTimer()->isActive());
  EXPECT_EQ(page.timeLeftBox()->text(), "");
  ASSERT_TRUE(pumpUntil([&] { return page.station().lastVerdict().has_value() && !runner.running(); }))
      << page.boxSink().text().toStdString();
  EXPECT_TRUE(page.station().lastVerdict()->passed) << page.boxSink().text().toStdString();
  EXPECT_EQ(report(),
            rma::reportHeader() +
                "ORBENNEPA256SSD,OB2310A00417,Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Pass,\r\n");
  pumpUntil([&] { return page.boxSink().text().endsWith("Testing Pass\n"); });
  EXPECT_TRUE(page.boxSink().text().contains("Clean RMA Flag\nTesting Read/Write\n"))
      << page.boxSink().text().toStdString();
  // The boxes go through the context's user interface.
  ASSERT_FALSE(sim.ui.boxes.empty());
  EXPECT_EQ(sim.ui.boxes.back().text, "Pass");
}

// While another operation holds the drive the station does not start.
TEST_F(RmaPageFixture, AnotherOperationKeepsTheStationFromStarting) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  bool started = runner.runHere([&] {
    page.serialBox()->setText("OB2310A00417");
    EXPECT_EQ(page.station().phase(), rma::RmaPhase::Idle);
  });
  ASSERT_TRUE(started);
  pumpUntil([&] { return page.boxSink().text().contains("Another operation is using the drive"); });
  EXPECT_TRUE(page.boxSink().text().contains("Another operation is using the drive"));
}

// "Make RMA Variant" writes a copy of the chosen program with the chosen letter.
TEST_F(RmaPageFixture, MakesACopyWithAnotherVariantLetter) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  EXPECT_EQ(page.variantBox()->currentText(), "A");
  std::string program = "tool " + std::string("FALLOW") + "MEREA rest";
  const std::string in = sim.dir.file("tool"), out = sim.dir.file("tool B");
  std::ofstream(in, std::ios::binary) << program;
  page.variantBox()->setCurrentText("B");
  sim.ui.files = {in, out};
  page.makeVariantButton()->click();
  std::ifstream copy(out, std::ios::binary);
  std::ostringstream bytes;
  bytes << copy.rdbuf();
  EXPECT_EQ(bytes.str(), "tool " + std::string("FALLOW") + "MEREB rest");
  pumpUntil([&] { return page.boxSink().text().contains("Set RMA Variant Done"); });
  EXPECT_TRUE(page.boxSink().text().endsWith("Set RMA Variant Done\n"))
      << page.boxSink().text().toStdString();
}

// A real device as far as the station can tell.
class NamedLinuxPort : public DevicePort {
 public:
  explicit NamedLinuxPort(DevicePort& inner) : inner_(inner) {}
  std::string_view name() const override { return "linux"; }
  std::string physicalDrivePath(int n) const override { return inner_.physicalDrivePath(n); }
  IoOutcome queryBusType(const std::string& path, uint8_t& bus) override {
    return inner_.queryBusType(path, bus);
  }
  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& r) override {
    ++ataCommands;
    return inner_.ataPassThrough(path, r);
  }
  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& r) override {
    return inner_.scsiPassThrough(path, r);
  }
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& r) override {
    return inner_.submitQueued(path, slot, r);
  }
  SlotState pollSlot(int slot) override { return inner_.pollSlot(slot); }
  void drainQueue() override { inner_.drainQueue(); }
  int ataCommands = 0;

 private:
  DevicePort& inner_;
};

// On a real device the station writes only after the operator has agreed
// to lose the data of the test range; the question is asked once.
TEST_F(RmaPageFixture, ARealDeviceNeedsTheOperatorsConsent) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  NamedLinuxPort linux(*sim.port);
  sim.ctx().port = &linux;
  page.serialBox()->setText("O");
  page.serialBox()->setText("OB");
  EXPECT_EQ(ui.questions.size(), 1u) << "a scanner's characters do not ask again";
  EXPECT_EQ(linux.ataCommands, 0);
  EXPECT_FALSE(page.station().options().permission.userConsent);
  EXPECT_TRUE(
      page.boxSink().text().contains("Not started: the RMA test writes the drive only with your consent"));
  ui.answer = true;
  page.runButton()->click();  // F2 asks again
  EXPECT_EQ(ui.questions.size(), 2u);
  EXPECT_TRUE(page.station().options().permission.userConsent);
  EXPECT_GT(linux.ataCommands, 0);  // IDENTIFY: the operator is still typing
  page.serialBox()->setText("OB2");
  EXPECT_EQ(ui.questions.size(), 2u);
  sim.ctx().port = sim.port.get();
}

}  // namespace
}  // namespace zorv::app
