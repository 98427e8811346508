// The diagnostics console without its window: inputs prepared per row, runs
// with one or two passes, run logs and the report, the address slider and
// the timed runs on an injected clock.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "fake_drive.h"
#include "diagnostics/diagnostics_console.h"
#include "diagnostics/smart.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using C = DevInfoControl;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A drive that answers the vendor query with an Info SSD record and SMART
// READ DATA with a few attributes.
struct ConsoleFixture : ::testing::Test {
  ConsoleFixture() : tc(port), drive(port), console(tc.ctx, raw) {
    DriveEntry& e = tc.ctx.DriveTable[0];
    e.strModel = "ORBENNEPA256";
    e.strSerial = "SN00C0FFEE";
    e.ulSectorsLo = 500118192;
    e.ulSectorsHi = 0;
    e.usModelClass = 0;
    drive.respond = [](const AtaPassThroughRequest& r) {
      std::vector<uint8_t> reply(512, 0);
      if (r.currentTaskFile[6] == 0xE4) {
        reply[200] = 0x00; reply[201] = 0x00; reply[202] = 0x12; reply[203] = 0x34;
      } else if (r.currentTaskFile[6] == 0xB0) {
        const uint8_t temp[12] = {0xC2, 0x22, 0x00, 0x2A, 0x3C, 0x2A, 0, 0, 0, 0, 0, 0};
        std::copy(temp, temp + 12, reply.begin() + 2);
        reply[511] = smartChecksum(reply);
      }
      return reply;
    };
    dir = tempDir.path();
    console.setDirectory(dir);
  }

  test::RecordingPort port;
  test::TestContext tc;
  test::FakeDrive drive;
  StringSink raw;
  DiagnosticsConsole console;
  test::TempDir tempDir;  // unique per test, removed at the end
  fs::path dir;
};

TEST_F(ConsoleFixture, StartsWithRowZeroAndTheInputsLocked) {
  DevInfoState s = console.state();
  EXPECT_EQ(s.command, 0);
  EXPECT_TRUE(s.isEnabled(C::GetDevInfo));
  EXPECT_TRUE(s.isEnabled(C::TimeTrigger));
  EXPECT_TRUE(s.isEnabled(C::Command));
  EXPECT_FALSE(s.isEnabled(C::SecondCommand));
  EXPECT_FALSE(s.isEnabled(C::Map));
  EXPECT_FALSE(s.isEnabled(C::StartPpn));
  EXPECT_FALSE(s.isEnabled(C::Slider));
  EXPECT_FALSE(s.isEnabled(C::IndirectComplement));
  EXPECT_TRUE(s.indirectComplement);
}

struct Preparation {
  int row;
  uint16_t modelClass;
  std::vector<C> enabled;
  std::string startPpn, endPpn, map, channel, raid;
};

TEST_F(ConsoleFixture, EachRowPreparesItsInputs) {
  const C group[] = {C::StartPpn, C::EndPpn, C::Channel, C::Chip, C::Raid, C::Die, C::Plane, C::Block,
                     C::Page, C::Count, C::Static, C::StartMemory, C::MemoryLength, C::Map, C::Slider, C::Address};
  const std::vector<Preparation> cases = {
      {1, 0, {C::Map, C::StartPpn}, "200", "", "00", "", ""},
      {2, 0, {C::Map, C::StartPpn, C::EndPpn}, "0", "1F", "00", "", ""},
      {4, 0, {C::Channel, C::Chip, C::Die, C::Plane, C::Block}, "", "", "", "0", ""},
      {4, 1, {C::Raid, C::Block}, "", "", "", "", "0"},
      {6, 0, {C::Channel, C::Chip, C::Die, C::Plane}, "", "", "", "0", ""},
      {9, 0, {C::StartMemory, C::MemoryLength}, "", "", "", "", ""},
      {34, 0, {C::Slider, C::Address}, "", "", "", "", ""},
      {0, 0, {}, "", "", "", "", ""},
  };
  for (const Preparation& p : cases) {
    SCOPED_TRACE("row " + std::to_string(p.row));
    tc.ctx.DriveTable[0].usModelClass = p.modelClass;
    console.editInputs([](DiagInputs& in) { in = DiagInputs{}; });
    console.onCommandChanged(p.row);
    DevInfoState s = console.state();
    for (C c : group) {
      bool want = std::find(p.enabled.begin(), p.enabled.end(), c) != p.enabled.end();
      EXPECT_EQ(s.isEnabled(c), want) << static_cast<int>(c);
    }
    EXPECT_EQ(s.inputs.startPpn, p.startPpn);
    EXPECT_EQ(s.inputs.endPpn, p.endPpn);
    EXPECT_EQ(s.inputs.map, p.map);
    EXPECT_EQ(s.inputs.channel, p.channel);
    EXPECT_EQ(s.inputs.raid, p.raid);
    EXPECT_EQ(s.mapChoices.size(), p.map.empty() ? 0u : 2u);
  }
}

TEST_F(ConsoleFixture, TwoPassRunLogsInfoSsdThenSmartAndTheReportCarriesSerialAndCapacity) {
  console.onCommandChanged(0);
  console.onSecondDumpToggled(true);
  console.onSecondCommandChanged(19);
  console.onMakeReportToggled(true);
  auto result = console.RunDiagnostics();
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->commandFailed) << tc.pane.text();
  EXPECT_TRUE(result->runLogWritten);
  ASSERT_TRUE(result->report);
  EXPECT_TRUE(result->report->reportWritable);
  ASSERT_EQ(result->passes.size(), 2u);
  EXPECT_TRUE(result->passes[0].infoSsd);
  EXPECT_TRUE(result->passes[1].smartData);
  EXPECT_EQ(result->runLogName, "InfoDumpLog1210093015.txt");
  EXPECT_EQ(result->runText.rfind("ORBENNEPA256 SN00C0FFEE 238G SATA\r\nPCBA PN    : ", 0), 0u);
  size_t info = result->runText.find("Total   Read : ");
  size_t smart = result->runText.find("ID:       C2,Temperature");
  EXPECT_LT(info, smart);
  EXPECT_NE(raw.text().find("S.M.A.R.T. Read Success\r\n"), std::string::npos);

  // The report consumed the run log.
  EXPECT_FALSE(fs::exists(dir / result->runLogName));
  std::string report = readFile(dir / "DevinfoAndSmartReport1210.csv");
  std::string record = report.substr(report.find("\r\n") + 2);
  EXPECT_EQ(record.rfind("InfoDumpLog1210093015.txt,1210093015,SN00C0FFEE,238G,", 0), 0u) << record;
  EXPECT_NE(record.find(",0x0000 1234 ,"), std::string::npos);
  EXPECT_NE(record.find(",0x2A,0x3C,"), std::string::npos);

  // After the run the controls are back.
  DevInfoState s = console.state();
  EXPECT_FALSE(s.running);
  EXPECT_TRUE(s.isEnabled(C::GetDevInfo));
  EXPECT_TRUE(s.isEnabled(C::Command));
  EXPECT_TRUE(s.isEnabled(C::SecondCommand));
}

TEST_F(ConsoleFixture, AReplyThatWasNotReadIsReportedNotDecoded) {
  struct Case {
    size_t row;
    uint8_t failing;  // the command that completes with an error
    std::string_view failure;
    std::string_view decoded;  // what a decoded reply would have shown
  };
  const Case cases[] = {
      {0, 0xE4, "30 Info SSD Fail: the drive did not answer\r\n", "Total   Read : "},
      {19, 0xB0, "S.M.A.R.T. Read Fail: the drive did not answer\r\n", "ID:"},
      {7, 0xE4, "38 Flash ID Fail: the drive did not answer\r\n", "Chan Num: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    raw.clear();
    drive.failCommand = c.failing;
    console.onCommandChanged(static_cast<int>(c.row));
    auto result = console.RunDiagnostics();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->commandFailed);
    EXPECT_NE(raw.text().find(c.failure), std::string::npos) << raw.text();
    EXPECT_EQ(raw.text().find(c.decoded), std::string::npos) << raw.text();
    EXPECT_EQ(result->runText.find(c.decoded), std::string::npos);
    EXPECT_FALSE(result->passes[0].infoSsd);
    EXPECT_FALSE(result->passes[0].smartData);
  }
}

TEST_F(ConsoleFixture, TheSameRowTwiceGoesTwiceIntoOneRunLog) {
  console.onCommandChanged(14);
  console.onSecondDumpToggled(true);
  console.onSecondCommandChanged(14);
  auto result = console.RunDiagnostics();
  ASSERT_TRUE(result);
  EXPECT_EQ(readFile(dir / result->runLogName),
            "ORBENNEPA256 SN00C0FFEE 238G SATA\r\nSMART UDATA initialize Done\r\nSMART UDATA initialize Done\r\n");
  EXPECT_EQ(drive.sent.size(), 2u);
}

TEST_F(ConsoleFixture, ARunUsesTheBoxesAsTypedAndLocksThemMeanwhile) {
  console.onCommandChanged(1);
  console.editInputs([](DiagInputs& in) { in.startPpn = "ABCD"; });
  console.onMapChanged(1);
  DevInfoState during;
  console.setRunStarter([&](std::function<void()> body) {
    during = console.state();
    body();
    return true;
  });
  ASSERT_TRUE(console.onGetDevInfo());
  EXPECT_TRUE(during.running);
  ASSERT_FALSE(drive.sent.empty());
  EXPECT_EQ(drive.sent[0].dataOut[18], 0xAB);
  EXPECT_EQ(drive.sent[0].dataOut[19], 0xCD);
  EXPECT_EQ(drive.sent[0].dataOut[20], 0x01);
}

TEST_F(ConsoleFixture, GetMaxAddressFillsTheAddressBox) {
  drive.returnedLba = std::array<uint8_t, 6>{0, 0, 0x1D, 0x1C, 0x56, 0xAF};
  console.onCommandChanged(33);
  console.RunDiagnostics();
  EXPECT_EQ(console.state().inputs.address, "00001D1C56AFH");
}

TEST_F(ConsoleFixture, ARunLogThatCannotBeWrittenShowsTheSystemError) {
  console.setDirectory(dir / "missing");
  auto result = console.RunDiagnostics();
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->runLogWritten);
  ASSERT_EQ(tc.ui.boxes.size(), 1u);
  EXPECT_EQ(tc.ui.boxes[0].text, "No such file or directory");
}

TEST(SliderRule, TakesAShareOfTheSectorCount) {
  EXPECT_EQ(sliderAddress(50, 1000), 500u);
  EXPECT_EQ(sliderAddress(0, 1000), 10u);          // position 0 reads as 1
  // Full capacity is the native max address, one below the sector count.
  EXPECT_EQ(sliderAddress(100, 500118192), 500118191u);
  EXPECT_EQ(sliderAddress(99, 1000), 990u);
  EXPECT_EQ(sliderAddress(60, 7814037168ull), 4688422300ull);  // above 32 bits
  EXPECT_EQ(sliderAddress(50, 0), 0u);
}

TEST_F(ConsoleFixture, TheFirstTickSetsUpTheSlider) {
  console.onTimerTick();
  DevInfoState s = console.state();
  EXPECT_EQ(s.sliderPosition, 100);
  EXPECT_EQ(s.sliderTick, 10);
  EXPECT_EQ(s.sliderLine, 20);
  EXPECT_EQ(s.inputs.address, "1DCF32AFH");
  EXPECT_EQ(s.percent, "100%");
  EXPECT_EQ(s.currentTime, "12/10 09:30:15");
  console.onSliderMoved(0);
  s = console.state();
  EXPECT_EQ(s.sliderPosition, 1);
  EXPECT_EQ(s.inputs.address, "4C4FDDH");  // 500118192 / 100
  EXPECT_EQ(s.percent, "1%");
}

TEST(SpanParts, RoundByHalfASecond) {
  SpanParts p = splitSpan(1.0 / 24 + 2.0 / 1440 + 3.0 / 86400);
  EXPECT_EQ(p.days, 0);
  EXPECT_EQ(p.hours, 1);
  EXPECT_EQ(p.minutes, 2);
  EXPECT_EQ(p.seconds, 3);
  EXPECT_TRUE(splitSpan(0.4 / 86400).zero());
  EXPECT_FALSE(splitSpan(0.6 / 86400).zero());
  EXPECT_EQ(splitSpan(100.0 / 24 + 100.0 / 1440).days, 4);
  EXPECT_TRUE(splitSpan(-1e-12).zero());
}

TEST_F(ConsoleFixture, ArmingCountsDownAndRunsWhenTheSpanIsOver) {
  console.onCommandChanged(14);
  console.onMinutesChanged(1);
  console.onTimerTick();
  raw.clear();
  console.onTimeTrigger();
  EXPECT_EQ(raw.take(), "Current Time: Y: 2026, M: 12, D: 10, H: 09, m: 30, s: 15\r\n"
                        "Span Day: 0, Hour: 0, Mins: 01, Sec:0\r\n\r\n");
  DevInfoState s = console.state();
  EXPECT_TRUE(s.armed);
  EXPECT_FALSE(s.isEnabled(C::GetDevInfo));
  EXPECT_FALSE(s.isEnabled(C::Command));
  EXPECT_FALSE(console.onGetDevInfo());

  std::vector<std::string> shown;
  for (int tick = 1; tick <= 60; ++tick) {
    tc.clock.advance(std::chrono::seconds(1));
    console.onTimerTick();
    shown.push_back(console.state().timeLeft);
  }
  EXPECT_EQ(shown[0], "Day: 0, Hur: 0, Min: 1, Sec: 0");
  EXPECT_EQ(shown[1], "Day: 0, Hur: 0, Min: 0, Sec: 59");
  EXPECT_EQ(shown[59], "Day: 0, Hur: 0, Min: 0, Sec: 1");
  EXPECT_TRUE(drive.sent.empty());
  tc.clock.advance(std::chrono::seconds(1));
  console.onTimerTick();
  ASSERT_EQ(drive.sent.size(), 1u);
  auto run = console.lastRun();
  ASSERT_TRUE(run);
  EXPECT_EQ(run->runLogName, "InfoDumpLog1210093116.txt");
  std::string pane = raw.take();
  EXPECT_NE(pane.find("SMART UDATA initialize Done\r\nCurrent Time: Y: 2026, M: 12, D: 10, H: 09, m: 31, s: 16\r\n"
                      "Span Day: 0, Hour: 0, Mins: 01, Sec:0\r\n\r\n"),
            std::string::npos);
  // Still armed, counting again; the run left "Get Dev Info" off.
  s = console.state();
  EXPECT_TRUE(s.armed);
  EXPECT_FALSE(s.isEnabled(C::GetDevInfo));
  EXPECT_TRUE(s.isEnabled(C::TimeTrigger));
  EXPECT_NEAR(console.countdown(), 1.0 / 1440, 1e-12);

  console.onTimeTrigger();  // disarm
  s = console.state();
  EXPECT_FALSE(s.armed);
  EXPECT_TRUE(s.isEnabled(C::GetDevInfo));
  EXPECT_TRUE(s.isEnabled(C::Command));
  EXPECT_EQ(s.timeLeft, "");
}

TEST_F(ConsoleFixture, TimedRunsKeepTheMapChoiceOfEveryRun) {
  console.onCommandChanged(1);
  console.onMapChanged(1);  // "01": the table
  console.onMinutesChanged(1);
  console.onTimeTrigger();  // armed: a run every minute
  for (int tick = 0; tick < 3 * 61; ++tick) {
    tc.clock.advance(std::chrono::seconds(1));
    console.onTimerTick();
  }
  std::vector<uint8_t> mapBytes;
  for (const auto& c : drive.sent) {
    if (c.command() == 0xE8) mapBytes.push_back(c.dataOut[20]);
  }
  EXPECT_EQ(mapBytes, (std::vector<uint8_t>{1, 1, 1}));
  DevInfoState s = console.state();
  EXPECT_EQ(s.inputs.map, "01");
  EXPECT_EQ(s.mapChoices, (std::vector<std::string>{"00", "01"}));
}

TEST_F(ConsoleFixture, RefusedInputMakesTheRunUnusableNotFailed) {
  console.onCommandChanged(9);  // memory dump, boxes empty
  auto result = console.RunDiagnostics();
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->inputRefused);
  EXPECT_FALSE(result->commandFailed);
  EXPECT_FALSE(result->ok());
  EXPECT_TRUE(drive.sent.empty());
}

TEST_F(ConsoleFixture, MemoryDumpRefusesJunkAndRangesPastTheMemorySpace) {
  struct Case {
    const char* start;
    const char* length;
    const char* said;
  };
  const Case cases[] = {
      {"XYZ!g", "200", "Error.... Start Memory is not a hexadecimal number\r\n"},
      {"ZZ10", "200", "Error.... Start Memory is not a hexadecimal number\r\n"},
      {"1000", "20G", "Error.... Memory Length is not a hexadecimal number\r\n"},
      {"1000", "FFFFFFFFFFFF",
       "Error.... Memory Length goes past the controller's 32-bit memory space (FFFFFFFFh)\r\n"},
      {"100000000", "200", "Error.... Start Memory goes past the controller's 32-bit memory space (FFFFFFFFh)\r\n"},
      {"FFFFFFFF", "FFFF", "Error.... Memory Length goes past the controller's 32-bit memory space (FFFFFFFFh)\r\n"},
      {"", "200", "Error.... Input Empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start + std::string(" ") + c.length);
    raw.clear();
    console.onCommandChanged(9);  // "50 Memory Dump"
    console.editInputs([&](DiagInputs& in) {
      in.startMemory = c.start;
      in.memoryLength = c.length;
    });
    auto result = console.RunDiagnostics();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->inputRefused);
    EXPECT_NE(raw.text().find(c.said), std::string::npos) << raw.text();
    EXPECT_TRUE(drive.sent.empty());
  }
  // The last 200h bytes of the space are a range the controller has.
  console.onCommandChanged(9);
  console.editInputs([](DiagInputs& in) {
    in.startMemory = "0xFFFFFE00";
    in.memoryLength = "200";
  });
  auto result = console.RunDiagnostics();
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->inputRefused);
  EXPECT_FALSE(drive.sent.empty());
}

TEST_F(ConsoleFixture, AZeroPeriodIsRefusedAndATimedRunCanBeDisarmedWhileItRuns) {
  console.onCommandChanged(14);
  console.onTimerTick();
  raw.clear();
  console.onTimeTrigger();  // Hours = Minutes = 0
  EXPECT_EQ(raw.take(), kZeroPeriodRefusedText);
  EXPECT_FALSE(console.state().armed);
  EXPECT_TRUE(console.state().isEnabled(C::GetDevInfo));
  console.onTimerTick();
  console.onTimerTick();
  EXPECT_TRUE(drive.sent.empty());

  std::vector<std::function<void()>> pending;
  console.setRunStarter([&](std::function<void()> body) {
    pending.push_back(std::move(body));
    return true;
  });
  console.onMinutesChanged(1);
  console.onTimeTrigger();
  ASSERT_TRUE(console.state().armed);
  auto tickFor = [&](int seconds) {
    for (int i = 0; i < seconds; ++i) {
      tc.clock.advance(std::chrono::seconds(1));
      console.onTimerTick();
    }
  };
  tickFor(61);
  ASSERT_EQ(pending.size(), 1u);
  tickFor(61);  // the first timed run has not finished: the next one is skipped
  ASSERT_EQ(pending.size(), 1u);

  // The button stays usable during the timed run, and disarms.
  EXPECT_TRUE(console.state().isEnabled(C::TimeTrigger));
  console.onTimeTrigger();
  EXPECT_FALSE(console.state().armed);
  pending[0]();
  EXPECT_EQ(drive.sent.size(), 1u);
  DevInfoState s = console.state();
  EXPECT_FALSE(s.running);
  EXPECT_FALSE(s.armed);
  EXPECT_TRUE(s.isEnabled(C::GetDevInfo));
  EXPECT_TRUE(s.isEnabled(C::TimeTrigger));
  tickFor(130);
  EXPECT_EQ(pending.size(), 1u);
}

TEST_F(ConsoleFixture, AWorkerRunAndTheTimerShareTheStateSafely) {
  std::thread worker;
  console.setRunStarter([&](std::function<void()> body) {
    worker = std::thread(std::move(body));
    return true;
  });
  std::atomic<int> changes{0};
  console.setChangeListener([&] { ++changes; });
  console.onCommandChanged(0);
  console.onSecondDumpToggled(true);
  console.onSecondCommandChanged(19);
  ASSERT_TRUE(console.onGetDevInfo());
  for (int i = 0; i < 200 && (console.state().running || !console.lastRun()); ++i) {
    console.onTimerTick();
    console.editInputs([](DiagInputs& in) { in.block = "1"; });
  }
  worker.join();
  EXPECT_TRUE(console.lastRun());
  EXPECT_FALSE(console.state().running);
  EXPECT_EQ(tc.ctx.fgBusy, 0);
  EXPECT_GT(changes.load(), 2);
}

TEST_F(ConsoleFixture, ARunItsStarterCannotPlaceLeavesTheConsoleIdle) {
  console.onCommandChanged(14);
  // The window's runner refuses while another operation holds the drive.
  console.setRunStarter([](std::function<void()>) { return false; });
  EXPECT_FALSE(console.onGetDevInfo());
  EXPECT_FALSE(console.state().running);
  EXPECT_TRUE(console.state().isEnabled(DevInfoControl::GetDevInfo));
  EXPECT_TRUE(drive.sent.empty());
  EXPECT_EQ(tc.ctx.fgBusy, 0);

  console.setRunStarter([](std::function<void()> body) {
    body();
    return true;
  });
  EXPECT_TRUE(console.onGetDevInfo());
  EXPECT_FALSE(drive.sent.empty());
  EXPECT_FALSE(console.state().running);
}

TEST_F(ConsoleFixture, AStoppedDumpEndsTheRunBeforeItsSecondPass) {
  console.onCommandChanged(9);  // "50 Memory Dump"
  console.editInputs([](DiagInputs& in) {
    in.startMemory = "1000";
    in.memoryLength = "20000";  // two chunks
  });
  console.onSecondDumpToggled(true);
  console.onSecondCommandChanged(14);
  auto answer = drive.respond;
  int reads = 0;
  drive.respond = [&](const AtaPassThroughRequest& r) {
    // The operator stops the run during the first chunk.
    if (r.currentTaskFile[6] == 0xE4 && ++reads == 10) tc.ctx.fgStopRequest = 1;
    return answer(r);
  };
  auto result = console.RunDiagnostics();
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->stopped);
  EXPECT_FALSE(result->ok());
  EXPECT_EQ(result->passes.size(), 1u);
  EXPECT_EQ(reads, 128);
  EXPECT_NE(readFile(dir / result->runLogName).find("STOP!\r\nFile Name is:\r\nMemDmp_"), std::string::npos);
}

TEST_F(ConsoleFixture, NoRunWithoutADriveAndThePaneSaysWhy) {
  tc.ctx.ucSelDrive = kNoDrive;
  tc.ctx.ucDriveCount = kNoDrive;
  EXPECT_FALSE(console.onGetDevInfo());
  EXPECT_FALSE(console.RunDiagnostics());
  EXPECT_EQ(raw.text(), "No drive is selected\r\nNo drive is selected\r\n");
  EXPECT_TRUE(drive.sent.empty());
  EXPECT_FALSE(console.state().running);
  EXPECT_EQ(tc.ctx.fgBusy, 0);
}

TEST_F(ConsoleFixture, NoRunWhileAnotherOperationHoldsTheDrive) {
  tc.ctx.fgBusy = 1;
  EXPECT_FALSE(console.RunDiagnostics());
  EXPECT_FALSE(console.onGetDevInfo());
  EXPECT_TRUE(drive.sent.empty());
}

}  // namespace
}  // namespace zorv
