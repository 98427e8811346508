// The flash rows against the simulated bay: every answer of a drive tells
// the same story (layout, lookups, block table, bad-block list, Info SSD
// geometry), SPI flash writes really land and read back, and a restore
// really rewrites the image.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "sim/flash_geometry.h"
#include "sim/sim_bay.h"
#include "sim/sim_drive.h"
#include "support/sim_fixture.h"
#include "transport/ata_command.h"
#include "diagnostics/ftl_decode.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/operation_table.h"
#include "diagnostics/vendor_command.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

constexpr size_t kRowOnePpn = 1, kRowPpnList = 2, kRowBitLayout = 3, kRowBlockInfo = 4, kRowDumpAll = 5,
                 kRowFlashId = 7, kRowFlashCheck = 8, kRowMemory = 9, kRowRestore = 10, kRowSpiDump = 11,
                 kRowDiagnostic = 15, kRowSpiRead = 20, kRowSpiWrite = 21, kRowBadBlocks = 22;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return out;
}

class FlashOnSim : public ::testing::Test {
 protected:
  explicit FlashOnSim(int slot) : slot_(slot), sim(slot) {}

  int slot() const { return slot_; }
  DiagRun& run() {
    if (!run_) {
      run_ = std::make_unique<DiagRun>(sim.ctx(), pane, memory);
      run_->modelClass = sim.ctx().selectedDrive().usModelClass;
      run_->directory = sim.dir.path();
      run_->clock = DiagClockValue{sim.clock.localTime(), true};
    }
    return *run_;
  }
  std::string perform(size_t row) { return PerformOperation(run(), row); }
  InfoSsdRecord infoSsd() {
    InfoSsdRecord r;
    EXPECT_TRUE(ReadInfoSsd(sim.ctx(), r).ok());
    return r;
  }
  std::string dumpBase() {
    return "BlkInfoSNum__" + sim.ctx().selectedDrive().strSerial + "__" + run().clock.stamp();
  }
  std::vector<uint8_t> spiImage() {
    std::vector<uint8_t> out;
    sim.bay->controller(slot_)->withDrive([&](sim::SimDrive& d) { out.assign(d.spiFlash().begin(), d.spiFlash().end()); });
    return out;
  }

  int slot_;
  test::SimFixture sim;
  StringSink pane;
  RowMemory memory;
  std::unique_ptr<DiagRun> run_;
};

// Slot 0: class 0 on SATA; slot 1: class 1 behind USB.
class SimFlash : public FlashOnSim, public ::testing::WithParamInterface<int> {
 protected:
  SimFlash() : FlashOnSim(GetParam()) {}
};

TEST_P(SimFlash, PpnListAndSingleLookupsAgree) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::string layout = perform(kRowBitLayout);
  ASSERT_EQ(splitLines(layout).size(), 10u);
  // The nine widths fill the 32-bit word exactly.
  PpnLayout l;
  {
    ASSERT_TRUE(VendorQuery(sim.ctx(), 0x31, uint8_t{0x03}).ok());
    l = ppnLayoutFromReply(run().buffer(512));
    uint32_t sum = 0;
    for (uint32_t w : l.width) sum += w;
    EXPECT_EQ(sum, 32u);
  }
  run().inputs.startPpn = "100";
  run().inputs.endPpn = "2FF";  // 512 entries: five list sectors
  run().inputs.map = "00";
  std::vector<std::string> list = splitLines(perform(kRowPpnList));
  ASSERT_EQ(list.size(), 512u);
  for (uint32_t n : {0x100u, 0x17Du, 0x17Eu, 0x2FFu}) {
    run().inputs.startPpn = formatText("%X", n);
    std::vector<std::string> one = splitLines(perform(kRowOnePpn));
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0], list[n - 0x100]);
  }
  EXPECT_EQ(list[0].substr(0, 10), "PPN: 0100,");
  EXPECT_EQ(list[511].substr(0, 10), "PPN: 02FF,");
}

TEST_P(SimFlash, BlockDumpMatchesBlockInfoInfoSsdAndTheBadBlockList) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  const bool class1 = slot() == 1;
  InfoSsdRecord info = infoSsd();
  const uint64_t channels = info.number(40, 2), chips = info.number(42, 2), dies = info.number(44, 2),
                 planes = info.number(46, 2), blocks = info.number(48, 2);
  const uint64_t groups = class1 ? chips * dies : channels * chips * dies * planes;

  std::string defs = perform(kRowDumpAll);
  EXPECT_EQ(splitLines(defs).size(), (class1 ? 4u : 6u) + 3);
  std::string txt = readFile(fs::path(sim.dir.path()) / (dumpBase() + ".txt"));
  std::string bin = readFile(fs::path(sim.dir.path()) / (dumpBase() + ".bin"));
  const uint64_t recordSectors = (blocks * 8 + 511) / 512;
  ASSERT_EQ(bin.size(), groups * (1 + recordSectors) * 512);
  // The first header's countdown is the whole dump.
  EXPECT_EQ(uint64_t{static_cast<uint8_t>(bin[12])} << 8 | static_cast<uint8_t>(bin[13]), groups * (1 + recordSectors));

  std::vector<std::string> lines = splitLines(txt);
  std::vector<std::string> headers;
  std::map<std::string, std::string> recordOf;  // "<group>:<block>" -> record line
  std::vector<std::pair<uint32_t, uint32_t>> summaries;
  uint32_t lastTotalEarly = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.starts_with("============")) headers.push_back(line);
    if (line.starts_with("Blk ")) recordOf[std::to_string(headers.size() - 1) + ":" + line.substr(4, 4)] = line;
    if (line == "Current Plane:") {
      summaries.emplace_back(std::stoul(lines[i + 1].substr(13), nullptr, 16), std::stoul(lines[i + 2].substr(13), nullptr, 16));
      lastTotalEarly = static_cast<uint32_t>(std::stoul(lines[i + 3].substr(19), nullptr, 16));
    }
  }
  ASSERT_EQ(headers.size(), groups);
  EXPECT_EQ(recordOf.size(), groups * blocks);

  // 3201 of a few blocks gives the numbers of their dump lines.
  for (uint64_t g : {uint64_t{0}, groups - 1}) {
    for (uint32_t b : {0u, 0x20u, 0x41u, static_cast<uint32_t>(blocks - 1)}) {
      const std::string& h = headers[g];
      if (class1) {
        run().inputs.raid = h.substr(17, 2);
      } else {
        run().inputs.channel = h.substr(15, 2);
        run().inputs.chip = h.substr(24, 2);
        run().inputs.die = h.substr(32, 2);
        run().inputs.plane = h.substr(42, 2);
      }
      run().inputs.block = formatText("%X", b);
      std::vector<std::string> shown = splitLines(perform(kRowBlockInfo));
      if (class1) shown.erase(shown.begin(), shown.begin() + 2);  // "Raid: ", "Block: "
      const std::string& rec = recordOf[std::to_string(g) + ":" + formatText("%04X", b)];
      ASSERT_FALSE(rec.empty());
      EXPECT_EQ(shown[0].substr(21), rec.substr(20, 4)) << rec;  // invalid pages
      EXPECT_EQ(shown[1].substr(21), rec.substr(31, 4)) << rec;  // wear level
      EXPECT_EQ(shown[2].substr(21), rec.substr(42, 4)) << rec;  // type
      EXPECT_EQ(shown[3].substr(21), rec.substr(50, 4)) << rec;  // erase count
    }
  }

  // F740: per (RAID group, plane) the bad blocks of that plane.
  std::vector<std::string> list = splitLines(perform(kRowBadBlocks));
  ASSERT_GE(list.size(), 5u);
  uint32_t listed = 0;
  for (size_t i = 5; i < list.size(); ++i) listed += static_cast<uint32_t>(std::stoul(list[i].substr(16), nullptr, 16));
  if (!class1) {
    ASSERT_EQ(list.size() - 5, summaries.size());
    for (size_t k = 0; k < summaries.size(); ++k) {
      EXPECT_EQ(std::stoul(list[5 + k].substr(16), nullptr, 16), summaries[k].first + summaries[k].second) << k;
    }
    // As many early bad blocks as the Info SSD record reports.
    EXPECT_EQ(lastTotalEarly, info.number(180, 4));
  } else {
    EXPECT_EQ(list.size() - 5, chips * dies * channels * planes);
    EXPECT_EQ(txt.find("Current Plane:"), std::string::npos);
  }

  // The diagnostic text counts the same bad blocks.
  std::string diag = perform(kRowDiagnostic);
  size_t at = diag.find("Early bad ");
  ASSERT_NE(at, std::string::npos);
  unsigned early = 0, later = 0;
  ASSERT_EQ(std::sscanf(diag.c_str() + at, "Early bad %u, later bad %u", &early, &later), 2);
  EXPECT_EQ(early, info.number(180, 4));
  EXPECT_EQ(later, info.number(188, 4));
  EXPECT_GT(later, 0u);
  EXPECT_EQ(early + later, listed);
  EXPECT_EQ(diag.find("\n\r"), std::string::npos);
  EXPECT_NE(diag.find("FW " + std::string(class1 ? "T1208B1A" : "S1107A0C")), std::string::npos);
  EXPECT_EQ(readFile(fs::path(sim.dir.path()) / ("DiagDump" + run().clock.stamp() + ".txt")), diag);
}

TEST_P(SimFlash, FlashIdAndCheckFollowTheGeometry) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  InfoSsdRecord info = infoSsd();
  std::vector<std::string> id = splitLines(perform(kRowFlashId));
  EXPECT_EQ(id[0], formatText("Chan Num: %04llX", static_cast<unsigned long long>(info.number(40, 2))));
  EXPECT_EQ(id[1], formatText("Chip Num: %04llX", static_cast<unsigned long long>(info.number(42, 2))));
  EXPECT_EQ(id.size(), 2 + 3 * info.number(40, 2) * info.number(42, 2) + 1);
  std::vector<std::string> check = splitLines(perform(kRowFlashCheck));
  ASSERT_EQ(check.size(), 7u);
  EXPECT_EQ(check[2], formatText("ERU size       : 0x%04llX", static_cast<unsigned long long>(info.number(50, 2))));

  constexpr size_t kRowPlaneInfo = 6;
  run().inputs.channel = "1";
  run().inputs.chip = "1";
  run().inputs.die = "0";
  run().inputs.plane = "1";
  std::vector<std::string> plane = splitLines(perform(kRowPlaneInfo));
  ASSERT_EQ(plane.size(), slot() == 1 ? 33u : 37u);
  if (slot() == 0) {
    EXPECT_EQ(plane[3], formatText("BasePgperBlk    : 0x%04llX", static_cast<unsigned long long>(info.number(50, 2))));
    EXPECT_EQ(plane[1], formatText("End_Blk         : 0x%04llX", static_cast<unsigned long long>(info.number(48, 2) - 1)));
  }
  // A plane the drive does not have: no reply.
  run().inputs.channel = "FF";
  plane = splitLines(perform(kRowPlaneInfo));
  EXPECT_TRUE(plane[0].ends_with(": 0xFFFF")) << plane[0];
}

TEST_P(SimFlash, SpiWriteSavesAndReadsBackAcrossAPowerCycle) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::vector<uint8_t> before = spiImage();
  ASSERT_EQ(before.size(), 512u * 1024);
  EXPECT_EQ(std::string(before.begin(), before.begin() + 8), "ZVSPIBT1");  // the factory image

  std::string image(65536, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 131) >> 3);
  std::ofstream(sim.dir.file("new.bin"), std::ios::binary) << image;
  sim.ui.files.push_back(sim.dir.file("new.bin"));
  EXPECT_EQ(perform(kRowSpiWrite), "Write SPI Flash Success\r\nSave SPI Flash Success\r\n");

  std::string err;
  ASSERT_TRUE(sim.bay->powerCycle(slot(), err)) << err;
  sim.ui.files.push_back(sim.dir.file("read.bin"));
  EXPECT_EQ(perform(kRowSpiRead), "Read SPI Flash Success\r\n");
  EXPECT_TRUE(readFile(sim.dir.file("read.bin")) == image);

  // The SPI dump shows the new 64 KiB and the rest as it was.
  std::string text = perform(kRowSpiDump);
  std::string dump = readFile(fs::path(sim.dir.path()) / ("SpiDmp_Adr00000_Len80000_" + run().clock.stamp() + ".bin"));
  ASSERT_EQ(dump.size(), 512u * 1024);
  EXPECT_TRUE(dump.substr(0, 65536) == image);
  EXPECT_TRUE(dump.substr(65536) == std::string(before.begin() + 65536, before.end()));

  // A staged image that was never saved is gone after a power cycle.
  std::fill(sim.ctx().SectorBuffer.data(), sim.ctx().SectorBuffer.data() + 65536, uint8_t{0x11});
  AtaTaskFile tf;
  tf.ucCommand = 0xF7;
  tf.ucFeature = 0x14;
  ASSERT_TRUE(SendAtaCommand(sim.ctx(), true, tf, false, 65536));
  ASSERT_TRUE(sim.bay->powerCycle(slot(), err)) << err;
  std::vector<uint8_t> after = spiImage();
  EXPECT_TRUE(std::string(after.begin(), after.begin() + 65536) == image);
  tf.clear();
  tf.ucCommand = 0xF7;
  tf.ucFeature = 0x1B;
  EXPECT_FALSE(SendAtaCommand(sim.ctx(), true, tf, false, 512));  // nothing staged
}

TEST_P(SimFlash, RestoreRewritesTheSpiImageWithItsPadding) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::vector<uint8_t> before = spiImage();
  std::string image(1300, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i % 251);
  // A piece that looks like a vendor command sector is data all the same.
  std::memcpy(image.data() + 512, "VXASSD  \x30\xFF", 10);
  std::ofstream(sim.dir.file("restore.bin"), std::ios::binary) << image;
  sim.ui.files.push_back(sim.dir.file("restore.bin"));
  EXPECT_EQ(perform(kRowRestore), "Restore Bin Success\r\n----------------\r\n");
  std::vector<uint8_t> after = spiImage();
  EXPECT_TRUE(std::string(after.begin(), after.begin() + 1300) == image);
  EXPECT_EQ(std::vector<uint8_t>(after.begin() + 1300, after.begin() + 1536), std::vector<uint8_t>(236, 0xFF));
  EXPECT_TRUE(std::equal(after.begin() + 1536, after.end(), before.begin() + 1536));

  // A stream shorter than its announcement changes nothing.
  VendorCommandSector request = buildRestoreRequest(4);
  ASSERT_TRUE(WriteVendorSector(sim.ctx(), request));
  ASSERT_TRUE(SendVendorCommand(sim.ctx(), 0x55, 0x51));
  std::fill(sim.ctx().SectorBuffer.data(), sim.ctx().SectorBuffer.data() + 512, uint8_t{0x22});
  AtaTaskFile tf;
  tf.ucCommand = 0xE8;
  tf.ucCount = 1;
  ASSERT_TRUE(SendAtaCommand(sim.ctx(), true, tf, false, 512));
  ASSERT_TRUE(SendVendorCommand(sim.ctx(), 0x55, 0x00));
  EXPECT_TRUE(spiImage() == after);
}

INSTANTIATE_TEST_SUITE_P(BothClasses, SimFlash, ::testing::Values(0, 1));

class SimFlashClass0 : public FlashOnSim {
 protected:
  SimFlashClass0() : FlashOnSim(0) {}
};

TEST_F(SimFlashClass0, LaterBadReportFollowsGrownBadBlocks) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  perform(kRowDumpAll);
  std::string report = "LtrBadRptSNum__" + sim.ctx().selectedDrive().strSerial + "__1210.csv";
  std::vector<std::string> first = splitLines(readFile(fs::path(sim.dir.path()) / report));
  ASSERT_EQ(first.size(), 5u);
  EXPECT_TRUE(first[0].starts_with(",Chn 0,Chn 0,"));
  EXPECT_TRUE(first[3].starts_with("Item,Pln 0,Pln 1,"));
  EXPECT_TRUE(first[3].ends_with("Rec Time,"));

  // Plane 3 grows a bad block; the next dump's row shows it there.
  bool added = false;
  sim.bay->controller(0)->withDrive([&](sim::SimDrive& d) { added = sim::addLaterBadBlock(d, 3, 0x100); });
  ASSERT_TRUE(added);
  sim.clock.advance(std::chrono::minutes(5));
  run().clock = DiagClockValue{sim.clock.localTime(), true};
  perform(kRowDumpAll);
  std::vector<std::string> rows = splitLines(readFile(fs::path(sim.dir.path()) / report));
  ASSERT_EQ(rows.size(), 6u);
  auto cells = [](const std::string& row) {
    std::vector<std::string> out;
    std::stringstream s(row);
    for (std::string c; std::getline(s, c, ',');) out.push_back(c);
    return out;
  };
  std::vector<std::string> a = cells(rows[4]), b = cells(rows[5]);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(a[0], "Later Bad");
  for (size_t i = 1; i + 1 < a.size(); ++i) {
    EXPECT_EQ(std::stoi(b[i]), std::stoi(a[i]) + (i == 4 ? 1 : 0)) << i;
  }
  EXPECT_EQ(a.back(), "12/10 09:30:15");
  EXPECT_EQ(b.back(), "12/10 09:35:15");

  // The row's values are the later-bad counts of the plane summaries.
  std::string txt = readFile(fs::path(sim.dir.path()) / (dumpBase() + ".txt"));
  std::vector<std::string> lines = splitLines(txt);
  size_t plane = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != "Current Plane:") continue;
    ++plane;
    EXPECT_EQ(std::stoul(lines[i + 2].substr(13), nullptr, 16), std::stoul(b[plane])) << plane;
  }
  EXPECT_EQ(plane, b.size() - 2);
}

TEST_F(SimFlashClass0, MemoryDumpOfSramIsTheSameTwice) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  run().inputs.startMemory = "20000000";
  run().inputs.memoryLength = "400";
  perform(kRowMemory);
  fs::path file = fs::path(sim.dir.path()) / ("MemDmp_Adr20000000_Len400_" + run().clock.stamp() + ".bin");
  std::string once = readFile(file);
  ASSERT_EQ(once.size(), 0x400u);
  fs::remove(file);
  perform(kRowMemory);
  EXPECT_TRUE(readFile(file) == once);
  EXPECT_NE(once, std::string(0x400, '\xFF'));
}

TEST(SimFlashForeign, AForeignDriveHasNoSpiFlash) {
  test::SimFixture sim(2);
  ASSERT_TRUE(sim.ok()) << sim.error;
  StringSink pane;
  RowMemory memory;
  DiagRun run(sim.ctx(), pane, memory);
  run.directory = sim.dir.path();
  sim.ui.files.push_back(sim.dir.file("spi.bin"));
  EXPECT_EQ(PerformOperation(run, kRowSpiRead), "Read SPI Flash Fail\r\n");
  EXPECT_FALSE(fs::exists(sim.dir.file("spi.bin")));
  EXPECT_EQ(PerformOperation(run, kRowBadBlocks), "ATA read fail");
}

}  // namespace
}  // namespace zorv
