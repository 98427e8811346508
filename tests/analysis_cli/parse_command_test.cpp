// zorvctl parse: rows printed as the tab lists them, JSON rows keyed by
// column name, the record file, and the exit status for files it cannot use.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "analysis/file_parsing.h"
#include "cli/session.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int code = 0;
  std::string out;
  std::string err;
};

CliRun zorvctl(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"zorvctl"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream o, e;
  CliRun r;
  r.code = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), o, e);
  r.out = o.str();
  r.err = e.str();
  return r;
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct ParseCommand : ::testing::Test {
  test::TempDir temp;
  fs::path image = fs::path(temp.path()) / "spi, one.bin";
  ParseCommand() {
    std::string bytes(0x1000, '\xFF');
    bytes[0x800] = 0x00;
    bytes[0x801] = 0x03;  // Tarn plane 00
    bytes[0x400] = 0x00;
    bytes[0x401] = 0x09;  // Pallo plane 00
    std::ofstream(image, std::ios::binary) << bytes;
  }
};

TEST_F(ParseCommand, SpiPrintsRowsAndWritesTheRecordFile) {
  fs::path csv = fs::path(temp.path()) / "rec.csv";
  CliRun r = zorvctl({"parse", "spi", "--product", "tarn", image.string(), "-o", csv.string()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("\"spi, one.bin\",3,3,65535,", 0), 0u) << r.out;
  EXPECT_EQ(readFile(csv), analysis::SpiCsvHeader(analysis::ObbProduct::Tarn) + r.out);
}

TEST_F(ParseCommand, JsonRowsAreKeyedByColumnName) {
  fs::path csv = fs::path(temp.path()) / "rec.csv";
  CliRun r = zorvctl({"parse", "spi", "--json", image.string(), "-o", csv.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  auto doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc["rows"].size(), 1u);
  const auto& row = doc["rows"][0];
  EXPECT_EQ(row["File Name"], "spi, one.bin");
  EXPECT_EQ(row["Ttl Bad"], 9);
  EXPECT_EQ(row["00"], 9);
  EXPECT_EQ(row["7F"], 65535);
  EXPECT_EQ(row["R_Pass"], 0);
  EXPECT_EQ(row["AuMin CH7 CP3 DI1 PL1"], 65535);
  EXPECT_EQ(doc["columns"][0], "File Name");
}

TEST_F(ParseCommand, UnusableInputExitsTwoAndKeepsTheGoodRows) {
  fs::path csv = fs::path(temp.path()) / "rec.csv";
  CliRun r = zorvctl({"parse", "spi", temp.file("missing.bin"), image.string(), "-o", csv.string()});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out.rfind("No File\r\nNo Arg\r\n\"spi, one.bin\",9,", 0), 0u) << r.out;
  EXPECT_NE(r.err.find("missing.bin"), std::string::npos);

  CliRun tarn = zorvctl({"parse", "devinfo", "--product", "tarn", image.string(), "-o", csv.string() + "2"});
  EXPECT_EQ(tarn.code, 2);
  EXPECT_NE(tarn.err.find("Not Support"), std::string::npos);
  EXPECT_FALSE(fs::exists(csv.string() + "2"));

  CliRun product = zorvctl({"parse", "spi", "--product", "other", image.string()});
  EXPECT_EQ(product.code, 2);

  CliRun unwritable = zorvctl({"parse", "spi", image.string(), "-o", temp.file("no dir/x.csv")});
  EXPECT_EQ(unwritable.code, 1);
}

TEST_F(ParseCommand, DevInfoWithoutFilesWritesTheHeaderOnly) {
  fs::path csv = fs::path(temp.path()) / "dev.csv";
  CliRun r = zorvctl({"parse", "devinfo", "-o", csv.string()});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(csv), analysis::DevInfoCsvHeader());

  fs::path log = fs::path(temp.path()) / "InfoDumpLog1210093015.txt";
  std::ofstream(log, std::ios::binary) << "ORBENNEPA256 SN1 238G SATA\r\nMin EC      (TBL+Data): 0x0011 \r\n";
  CliRun one = zorvctl({"parse", "devinfo", "--json", log.string(), "-o", csv.string()});
  ASSERT_EQ(one.code, 0) << one.err;
  auto doc = nlohmann::json::parse(one.out);
  EXPECT_EQ(doc["rows"][0]["Time"], "1210093015");
  EXPECT_EQ(doc["rows"][0]["Serial"], "SN1");
  EXPECT_EQ(doc["rows"][0]["Ers(Min)"], "0x0011 ");

  // A binary file as run log: its bytes are no UTF-8, the JSON still is.
  fs::path garbage = fs::path(temp.path()) / "garbage.txt";
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 151) & 0xFF);
  std::ofstream(garbage, std::ios::binary) << bytes;
  CliRun bin = zorvctl({"parse", "devinfo", "--json", garbage.string(), "-o", csv.string()});
  ASSERT_EQ(bin.code, 0) << bin.err;
  EXPECT_EQ(nlohmann::json::parse(bin.out)["rows"].size(), 1u);
}

}  // namespace
}  // namespace zorv
