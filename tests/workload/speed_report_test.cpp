// The speed report's lines and the viewer's reading of them.

#include <gtest/gtest.h>

#include "support/sim_fixture.h"
#include "workload/speed_report.h"
#include "workload/speed_report_view.h"

namespace zorv {
namespace {

TEST(SpeedReport, LinesOfBothKinds) {
  EXPECT_EQ(speedReportHeader(true), "Time,LBA,Speed(MB/S),\r\n");
  EXPECT_EQ(speedReportHeader(false), "Time,Percent,Speed(MB/S),\r\n");
  EXPECT_EQ(speedReportLine(3725, uint64_t{0x123456789AB}, 120), "1:2:5,0x0123456789AB,120,\r\n");
  EXPECT_EQ(speedReportLine(61, 42.4, 7), "0:1:1,42,7,\r\n");
  std::tm t{};
  t.tm_mon = 2;
  t.tm_mday = 4;
  t.tm_hour = 5;
  t.tm_min = 6;
  t.tm_sec = 7;
  EXPECT_EQ(speedReportName("SN 1", t), "PhyWrRpt_SN 1_0304050607.csv");
  EXPECT_EQ(speedReportName("../SN\\1\n", t), "PhyWrRpt_.._SN_1__0304050607.csv") << "never a path elsewhere";
}

TEST(SpeedReportView, HeaderSequentialAndRandomReports) {
  SpeedReportView seq = parseSpeedReport("Time,LBA,Speed(MB/S),\r\n0:0:1,0x000000001000,120,\r\n0:0:2,0x000000002000,130,\r\n");
  EXPECT_EQ(seq.lineCount, 3);
  EXPECT_EQ(seq.speeds, (std::vector<double>{0, 120, 130})) << "the header adds a point of 0";
  EXPECT_EQ(seq.text,
            "cnt: 3\r\nTime:Time Pcnt:LBA,Speed(MB/S)\r\nTime:0:0:1 LBA:0x000000001000,120\r\n"
            "Time:0:0:2 LBA:0x000000002000,130\r\n");

  SpeedReportView rnd = parseSpeedReport("Time,Percent,Speed(MB/S),\r\n0:0:1,5,88,\r\nnothing here\r\n0:0:2,9,91,");
  EXPECT_EQ(rnd.lineCount, 4);
  EXPECT_EQ(rnd.speeds, (std::vector<double>{0, 88, 91})) << "a line without a comma adds no point";
  EXPECT_EQ(rnd.text,
            "cnt: 4\r\nTime:Time Pcnt:Percent,Speed(MB/S)\r\nTime:0:0:1 Pcnt:5,88\r\nTime:nothing here\r\n"
            "Time:0:0:2 Pcnt:9,91\r\n");

  SpeedReportView empty = parseSpeedReport("");
  EXPECT_EQ(empty.lineCount, 0);
  EXPECT_TRUE(empty.speeds.empty());
}

TEST(SpeedReportView, AnUnreadableFileIsAClearError) {
  test::TempDir dir;
  std::string error;
  EXPECT_FALSE(readSpeedReport(dir.file("missing report.csv"), error));
  EXPECT_EQ(error.rfind("Cannot open the speed report " + dir.file("missing report.csv"), 0), 0u) << error;
  EXPECT_FALSE(readSpeedReport(dir.path(), error));
  EXPECT_EQ(error, dir.path() + " is not a file");
}

}  // namespace
}  // namespace zorv
