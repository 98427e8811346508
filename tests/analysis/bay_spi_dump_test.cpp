// An SPI dump taken from a bay drive with "52 SPI Memory Dump" parses into
// the record its factory left: every stage done and passed, bad counts for
// the planes the drive has (erased columns for the others), loops that agree
// with the bad-count total, plausible temperatures and timing tables.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "analysis/file_parsing.h"
#include "diagnostics/operation_table.h"
#include "support/sim_fixture.h"

namespace zorv::analysis {
namespace {

namespace fs = std::filesystem;

constexpr size_t kRowSpiDump = 11;

class BaySpiDump : public ::testing::TestWithParam<int> {};

TEST_P(BaySpiDump, ParsesIntoSensibleFigures) {
  const int slot = GetParam();
  test::SimFixture sim(slot);
  ASSERT_TRUE(sim.ok()) << sim.error;
  StringSink pane;
  RowMemory memory;
  DiagRun run(sim.ctx(), pane, memory);
  run.modelClass = sim.ctx().selectedDrive().usModelClass;
  run.directory = sim.dir.path();
  run.clock = DiagClockValue{sim.clock.localTime(), true};
  PerformOperation(run, kRowSpiDump);
  ASSERT_FALSE(run.commandFailed) << pane.text();
  fs::path dump = fs::path(sim.dir.path()) / ("SpiDmp_Adr00000_Len80000_" + run.clock.stamp() + ".bin");
  ASSERT_EQ(fs::file_size(dump), 512u * 1024);

  const ObbProduct product = run.modelClass == 1 ? ObbProduct::Tarn : ObbProduct::Pallo;
  ParseOutcome out = ParseSpiFiles(product, {dump}, fs::path(sim.dir.path()) / "record.csv");
  ASSERT_TRUE(out.allReadable());
  ASSERT_EQ(out.files[0].values.size(), out.columns.size());
  std::map<std::string, long long> v;
  for (size_t i = 1; i < out.columns.size(); ++i) v[out.columns[i]] = std::stoll(out.files[0].values[i]);

  // Bad counts: the drive has 32 of the 128 columns' planes in either layout.
  long long total = 0;
  int present = 0;
  for (size_t i = 0; i < 128; ++i) {
    long long c = v[out.columns[2 + i]];
    if (c == 65535) continue;
    ++present;
    EXPECT_LT(c, 100);
    total += c;
  }
  EXPECT_EQ(present, 32);
  EXPECT_GT(total, 0);
  EXPECT_EQ(v["Ttl Bad"], total);
  EXPECT_EQ(v["ObbCntLoop0"], total);
  EXPECT_EQ(v[product == ObbProduct::Tarn ? "ObbCntLoop15" : "ObbCntLoop7"], total);

  EXPECT_EQ(v["RErrCode"], 0);
  EXPECT_EQ(v["F_ErrCode"], 0);
  EXPECT_EQ(v["F_Done"], 1);
  EXPECT_EQ(v["F_Pass"], 1);
  if (product == ObbProduct::Pallo) {
    EXPECT_EQ(v["R_Done"], 1);
    EXPECT_EQ(v["R_Pass"], 1);
    EXPECT_EQ(v["Age Byte"], 1);
  } else {
    EXPECT_EQ(v["B_Go"], 1);
  }
  for (const char* temp : {"R_Temp1", "B_Temp2", "F_Temp1", "F_Temp2"}) {
    EXPECT_GE(v[temp], 30) << temp;
    EXPECT_LE(v[temp], 60) << temp;
  }
  EXPECT_GT(v["F_RdTxR2"], 0);
  EXPECT_LT(v["F_RdTxR2"], 1000);

  const std::string first = product == ObbProduct::Tarn ? "TLC CH0 CP0 DI0 PL0" : "AuAvg CH0 CP0 DI0 PL0";
  EXPECT_GT(v[first], 100);
  EXPECT_LT(v[first], 5000);
  const std::string absent = product == ObbProduct::Tarn ? "SLC CH0 CP7 DI0 PL0" : "AuMin CH7 CP0 DI0 PL0";
  EXPECT_EQ(v[absent], 65535);
}

INSTANTIATE_TEST_SUITE_P(BothProducts, BaySpiDump, ::testing::Values(0, 1));

}  // namespace
}  // namespace zorv::analysis
