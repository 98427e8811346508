// zorvctl identify, buffer and ata on a simulated bay.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

#include "cli/session.h"
#include "sim/bay_store.h"
#include "sim/sim_bay.h"
#include "support/sim_fixture.h"

namespace zorv {
namespace {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Each test runs in its own temporary directory (files without a path land
// there) on its own bay.
class Zorvctl : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
  }
  void TearDown() override { std::filesystem::current_path(oldCwd); }

  CliRun run(std::vector<std::string> args, int drive = 0) {
    std::vector<std::string> all = {"zorvctl", "--sim", dir.file("bay")};
    if (drive >= 0) {
      all.push_back("--drive");
      all.push_back(std::to_string(drive));
    }
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    std::ostringstream out, err;
    int code = cli::runZorvctl(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
  }
  std::string file(const std::string& name) { return dir.file(name); }

  test::TempDir dir;
  std::filesystem::path oldCwd;
};

TEST_F(Zorvctl, IdentifyDecodeShowsOnlyTheDecode) {
  CliRun r = run({"identify", "--decode"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 18), "\n Accelerated DRQ\n");
  EXPECT_NE(r.out.find(" Model Number  = ORBENNE PA256 SSD"), std::string::npos);
  EXPECT_NE(r.out.find(" Current mode = Ultra DMA Mode 6\n"), std::string::npos);
  EXPECT_NE(r.out.find(" Enabled SSP(Software Settings Preservation)\n"), std::string::npos);
  EXPECT_EQ(r.out.find("Model Name      :"), std::string::npos);  // enumeration stays off stdout
  EXPECT_EQ(r.out.find("WD Offset"), std::string::npos);
}

TEST_F(Zorvctl, IdentifyTableByDefault) {
  CliRun r = run({"identify"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 9), "WD Offset");
  EXPECT_NE(r.out.find("\n88         1                      407FH"), std::string::npos) << r.out.substr(0, 400);
  EXPECT_NE(r.out.find("ORBENNE PA256 SSD"), std::string::npos);
  EXPECT_NE(r.out.find("Integrity word"), std::string::npos);

  CliRun j = run({"identify", "--json"});
  ASSERT_EQ(j.code, 0) << j.err;
  nlohmann::json doc = nlohmann::json::parse(j.out);
  ASSERT_EQ(doc["rows"].size(), 97u);
  EXPECT_EQ(doc["rows"][40]["offset"], 88);
  EXPECT_EQ(doc["model"], "ORBENNEPA256SSD");
}

TEST_F(Zorvctl, IdentifySaveMatchesTheConsolesReadAndCompares) {
  CliRun s0 = run({"identify", "--save"}, 0);
  ASSERT_EQ(s0.code, 0) << s0.err;
  EXPECT_EQ(s0.out, "");
  CliRun s1 = run({"identify", "--save"}, 1);
  ASSERT_EQ(s1.code, 0) << s1.err;
  std::vector<std::string> saved;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    std::string name = e.path().filename().string();
    if (name.rfind("Identify_", 0) == 0) saved.push_back(name);
  }
  std::sort(saved.begin(), saved.end());
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].substr(0, 26), "Identify_ORBENNEPA256SSD_O");

  CliRun ata = run({"ata", "--sector-cnt", "1", "--device", "40", "--command", "EC", "--out", "ec.bin"}, 0);
  ASSERT_EQ(ata.code, 0) << ata.err;
  EXPECT_EQ(ata.out, "   Data In, DataCnt = 512(0x200)Bytes\nATA Command Success\n\n\n");
  EXPECT_EQ(readAll(file("ec.bin")), readAll(file(saved[0])));

  CliRun same = run({"identify", "compare", saved[0], "ec.bin"}, -1);
  ASSERT_EQ(same.code, 0) << same.err;
  EXPECT_EQ(same.out, "");

  CliRun diff = run({"identify", "compare", saved[0], saved[1]}, -1);
  ASSERT_EQ(diff.code, 0) << diff.err;
  EXPECT_EQ(diff.out.substr(0, 40), "Item 4 offset: 10, \nItem 6 offset: 23, \n");
  EXPECT_NE(diff.out.find("Item 96 offset: 255, \n"), std::string::npos);

  CliRun table = run({"identify", "compare", "--table", saved[0], saved[1]}, -1);
  EXPECT_NE(table.out.find("Value 1"), std::string::npos);
  EXPECT_NE(table.out.find("Value 2"), std::string::npos);

  CliRun missing = run({"identify", "compare", saved[0], "nothing.bin"}, -1);
  EXPECT_EQ(missing.code, 2);
  EXPECT_EQ(missing.err, "zorvctl: cannot read nothing.bin\n");
}

TEST_F(Zorvctl, BufferActionsInOrderThenTheDump) {
  std::ofstream("in.bin", std::ios::binary) << "HELLO WORLD 0123";
  CliRun r = run({"buffer", "--load", "in.bin", "--write-buffer", "--read-buffer", "--length", "10"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "0000:48 45 4C 4C 4F 20 57 4F  52 4C 44 20 30 31 32 33 |HELLO.WO RLD.0123\n");

  // Clear comes after the read; save writes the window.
  r = run({"buffer", "--load", "in.bin", "--start", "0", "--length", "0020", "--clear", "--save", "out.bin"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(readAll(file("out.bin")), std::vector<uint8_t>(32, 0));
  EXPECT_EQ(r.out.substr(0, 10), "0000:00 00");

  r = run({"buffer", "--save", "out.bin"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "box(question): " + std::string("out.bin") +
                       "   already exists.\nDo you want to replace it? [no]\n");
  EXPECT_EQ(readAll(file("out.bin")).size(), 32u);

  r = run({"--yes", "buffer", "--save", "out.bin"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(readAll(file("out.bin")), std::vector<uint8_t>(512, 0xFF));
}

TEST_F(Zorvctl, BufferEditRules) {
  CliRun r = run({"buffer", "--start", "12F", "--length", "0020"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 5), "0120:");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);

  r = run({"buffer", "--length", "FFFF"});
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4096);
  EXPECT_EQ(r.err, "box(none): Reflash Size > 512 Byte\r\nAuto Reflash Stop\n");

  r = run({"buffer", "--start", "12345"});
  EXPECT_EQ(r.code, 2);
  r = run({"buffer", "--load", "missing.bin"});
  EXPECT_EQ(r.code, 2);
}

TEST_F(Zorvctl, AtaConsoleWritesAndReadsBack) {
  std::vector<uint8_t> data(1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 11 + 5);
  std::ofstream("data.bin", std::ios::binary).write(reinterpret_cast<const char*>(data.data()), 1024);

  CliRun w = run({"ata", "--sector-cnt", "0002", "--sector-num", "0010", "--device", "40", "--command", "35", "--in",
                  "data.bin"});
  ASSERT_EQ(w.code, 0) << w.err;
  EXPECT_EQ(w.out, "   Data Out, DataCnt = 1024(0x400)Bytes\nATA Command Success\n\n\n");

  CliRun r = run({"ata", "--sector-cnt", "0002", "--sector-num", "0010", "--device", "40", "--command", "25", "--out",
                  "back.bin"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(readAll(file("back.bin")), data);
}

TEST_F(Zorvctl, AtaJsonGivesTheRegistersTheDriveReturned) {
  // CHECK POWER MODE answers in its count register: FFh, active.
  CliRun sata = run({"--json", "ata", "--device", "40", "--command", "E5"}, 0);
  ASSERT_EQ(sata.code, 0) << sata.err;
  auto j = nlohmann::json::parse(sata.out);
  EXPECT_EQ(j["ok"], true);
  EXPECT_EQ(j["pane"], "ATA Command Success\n\n\n");
  EXPECT_EQ(j["returned"]["sectorCnt"], "00FF");
  EXPECT_EQ(j["returned"]["status"], "50");
  EXPECT_EQ(j["returned"]["error"], "00");

  // Behind the USB bridge no registers come back.
  CliRun usb = run({"--json", "ata", "--device", "40", "--command", "E5"}, 1);
  ASSERT_EQ(usb.code, 0) << usb.err;
  EXPECT_TRUE(nlohmann::json::parse(usb.out)["returned"].is_null());
}

TEST_F(Zorvctl, AtaFlashLocationAndErrors) {
  CliRun q = run({"ata", "--features", "31", "--sector-cnt", "1", "--sector-num", "2", "--command", "F7"}, 1);
  ASSERT_EQ(q.code, 0) << q.err;
  EXPECT_EQ(q.out,
            "   Data In, DataCnt = 512(0x200)Bytes\n"
            "channel, chip, plan, block, page, auLoc, trim\n"
            "0x0001, 0x0000, 0x0000, 0x0100, 0x0005,0x0001,0x0000\n"
            "ATA Command Success\n\n\n");

  CliRun longText = run({"ata", "--command", "0EC00"});
  EXPECT_EQ(longText.code, 2);
  EXPECT_EQ(longText.err, "zorvctl: --command holds at most 4 characters: 0EC00\n");
  EXPECT_EQ(run({"ata", "--features", "1"}).code, 2);  // --command is required

  // Non-hexadecimal text is parsed up to its first other character: "EZ" is
  // command 0Eh, which the drive aborts.
  CliRun aborted = run({"ata", "--command", "EZ"});
  EXPECT_EQ(aborted.code, 1);
  EXPECT_EQ(aborted.out, "ATA Command Error, Status = 0x51\n\n\n");

  CliRun noData = run({"ata", "--command", "E0", "--out", "x.bin"});
  EXPECT_EQ(noData.code, 2);
  EXPECT_FALSE(std::filesystem::exists(file("x.bin")));
}

TEST_F(Zorvctl, WithoutADriveOfTheBrandNothingIsSent) {
  // A bay holding only the foreign drive of the default bay.
  sim::BayRecord record = sim::SimBay::defaultBay();
  record.slots[0] = {};
  record.slots[1] = {};
  std::string error;
  ASSERT_TRUE(sim::BayStore::create(dir.file("bay"), record, error)) << error;
  for (std::vector<std::string> args : {std::vector<std::string>{"identify"},
                                        std::vector<std::string>{"ata", "--command", "EC"},
                                        std::vector<std::string>{"buffer", "--read-buffer"}}) {
    CliRun r = run(args, -1);
    EXPECT_EQ(r.code, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err, "zorvctl: No VXA Device Attached\n") << args[0];
  }
  // Actions that need no drive still run.
  EXPECT_EQ(run({"buffer", "--length", "0010"}, -1).code, 0);
}

}  // namespace
}  // namespace zorv
