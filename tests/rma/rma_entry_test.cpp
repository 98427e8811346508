// How a run starts and what it leaves behind: the serial-number box, one run
// at a time, the day's report, and the firmware step of variant 'B'.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "firmware/updater.h"
#include "firmware_download/fwdl_support.h"
#include "rma/rma_errors.h"
#include "rma/station_run.h"
#include "sim/sim_drive.h"

namespace zorv::rmatest {
namespace {

using rma::RunStart;

const std::string kPassRest = "Pass,Pass,Pass,Pass,Remain,Pass,Pass,Pass,Pass,Pass,\r\n";

TEST(RmaEntry, TheOpeningTextsShowTheDefaults) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  r.station();
  EXPECT_EQ(
      r.box.text(),
      "Please Input Serial Number First\r\n<<Press F1 Select Input Edit>>\r\n<<Press F2 Force Run "
      "Process>>\r\n"
      "In Intel Rapid Storage Technology Drive.......\r\nPlease reflash drive manually before procedure\r\n"
      "Write LBA Start: 0x1000\r\nWrite Total Length: 0x800\r\nWrite Length: 0x80\r\n"
      "RmaTime: 10\r\nBBLife:  30\r\nPELife:  30\r\nWorstTemp: 100\r\nAvgEC:   70\r\nTotalWrtGB: 70\r\n"
      "POH: 1825\r\nTime Interval: 200 Sec\r\n");
}

// A scanner or a person types one character at a time: every change of the
// box calls runRma, and only the full length starts the run.
TEST(RmaEntry, TypingStartsTheRunAtTheSerialNumbersLength) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  const std::string serial = "ob2310a00417";
  r.station();
  const std::string opening = r.box.text();
  for (size_t n = 0; n < serial.size(); ++n) {
    EXPECT_EQ(r.enter(serial.substr(0, n)), RunStart::StillTyping) << n;
    EXPECT_EQ(r.station().phase(), rma::RmaPhase::Idle);
  }
  EXPECT_EQ(r.box.text(), opening) << "nothing is said while the operator types";
  EXPECT_EQ(r.enter(serial), RunStart::Started);
  EXPECT_EQ(r.station().phase(), rma::RmaPhase::WaitingForPowerCycle);
  // One run at a time: neither the box nor F2 starts another.
  EXPECT_EQ(r.enter(serial), RunStart::Busy);
  EXPECT_EQ(r.enter(serial + "x"), RunStart::Busy);
  EXPECT_EQ(r.station().phase(), rma::RmaPhase::WaitingForPowerCycle);
}

TEST(RmaEntry, ALowerCaseSerialMatchesTheDrivesUpperCaseOne) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  std::optional<rma::RmaVerdict> v = r.runThrough("Ob2310a00417");
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->passed) << r.box.text();
  EXPECT_EQ(r.station().serialNumber(), kSerial);
  EXPECT_EQ(r.station().modelName(), "ORBENNEPA256SSD");
}

// A mismatch is a verdict: its line carries what was entered after the
// drive's model and serial number.
TEST(RmaEntry, AMismatchWritesItsLine) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  std::optional<rma::RmaVerdict> v = r.runThrough("OB2310A00418");
  ASSERT_TRUE(v);
  EXPECT_FALSE(v->passed);
  EXPECT_EQ(v->errorCode, rma::ulRMA_SNMMErr);
  EXPECT_EQ(r.report(), rma::reportHeader() + "ORBENNEPA256SSD,OB2310A00417,OB2310A00418,Fail\r\n");
  EXPECT_EQ(r.box.text(), "<<<< Error code 00280E00: ulRMA_SNMMErr >>>>\r\n");
  // Nothing was sent to the drive beyond IDENTIFY.
  r.onDrive([](sim::SimDrive& d) { EXPECT_FALSE(d.vendorState().contains("rma")); });
}

TEST(RmaEntry, ASerialNoDriveCanHaveIsNamedAndNothingIsSent) {
  for (const char* text : {"OB2310A0041\xC3\xA9", "OB2310A0\t417", "OB2310A00417OB2310A00417"}) {
    SCOPED_TRACE(text);
    StationRun r;
    ASSERT_TRUE(r.sim.ok()) << r.sim.error;
    r.station();
    r.box.clear();
    uint64_t before =
        r.sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { return d.counters().commands; });
    EXPECT_EQ(r.enter(text), RunStart::InvalidSerial);
    EXPECT_EQ(r.box.text(), "Serial Number Not Valid: letters, digits and marks only, at most 20\r\n");
    EXPECT_EQ(r.sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { return d.counters().commands; }),
              before);
    EXPECT_FALSE(std::filesystem::exists(r.reportPath()));
  }
  // Blanks are not part of a drive's serial number: they are dropped.
  EXPECT_EQ(rma::RmaStation::normalizedSerial(" ob23 10a00417 "), std::optional<std::string>("OB2310A00417"));
}

TEST(RmaEntry, NoDriveAndADriveThatDoesNotAnswer) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  r.sim.ctx().ucDriveCount = kNoDrive;
  r.sim.ctx().ucSelDrive = kNoDrive;
  EXPECT_EQ(r.enter(kSerial), RunStart::NoDrive);
  EXPECT_EQ(r.box.text(), "No Drive Found\r\n");
  ASSERT_TRUE(r.sim.select(0));
  std::string e;
  ASSERT_TRUE(r.sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0xEC}, e)) << e;
  EXPECT_EQ(r.enter(kSerial), RunStart::CommandError);
  EXPECT_EQ(r.box.text(), "No Drive Found\r\nDrive Command Error\r\n");
  EXPECT_FALSE(std::filesystem::exists(r.reportPath()));
  EXPECT_EQ(r.station().phase(), rma::RmaPhase::Idle);
}

TEST(RmaEntry, NoScriptWithoutRmaTime) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  r.options.limits.RmaTime = 0;
  EXPECT_EQ(r.enter(kSerial), RunStart::NoScript);
  EXPECT_EQ(r.box.text(), "Check Modelname and SN\r\nNo Script File\r\n");
  ASSERT_FALSE(r.sim.ui.boxes.empty());
  EXPECT_EQ(r.sim.ui.boxes.back().text, "No Script File");
  EXPECT_FALSE(std::filesystem::exists(r.reportPath()));
}

// The first run of the day makes the report with its header; later runs, by
// this station or another one, only append their lines.
TEST(RmaReport, TheHeaderIsWrittenOnceAndLinesAreAppended) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  EXPECT_EQ(rma::reportFileName(r.sim.clock.utcTime()), "RmaReport1210.csv");
  ASSERT_TRUE(r.runThrough(kSerial));
  ASSERT_TRUE(r.runThrough("OB2310A00418"));
  StationRun other;
  ASSERT_TRUE(other.sim.ok());
  other.options.reportDirectory = r.sim.dir.path();
  ASSERT_TRUE(other.runThrough(kSerial));
  const std::string line = "ORBENNEPA256SSD,OB2310A00417,";
  EXPECT_EQ(r.report(),
            rma::reportHeader() + line + kPassRest + line + "OB2310A00418,Fail\r\n" + line + kPassRest);
  EXPECT_EQ(
      rma::reportHeader(),
      "ModelName,Serial Number,Save SMART,Thermal,Merge TBL BB,Preb2,Update FW,Remove & Plug,Set RMA Flag,"
      "VC OBB,Clean RMA Flag,RD/WR test,\r\n");
}

// An empty file (a header write that never happened) gets the header; a
// file that cannot be written leaves the verdict standing and says so.
TEST(RmaReport, AnEmptyFileGetsTheHeaderAndAnUnwritableOneIsNamed) {
  StationRun r;
  ASSERT_TRUE(r.sim.ok()) << r.sim.error;
  { std::ofstream touch(r.reportPath()); }
  ASSERT_TRUE(r.runThrough(kSerial));
  EXPECT_EQ(r.report(), rma::reportHeader() + "ORBENNEPA256SSD,OB2310A00417," + kPassRest);

  StationRun blocked;
  ASSERT_TRUE(blocked.sim.ok());
  // A directory where the report should be: it cannot be opened for writing.
  std::filesystem::create_directory(blocked.reportPath());
  std::optional<rma::RmaVerdict> v = blocked.runThrough(kSerial);
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->passed);
  EXPECT_FALSE(v->report.written);
  EXPECT_NE(blocked.box.text().find("Testing Pass\r\nReport Not Written: " + blocked.reportPath() +
                                    ": cannot open"),
            std::string::npos)
      << blocked.box.text();
  ASSERT_GE(blocked.sim.ui.boxes.size(), 2u);
  EXPECT_EQ(blocked.sim.ui.boxes[blocked.sim.ui.boxes.size() - 2].text, "Pass");
  EXPECT_EQ(blocked.sim.ui.boxes.back().icon, BoxIcon::Exclamation);
}

// ---- Variant 'B': the firmware step, with the package appended to the
// program's own file.

struct VariantB {
  explicit VariantB(const std::vector<uint8_t>& appended, bool asPackage = true) {
    std::vector<uint8_t> exe(20000, 0x5C);
    std::vector<uint8_t> file = asPackage ? firmware::appendPackageBytes(exe, appended, 0x06) : exe;
    if (!asPackage) file.insert(file.end(), appended.begin(), appended.end());
    path = run.sim.dir.file("station program");
    fwdl::writeBytes(path, file);
    run.options.variant = 'B';
    run.options.ownPath = path;
  }
  // A package for the drive of slot 0 with the given image version.
  static std::vector<uint8_t> packageFor(sim::SimBay& bay, const std::string& version, bool ownHwid = true) {
    sim::DriveRecord d = fwdl::driveIn(bay, 0);
    firmware::PackageRow row;
    row.firmwareId = fwdl::hwidOf(d);
    if (!ownHwid) row.firmwareId[0] ^= 0xFF;
    row.firmwareId.resize(16, 0);
    row.modelName = "PA256";
    row.image = fwdl::imageFor(bay, 0, version);
    return fwdl::packageOf(1, {row});
  }
  std::string firmware() { return fwdl::driveIn(*run.sim.bay, 0).identity.firmware; }

  StationRun run;
  std::string path;
};

TEST(RmaFirmware, VariantBUpdatesFromTheAppendedPackage) {
  StationRun probe;
  ASSERT_TRUE(probe.sim.ok());
  VariantB b(VariantB::packageFor(*probe.sim.bay, "S1108A"));
  ASSERT_TRUE(b.run.sim.ok()) << b.run.sim.error;
  std::optional<rma::RmaVerdict> v = b.run.runThrough(kSerial);
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->passed) << b.run.box.text();
  EXPECT_EQ(v->reportLine,
            "ORBENNEPA256SSD,OB2310A00417,Pass,Pass,Pass,Pass,Updated,Pass,Pass,Pass,Pass,Pass,\r\n");
  EXPECT_EQ(b.firmware().substr(0, 6), "S1108A");
  EXPECT_NE(b.run.box.text().find("Check Preb2\r\nUpdate FW, Please Wait.........\r\nUpdate FW Success\r\n"
                                  "<<<<Please Remove Drive then Plug Again>>>>\r\n"
                                  "<<<<Please Power Down Drive then Plug Again>>>>\r\n"),
            std::string::npos)
      << b.run.box.text();
  EXPECT_EQ(b.run.sim.ctx().ucMsgMode.load(), kMsgModeNormal);
}

TEST(RmaFirmware, ADriveThatRunsThePackagesVersionIsPassedBy) {
  StationRun probe;
  ASSERT_TRUE(probe.sim.ok());
  VariantB b(VariantB::packageFor(*probe.sim.bay, "S1107A"));
  ASSERT_TRUE(b.run.sim.ok());
  std::optional<rma::RmaVerdict> v = b.run.runThrough(kSerial);
  ASSERT_TRUE(v && v->passed) << b.run.box.text();
  EXPECT_EQ(v->reportLine,
            "ORBENNEPA256SSD,OB2310A00417,Pass,Pass,Pass,Pass,ByPass,Pass,Pass,Pass,Pass,Pass,\r\n");
  EXPECT_NE(b.run.box.text().find("By Pass Update FW\r\n<<<<Please Remove Drive then Plug Again>>>>\r\n"),
            std::string::npos);
}

// Only a download the drive verifiably took counts as "Updated,".
TEST(RmaFirmware, AFailedUpdateEndsTheRun) {
  StationRun probe;
  ASSERT_TRUE(probe.sim.ok());
  struct Case {
    const char* name;
    std::vector<uint8_t> package;
    std::function<void(StationRun&)> prepare;
  };
  std::vector<Case> cases = {
      {"no row for the drive", VariantB::packageFor(*probe.sim.bay, "S1108A", false), {}},
      {"every segment refused", VariantB::packageFor(*probe.sim.bay, "S1108A"),
       [](StationRun& r) {
         std::string e;
         r.sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x93, .count = 1000}, e);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VariantB b(c.package);
    ASSERT_TRUE(b.run.sim.ok());
    if (c.prepare) c.prepare(b.run);
    std::optional<rma::RmaVerdict> v = b.run.runThrough(kSerial);
    ASSERT_TRUE(v);
    EXPECT_FALSE(v->passed);
    EXPECT_EQ(v->errorCode, rma::ulRMA_DLFWErr);
    EXPECT_EQ(v->reportLine, "ORBENNEPA256SSD,OB2310A00417,Pass,Pass,Pass,Pass,Fail\r\n");
    EXPECT_NE(
        b.run.box.text().find("<<<<Update FW Fail>>>>\r\n<<<< Error code 00280600: ulRMA_DLFWErr >>>>\r\n"),
        std::string::npos)
        << b.run.box.text();
    EXPECT_EQ(b.firmware(), "S1107A0C");
  }
}

// A program without a usable package cannot update anything: the run ends
// with the decode error and no line, before the drive is asked for a power cycle.
TEST(RmaFirmware, APackageThatDoesNotDecodeEndsWithoutALine) {
  for (bool asPackage : {true, false}) {
    VariantB b(std::vector<uint8_t>(4000, 0x11), asPackage);
    ASSERT_TRUE(b.run.sim.ok());
    EXPECT_EQ(b.run.enter(kSerial), RunStart::Started);
    EXPECT_FALSE(b.run.station().lastVerdict());
    EXPECT_EQ(b.run.station().phase(), rma::RmaPhase::Idle);
    EXPECT_NE(
        b.run.box.text().find("Update FW, Please Wait.........\r\n<<<<Update FW Fail, Decode Error>>>>\r\n"),
        std::string::npos)
        << b.run.box.text();
    ASSERT_FALSE(b.run.sim.ui.boxes.empty());
    EXPECT_EQ(b.run.sim.ui.boxes.back().text, "<<<<Update FW Fail, Decode Error>>>>");
    EXPECT_EQ(b.run.sim.ctx().ucMsgMode.load(), kMsgModeNormal);
    EXPECT_FALSE(std::filesystem::exists(b.run.reportPath()));
  }
}

}  // namespace
}  // namespace zorv::rmatest
