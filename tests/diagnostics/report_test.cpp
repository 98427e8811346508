// Run logs and the report built from them: columns of both model classes,
// the order in which values are searched, consuming the run logs.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "diagnostics/info_ssd.h"
#include "diagnostics/report.h"
#include "diagnostics/smart.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

// A record whose report fields carry recognisable values.
InfoSsdRecord sampleRecord() {
  std::array<uint8_t, 512> b{};
  for (size_t i = 96; i < 240; ++i) b[i] = static_cast<uint8_t>(i);
  b[106] = 0x00; b[107] = 0x11;   // class 0 Min EC (TBL+Data) / class 1 Min EC (TLC)
  b[200] = 0x00; b[201] = 0x00; b[202] = 0x12; b[203] = 0x34;  // Total Read
  return InfoSsdRecord(b);
}

std::array<uint8_t, 512> sampleSmart() {
  std::array<uint8_t, 512> s{};
  const std::array<std::array<uint8_t, 12>, 5> recs = {{
      {0x09, 0x32, 0x00, 0x64, 0x64, 0x10, 0, 0, 0, 0, 0, 0},
      {0xC2, 0x22, 0x00, 0x2A, 0x3C, 0x2A, 0, 0, 0, 0, 0, 0},
      {0xE7, 0x13, 0x00, 0x5F, 0x5F, 0, 0, 0, 0, 0, 0, 0},
      {0xE9, 0x32, 0x00, 0x21, 0x21, 0, 0, 0, 0, 0, 0, 0},
      {0xEA, 0x32, 0x00, 0x22, 0x22, 0, 0, 0, 0, 0, 0, 0},
  }};
  for (size_t i = 0; i < recs.size(); ++i) std::copy(recs[i].begin(), recs[i].end(), s.begin() + 2 + 12 * i);
  s[511] = smartChecksum(s);
  return s;
}

std::string runLogText(uint16_t cls) {
  return "ORBENNEPA256 SN00C0FFEE 238G SATA\r\n" + DecodeInfoSsdFields(sampleRecord(), cls) +
         DecodeSmartData(sampleSmart());
}

TEST(ReportRecord, ClassZeroTakesInfoSsdThenSmartValues) {
  auto v = BuildReportValues("InfoDumpLog1210093015.txt", runLogText(0), 0);
  ASSERT_EQ(v.size(), ReportColumns(0).size());
  EXPECT_EQ(v[0], "InfoDumpLog1210093015.txt");
  EXPECT_EQ(v[1], "1210093015");
  EXPECT_EQ(v[2], "SN00C0FFEE");
  EXPECT_EQ(v[3], "238G");
  EXPECT_EQ(v[4], "0x0011 ");      // Ers(Min): "Min EC      (TBL+Data): "
  EXPECT_EQ(v[9], "0x0000 1234 "); // Tal Rd
  EXPECT_EQ(v[12], "0x2A");        // TempN
  EXPECT_EQ(v[13], "0x3C");        // TempW
  EXPECT_EQ(v[14], "0x5F");        // SSD Life
  EXPECT_EQ(v[15], "0x21");        // Flash Wr
  EXPECT_EQ(v[16], "0x22");        // Flash Rd
  EXPECT_EQ(BuildReportRecord("InfoDumpLog1210093015.txt", runLogText(0), 0).substr(0, 37),
            "InfoDumpLog1210093015.txt,1210093015,");
}

TEST(ReportRecord, ClassOneHasTwentyThreeColumns) {
  auto v = BuildReportValues("InfoDumpLog0101000000.txt", runLogText(1), 1);
  ASSERT_EQ(v.size(), 23u);
  EXPECT_EQ(v[7], "0x0011 ");      // TLC Ers(Min)
  EXPECT_EQ(v[15], "0x0000 1234 "); // Tal Rd
  EXPECT_EQ(v[18], "0x2A");
  EXPECT_EQ(v[22], "0x22");
  EXPECT_EQ(ReportHeaderLine(1).substr(0, 48), "FileName,Time,Serial,Capacity,L2 Ers(Min),L2 Ers");
}

TEST(ReportRecord, SmartValuesAreOnlyFoundAfterTheInfoSsdValues) {
  std::string smartFirst = "M S 1G SATA\r\n" + DecodeSmartData(sampleSmart()) + DecodeInfoSsdFields(sampleRecord(), 0);
  auto v = BuildReportValues("InfoDumpLog1.txt", smartFirst, 0);
  EXPECT_EQ(v[9], "0x0000 1234 ");
  for (size_t i = 12; i < 17; ++i) EXPECT_EQ(v[i], "") << i;
}

TEST(ReportRecord, MissingPiecesGiveEmptyColumnsAndGarbageIsHarmless) {
  auto v = BuildReportValues("x", "", 0);
  ASSERT_EQ(v.size(), 17u);
  for (const auto& s : v) EXPECT_LE(s.size(), 1u);
  const char garbage[] = "\0\0 \r\n Now:      ";
  auto w = BuildReportValues("InfoDumpLog", std::string(garbage, sizeof garbage - 1), 1);
  EXPECT_EQ(w.size(), 23u);
  // A description without a bus name: the capacity ends at the line end.
  auto u = BuildReportValues("InfoDumpLog1.txt", "M S 1G\r\nrest", 0);
  EXPECT_EQ(u[2], "S");
  EXPECT_EQ(u[3], "1G");
}

TEST(DriveDescription, DropsTheLeadingPhysicalDrivePrefix) {
  EXPECT_EQ(driveDescriptionFromListLine("Physical Drive 1 ORBENNEPA256 SN1 238G SATA"), "ORBENNEPA256 SN1 238G SATA");
  EXPECT_EQ(driveDescriptionFromListLine("Physical Drive 7 A B 1G USB"), "A B 1G USB");
  EXPECT_EQ(driveDescriptionFromListLine(""), "");
}

class ReportFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = tempDir.path();
    clock.valid = true;
    clock.time.tm_mon = 11;
    clock.time.tm_mday = 10;
    clock.time.tm_hour = 9;
    clock.time.tm_min = 30;
    clock.time.tm_sec = 15;
  }
  std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void writeLog(const std::string& name, const std::string& text) {
    std::string err;
    ASSERT_TRUE(AppendRunLog(dir / name, text, err)) << err;
  }
  test::TempDir tempDir;  // unique per test, removed at the end
  fs::path dir;
  DiagClockValue clock;
};

TEST_F(ReportFiles, NamesComeFromTheClock) {
  EXPECT_EQ(RunLogName(clock), "InfoDumpLog1210093015.txt");
  EXPECT_EQ(ReportName(clock), "DevinfoAndSmartReport1210.csv");
  EXPECT_EQ(RunLogName(DiagClockValue{}), "InfoDumpLog-1-1-1-1-1.txt");
}

TEST_F(ReportFiles, RunLogsAppendAndTheReportConsumesThemWithOneHeader) {
  writeLog("InfoDumpLog1210093015.txt", runLogText(0));
  writeLog("InfoDumpLog1210093015.txt", "second run in the same second\r\n");
  writeLog("InfoDumpLog1209080000.txt", runLogText(0));
  std::ofstream(dir / "Other.txt") << "kept";

  ReportOutcome first = MakeReport(dir, clock, 0);
  EXPECT_EQ(first.records, 2);
  EXPECT_EQ(first.skipped, 0);
  EXPECT_TRUE(first.reportWritable);
  EXPECT_FALSE(fs::exists(dir / "InfoDumpLog1210093015.txt"));
  EXPECT_FALSE(fs::exists(dir / "InfoDumpLog1209080000.txt"));
  EXPECT_TRUE(fs::exists(dir / "Other.txt"));

  writeLog("InfoDumpLog1210100000.txt", runLogText(0));
  EXPECT_EQ(MakeReport(dir, clock, 0).records, 1);

  std::string report = read(dir / "DevinfoAndSmartReport1210.csv");
  std::vector<std::string> lines;
  for (size_t p = 0, e; (e = report.find("\r\n", p)) != std::string::npos; p = e + 2) lines.push_back(report.substr(p, e - p));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0] + "\r\n", ReportHeaderLine(0));
  EXPECT_EQ(lines[1].substr(0, 26), "InfoDumpLog1209080000.txt,");  // oldest first
  EXPECT_NE(lines[2].find(",SN00C0FFEE,238G,"), std::string::npos);
  EXPECT_EQ(lines[3].substr(0, 26), "InfoDumpLog1210100000.txt,");
}

TEST_F(ReportFiles, AnUnreadableRunLogIsSkippedAndRemoved) {
#ifdef _WIN32
  GTEST_SKIP() << "a dangling symbolic link needs privileges on Windows";
#endif
  fs::create_symlink(dir / "nowhere", dir / "InfoDumpLog1210000000.txt");
  ReportOutcome r = MakeReport(dir, clock, 1);
  EXPECT_EQ(r.skipped, 1);
  EXPECT_EQ(r.records, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "InfoDumpLog1210000000.txt")));
  EXPECT_EQ(read(dir / "DevinfoAndSmartReport1210.csv"), ReportHeaderLine(1));
}

TEST_F(ReportFiles, RunLogsStayWhenTheReportCannotBeWritten) {
  fs::create_directories(dir / "DevinfoAndSmartReport1210.csv");
  writeLog("InfoDumpLog1210093015.txt", runLogText(0));
  ReportOutcome r = MakeReport(dir, clock, 0);
  EXPECT_FALSE(r.reportWritable);
  EXPECT_TRUE(fs::exists(dir / "InfoDumpLog1210093015.txt"));
}

TEST_F(ReportFiles, AMissingDirectoryIsReportedAsAFindError) {
  ReportOutcome r = MakeReport(dir / "missing", clock, 0);
  EXPECT_FALSE(r.reportWritable);
  std::string err;
  EXPECT_FALSE(AppendRunLog(dir / "missing" / "x.txt", "t", err));
  EXPECT_FALSE(err.empty());
}

}  // namespace
}  // namespace zorv
