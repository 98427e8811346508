// The parsing runs over real files: record files, their headers and rows,
// unreadable and odd files, file names that need quoting, and a run log
// written by the diagnostics console against the simulated bay.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "analysis/file_parsing.h"
#include "diagnostics/diagnostics_console.h"
#include "support/sim_fixture.h"

namespace zorv::analysis {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& p, std::string_view bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

struct ParsingFixture : ::testing::Test {
  test::TempDir temp;
  fs::path dir = fs::path(temp.path()) / "saved files";  // paths may hold blanks
  ParsingFixture() { fs::create_directories(dir); }
};

TEST(RecordFileNames, CarryTheRunsMonthDayAndTime) {
  DiagClockValue clock;
  clock.valid = true;
  clock.time.tm_mon = 11;
  clock.time.tm_mday = 10;
  clock.time.tm_hour = 9;
  clock.time.tm_min = 30;
  clock.time.tm_sec = 5;
  EXPECT_EQ(SpiRecordFileName(clock), "SPI_OBB_Record1210093005.csv");
  EXPECT_EQ(DevInfoRecordFileName(clock), "DevinfoAndSmartReport1210093005.csv");
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(CsvField("plain.bin"), "plain.bin");
  EXPECT_EQ(CsvField("a,b.bin"), "\"a,b.bin\"");
  EXPECT_EQ(CsvField("say \"hi\".bin"), "\"say \"\"hi\"\".bin\"");
  EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(CsvField(""), "");
  auto rows = ListRowsFromText("\"a,\"\"b\"\"\",1,\r\nNo File\r\nNo Arg\r\n");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"a,\"b\"", "1"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"No File"}));
}

TEST(ListColumns, SpiAndDevInfoColumnsAndWidths) {
  auto pallo = SpiListColumns(ObbProduct::Pallo);
  ASSERT_EQ(pallo.size(), 2u + 128 + 35 + 40);
  EXPECT_EQ(pallo[0].title, "File Name");
  EXPECT_EQ(pallo[0].width, 165);
  EXPECT_EQ(pallo[1].title, "Ttl Bad");
  EXPECT_EQ(pallo[1].width, 70);
  EXPECT_EQ(pallo[2].title, "00");
  EXPECT_EQ(pallo[129].title, "7F");
  EXPECT_EQ(pallo[129].width, 30);
  EXPECT_EQ(pallo[130].title, "RErrCode");
  EXPECT_EQ(pallo[130].width, 80);
  EXPECT_EQ(pallo.back().title, "EbbEccOverLup7");
  EXPECT_EQ(SpiListColumns(ObbProduct::Tarn).size(), 2u + 128 + 31 + 80);

  auto dev = DevInfoListColumns();
  ASSERT_EQ(dev.size(), 17u);
  EXPECT_EQ(dev[0].title, "FileName");
  EXPECT_EQ(dev[0].width, 120);
  EXPECT_EQ(dev[1].width, 90);
  EXPECT_EQ(dev[16].title, "Flash Rd");
}

TEST_F(ParsingFixture, NoFileChosenWritesTheHeaderOnly) {
  fs::path csv = dir / "SPI_OBB_Record0101000000.csv";
  ParseOutcome out = ParseSpiFiles(ObbProduct::Pallo, {}, csv);
  EXPECT_TRUE(out.csvWritten);
  EXPECT_EQ(readFile(csv), ObbCsvHeader(ObbProduct::Pallo));
  EXPECT_EQ(out.listText, "");

  fs::path report = dir / "DevinfoAndSmartReport0101000000.csv";
  ParseDevInfoFiles({}, report);
  EXPECT_EQ(readFile(report),
            "FileName,Time,Serial,Capacity,Ers(Min),Ers(Max),Ers(AVG),OBB Cnt,LBB Cnt,Tal Rd,Tal Wr,WA(TBL),TempN,"
            "TempW,SSD Life,Flash Wr,Flash Rd,\r\n");
}

TEST_F(ParsingFixture, OneRowPerFileInOrderAndASecondRunInTheSameFileAddsNoSecondHeader) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names cannot hold the quotes this case quotes";
#endif
  std::string image(0x10000, '\xFF');
  image[0x400] = 0x00;
  image[0x401] = 0x05;  // plane 00: 5 bad blocks
  image[0x300 + 4] = 0x2A;  // RErrCode
  writeFile(dir / "a.bin", image);
  writeFile(dir / "odd, \"name\".bin", image);
  fs::path csv = dir / "out.csv";

  ParseOutcome out = ParseSpiFiles(ObbProduct::Pallo, {dir / "a.bin", dir / "odd, \"name\".bin"}, csv);
  ASSERT_EQ(out.files.size(), 2u);
  EXPECT_TRUE(out.allReadable());
  EXPECT_EQ(out.files[0].values[0], "a.bin");
  EXPECT_EQ(out.files[0].values[1], "5");
  EXPECT_EQ(out.files[0].values[2], "5");
  EXPECT_EQ(out.files[0].values[3], "65535");
  EXPECT_EQ(out.files[0].values[130], "42");
  EXPECT_EQ(out.files[0].values.size(), out.columns.size());
  std::string expectedRow = "a.bin,5,5,";
  for (int i = 1; i < 128; ++i) expectedRow += "65535,";
  expectedRow += "42,";
  EXPECT_EQ(out.listText.rfind(expectedRow, 0), 0u);
  EXPECT_NE(out.listText.find("\r\n\"odd, \"\"name\"\".bin\",5,5,"), std::string::npos);

  auto rows = ListRowsFromText(out.listText);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0], "odd, \"name\".bin");
  EXPECT_EQ(rows[1].size(), out.columns.size());

  ParseSpiFiles(ObbProduct::Pallo, {dir / "a.bin"}, csv);
  std::string text = readFile(csv);
  EXPECT_EQ(text.rfind(ObbCsvHeader(ObbProduct::Pallo) + out.listText, 0), 0u);
  EXPECT_EQ(text.find(",,Channel0,", 1), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4 + 3);
}

TEST_F(ParsingFixture, UnreadableEmptyGarbageAndHugeFilesNeverBreakTheRun) {
  writeFile(dir / "empty.bin", "");
  fs::create_directory(dir / "a folder");
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  writeFile(dir / "garbage.bin", garbage);
  writeFile(dir / "short.bin", std::string(0x402, '\0'));
  // A sparse file far larger than anything worth reading.
  {
    std::ofstream huge(dir / "huge.bin", std::ios::binary);
    huge.seekp((std::streamoff{1} << 33) - 1);
    huge.put('\0');
  }
  std::vector<fs::path> files = {dir / "missing.bin", dir / "empty.bin", dir / "a folder", dir / "garbage.bin",
                                 dir / "short.bin",   dir / "huge.bin"};
  for (auto product : {ObbProduct::Pallo, ObbProduct::Tarn}) {
    fs::path csv = dir / (product == ObbProduct::Pallo ? "p.csv" : "t.csv");
    ParseOutcome out = ParseSpiFiles(product, files, csv);
    ASSERT_EQ(out.files.size(), files.size());
    EXPECT_FALSE(out.allReadable());
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_FALSE(out.files[i].readable);
      EXPECT_FALSE(out.files[i].error.empty());
    }
    for (size_t i = 3; i < files.size(); ++i) EXPECT_EQ(out.files[i].values.size(), out.columns.size());
    EXPECT_EQ(out.listText.rfind("No File\r\nNo Arg\r\nNo File\r\nNo Arg\r\nNo File\r\nNo Arg\r\ngarbage.bin,", 0), 0u);
    // The short file's zero bytes count, its missing bytes read as erased flash.
    const auto& shortRow = out.files[4].values;
    if (product == ObbProduct::Pallo) {
      EXPECT_EQ(shortRow[2], "0");
      EXPECT_EQ(shortRow[3], "65535");
    }
    EXPECT_EQ(out.files[5].values[1], "0");  // all-zero counts
    std::string csvText = readFile(csv);
    EXPECT_EQ(csvText.find("No File"), std::string::npos);
    EXPECT_EQ(std::count(csvText.begin(), csvText.end(), '\n'), 4 + 3);
  }
  ParseOutcome dev = ParseDevInfoFiles(files, dir / "d.csv");
  EXPECT_EQ(dev.files[3].values.size(), 17u);
  EXPECT_EQ(dev.files[5].values.size(), 17u);
  EXPECT_EQ(dev.files[5].values[0], "huge.bin");
}

TEST_F(ParsingFixture, CsvThatCannotBeWrittenIsReported) {
  ParseOutcome out = ParseSpiFiles(ObbProduct::Pallo, {}, dir / "no such folder" / "x.csv");
  EXPECT_FALSE(out.csvWritten);
  EXPECT_NE(out.csvError.find("x.csv"), std::string::npos);
}

// A run of "30 Info SSD" and "B0D0 SMART Read" on a bay drive leaves a run
// log; its record comes out of the parsing run as out of the report.
TEST_F(ParsingFixture, RunLogFromTheBayGivesTheReportRecord) {
  test::SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  StringSink raw;
  DiagnosticsConsole console(sim.ctx(), raw);
  console.setDirectory(dir);
  console.onCommandChanged(0);
  console.onSecondDumpToggled(true);
  console.onSecondCommandChanged(19);
  auto result = console.RunDiagnostics();
  ASSERT_TRUE(result);
  ASSERT_TRUE(result->runLogWritten);
  fs::path log = dir / result->runLogName;
  ASSERT_TRUE(fs::exists(log));

  ParseOutcome out = ParseDevInfoFiles({log}, dir / "report.csv");
  ASSERT_EQ(out.files.size(), 1u);
  ASSERT_TRUE(out.files[0].readable);
  const auto& v = out.files[0].values;
  EXPECT_EQ(v, BuildReportValues(result->runLogName, readFile(log), 0));
  EXPECT_EQ(v[1], result->runLogName.substr(11, 10));
  EXPECT_FALSE(v[2].empty());                  // serial
  EXPECT_EQ(v[4].rfind("0x", 0), 0u) << v[4];  // Ers(Min)
  EXPECT_EQ(v[12].rfind("0x", 0), 0u) << v[12];  // TempN
  EXPECT_EQ(v[13].rfind("0x", 0), 0u) << v[13];  // TempW
  EXPECT_EQ(readFile(dir / "report.csv"), DevInfoCsvHeader() + out.listText);
}

}  // namespace
}  // namespace zorv::analysis

namespace zorv::analysis {
namespace {

TEST(ListSort, ByTheColumnsDecimalValueEitherWay) {
  EXPECT_EQ(ListSortValue("65535"), 65535);
  EXPECT_EQ(ListSortValue("-12"), -12);
  EXPECT_EQ(ListSortValue("0x0011 "), 0);
  EXPECT_EQ(ListSortValue("No File"), 0);
  EXPECT_EQ(ListSortValue(""), 0);
  EXPECT_EQ(ListSortValue("12abc"), 12);
  EXPECT_GT(ListSortValue("99999999999999999999999"), 0);  // no overflow

  std::vector<std::vector<std::string>> rows = {{"a", "10"}, {"b", "9"}, {"No File"}, {"c", "-1"}, {"d", "100"}};
  EXPECT_EQ(ListSortOrder(rows, 1, true), (std::vector<size_t>{3, 2, 1, 0, 4}));
  EXPECT_EQ(ListSortOrder(rows, 1, false), (std::vector<size_t>{4, 0, 1, 2, 3}));
  EXPECT_EQ(ListSortOrder(rows, 7, true), (std::vector<size_t>{0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace zorv::analysis
