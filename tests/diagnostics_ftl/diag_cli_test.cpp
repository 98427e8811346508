// zorvctl diag with the flash rows on a simulated bay: the files they leave
// and the file arguments that stand for the console's dialogs.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/session.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class FlashDiag : public ::testing::Test {
 protected:
  Result run(std::vector<std::string> args) {
    std::vector<std::string> all = {"zorvctl", "--sim", (fs::path(tmp.path()) / "bay").string()};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--dir", out()});
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    std::ostringstream o, e;
    int code = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), o, e);
    return {code, o.str(), e.str()};
  }
  std::string out() {
    fs::path p = fs::path(tmp.path()) / "out";
    fs::create_directories(p);
    return p.string();
  }
  std::vector<fs::path> filesStarting(const std::string& prefix) {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(out()))
      if (e.path().filename().string().starts_with(prefix)) found.push_back(e.path());
    std::sort(found.begin(), found.end());
    return found;
  }
  static std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string write(const std::string& name, const std::string& bytes) {
    std::string p = tmp.file(name);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }

  test::TempDir tmp;
};

TEST_F(FlashDiag, BlockDumpLeavesItsFilesAndTheLaterBadReport) {
  Result r = run({"--drive", "0", "diag", "3202"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Eras Cunt Bit: 0E, Shf: 0B, Msk: 0000000001FFF800\r\n"), std::string::npos);
  EXPECT_TRUE(r.out.ends_with("Dump Block Info Ok\r\n")) << r.out.substr(r.out.size() - 100);
  ASSERT_EQ(filesStarting("BlkInfoSNum__OB2310A00417__").size(), 2u);  // .bin and .txt
  auto reports = filesStarting("LtrBadRptSNum__OB2310A00417__");
  ASSERT_EQ(reports.size(), 1u);
  std::string report = read(reports[0]);
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 5);
  EXPECT_NE(report.find("\r\nLater Bad,"), std::string::npos);

  // A second dump of the day adds a row only.
  ASSERT_EQ(run({"--drive", "0", "diag", "3202"}).code, 0);
  report = read(reports[0]);
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 6);
}

TEST_F(FlashDiag, PpnListNeedsTheLayoutReadInTheSameRun) {
  Result alone = run({"--drive", "0", "diag", "3102", "--start-ppn", "0", "--end-ppn", "1F"});
  EXPECT_NE(alone.out.find("Please Read Structure Bit Define First\r\n"), std::string::npos);
  Result both = run({"--drive", "0", "diag", "3103", "--second", "3102", "--start-ppn", "0", "--end-ppn", "1F"});
  ASSERT_EQ(both.code, 0) << both.err;
  size_t lines = 0;
  for (size_t p = both.out.find("PPN: "); p != std::string::npos; p = both.out.find("PPN: ", p + 1)) ++lines;
  EXPECT_EQ(lines, 32u);
}

TEST_F(FlashDiag, SpiWriteFileAndReadSave) {
  std::string image(1000, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13);
  std::string in = write("in.bin", image);
  Result w = run({"--drive", "1", "diag", "F714", "--file", in});
  ASSERT_EQ(w.code, 0) << w.err;
  EXPECT_NE(w.out.find("Save SPI Flash Success\r\n"), std::string::npos);

  std::string saved = tmp.file("back.bin");
  Result r = run({"--drive", "1", "diag", "F712", "--save", saved});
  ASSERT_EQ(r.code, 0) << r.err;
  std::string back = read(saved);
  ASSERT_EQ(back.size(), 65536u);
  EXPECT_TRUE(back.substr(0, 1000) == image);
  EXPECT_EQ(back.substr(1000), std::string(65536 - 1000, '\xFF'));

  // Without --save the image goes to the dump directory.
  ASSERT_EQ(run({"--drive", "1", "diag", "F712"}).code, 0);
  auto files = filesStarting("SpiFlash");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(read(files[0]) == back);

  Result tooBig = run({"--drive", "1", "diag", "F714", "--file", write("big.bin", std::string(65537, 'x'))});
  EXPECT_EQ(tooBig.code, 2);  // unusable input: nothing was sent
  EXPECT_NE(tooBig.out.find("File too large for the SPI flash: 65537 bytes (at most 65536)\r\n"), std::string::npos);
}

TEST_F(FlashDiag, RestoreThenSpiDump) {
  std::string image(700, 'R');
  Result r = run({"--drive", "0", "diag", "51", "--file", write("restore.bin", image)});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Restore Bin Success\r\n----------------\r\n"), std::string::npos);
  Result d = run({"--drive", "0", "diag", "52"});
  ASSERT_EQ(d.code, 0) << d.err;
  auto dumps = filesStarting("SpiDmp_Adr00000_Len80000_");
  ASSERT_EQ(dumps.size(), 1u);
  std::string spi = read(dumps[0]);
  ASSERT_EQ(spi.size(), 0x80000u);
  EXPECT_EQ(spi.substr(0, 700), image);
  EXPECT_EQ(spi.substr(700, 324), std::string(324, '\xFF'));
  EXPECT_NE(d.out.find("Memory Dump End\r\nFile Name is:\r\n" + dumps[0].filename().string() + "\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace zorv
