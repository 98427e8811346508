// The FTL, dump, restore and flash rows as the console performs them, on a
// scripted drive: what is sent, what is read, the texts and the files, and
// how far absurd replies are followed.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "scripted_drive.h"
#include "support/sim_fixture.h"
#include "diagnostics/ftl_decode.h"
#include "diagnostics/operation_table.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using test::filledSector;
using test::Sector;

constexpr size_t kRowOnePpn = 1, kRowPpnList = 2, kRowBitLayout = 3, kRowDumpAll = 5, kRowMemory = 9,
                 kRowRestore = 10, kRowSpiDump = 11, kRowDiagnostic = 15, kRowSpiRead = 20, kRowSpiWrite = 21,
                 kRowBadBlocks = 22;
const std::string kStamp = "1210093015";  // the test clock: December 10, 09:30:15

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t lines(const std::string& t) { return static_cast<size_t>(std::count(t.begin(), t.end(), '\n')); }

class FlashRows : public ::testing::Test {
 protected:
  test::ScriptedDrive drive;
  test::TempDir dir;
  std::unique_ptr<test::ScriptedRun> runner = std::make_unique<test::ScriptedRun>(drive, dir.path());
  DiagRun& run() { return runner->run; }
  std::string pane() { return runner->pane.text(); }
  std::string perform(size_t row) { return PerformOperation(run(), row); }
  fs::path file(const std::string& name) { return fs::path(dir.path()) / name; }
  size_t reads() { return drive.withCommand(0xE4).size(); }
  std::vector<fs::path> files() {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir.path())) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
};

// ---- 3101, 3102, 3103 -----------------------------------------------------------------

Sector layoutReply() {
  Sector s{};
  const uint8_t widths[9] = {3, 2, 1, 1, 12, 9, 2, 1, 1};
  for (size_t k = 0; k < 9; ++k) s[1 + 2 * k] = widths[k];
  return s;
}

Sector ppnSector(const std::vector<uint32_t>& ppns, bool more) {
  Sector s{};
  for (size_t i = 0; i < ppns.size(); ++i) {
    for (int b = 0; b < 4; ++b) s[4 * i + static_cast<size_t>(b)] = static_cast<uint8_t>(ppns[i] >> (24 - 8 * b));
  }
  s[507] = static_cast<uint8_t>(ppns.size());
  if (more) {
    s[510] = 0xAB;
    s[511] = 0xCD;
  }
  return s;
}

TEST_F(FlashRows, PpnListWaitsForTheLayoutThenFollowsTheMarkers) {
  run().inputs.startPpn = "1F0";
  run().inputs.endPpn = "26F";
  run().inputs.map = "01";
  EXPECT_EQ(perform(kRowPpnList), "");
  EXPECT_EQ(pane(), "Please Read Structure Bit Define First\r\n");

  drive.replies.push_back(layoutReply());
  std::string layoutText = perform(kRowBitLayout);
  EXPECT_EQ(lines(layoutText), 10u);

  std::vector<uint32_t> first(126, 0x80000000u);  // trim only
  first[0] = (0x123u << 7) | 5u;
  drive.replies.push_back(ppnSector(first, true));
  drive.replies.push_back(ppnSector({0x45u << 19, 1u << 28}, false));
  runner->pane.clear();
  size_t readsBefore = reads();
  std::string text = perform(kRowPpnList);
  EXPECT_EQ(reads() - readsBefore, 2u);  // the reply and the sector its marker announced
  EXPECT_EQ(lines(text), 128u);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1),
            "PPN: 01F0, Channel : 5, Chip : 0, Die : 0, Plane : 0, Block : 0123, Page : 00, Auloc : 0, Trim : 0\r\n");
  EXPECT_NE(text.find("PPN: 026E, Channel : 0, Chip : 0, Die : 0, Plane : 0, Block : 0000, Page : 45, Auloc : 0, "
                      "Trim : 0\r\nPPN: 026F, Channel : 0, Chip : 0, Die : 0, Plane : 0, Block : 0000, Page : 00, "
                      "Auloc : 1, Trim : 0\r\n"),
            std::string::npos);
  EXPECT_EQ(pane(), text);

  // The sector sent: code, parameter, both PPNs and the map choice.
  const test::ScriptedCommand& sector = drive.sent[drive.sent.size() - 3];
  ASSERT_EQ(sector.command, 0xE8);
  EXPECT_EQ(sector.data[8], 0x31);
  EXPECT_EQ(sector.data[9], 0x02);
  EXPECT_EQ(sector.data[18], 0x01);
  EXPECT_EQ(sector.data[19], 0xF0);
  EXPECT_EQ(sector.data[22], 0x02);
  EXPECT_EQ(sector.data[23], 0x6F);
  EXPECT_EQ(sector.data[24], 0x01);
}

TEST_F(FlashRows, EmptyPpnListAndOnePpn) {
  drive.replies.push_back(layoutReply());
  perform(kRowBitLayout);
  drive.replies.push_back(ppnSector({}, false));
  EXPECT_EQ(perform(kRowPpnList), "");

  Sector one{};
  one[1] = 3;
  one[9] = 0x77;
  drive.replies.push_back(one);
  run().inputs.startPpn = "200";
  EXPECT_EQ(perform(kRowOnePpn), "PPN: 0200, Channel : 3, Chip : 0, Die : 0, Plane : 0, Block : 0077, Page : 00, "
                                 "Auloc : 0, Trim : 0\r\n----------------\r\n");
}

TEST_F(FlashRows, EndlessPpnListIsReadNoFurtherThanSectorBufferHolds) {
  drive.replies.push_back(layoutReply());
  perform(kRowBitLayout);
  Sector forever = filledSector(0);
  forever[507] = 0xFF;  // more PPNs than the sector holds
  forever[510] = 0xAB;
  forever[511] = 0xCD;
  drive.endless = forever;
  size_t before = reads();
  std::string text = perform(kRowPpnList);
  EXPECT_EQ(reads() - before, kMaxPpnListSectors);
  EXPECT_EQ(lines(text), kMaxPpnListSectors * kPpnsPerListSector);
}

// ---- 3202 -----------------------------------------------------------------------------

Sector dumpHeader(uint16_t validBytes, uint16_t countdown, uint8_t plane = 0) {
  Sector h{};
  h[1] = 0;
  h[3] = 0;
  h[5] = 0;
  h[7] = plane;
  h[8] = static_cast<uint8_t>(validBytes >> 8);
  h[9] = static_cast<uint8_t>(validBytes);
  h[10] = 0;
  h[11] = 0x20;  // records from 20h on use the MLC base
  h[12] = static_cast<uint8_t>(countdown >> 8);
  h[13] = static_cast<uint8_t>(countdown);
  const uint8_t widths[6] = {2, 1, 8, 14, 10, 4};
  const size_t at[6] = {17, 19, 21, 25, 27, 29};
  for (size_t i = 0; i < 6; ++i) h[at[i]] = widths[i];
  h[33] = 1;  // SLC base: 1 x 2^13
  h[35] = 2;  // MLC base: 2 x 2^13
  return h;
}

Sector recordSector(size_t count, uint32_t firstIndex) {
  Sector s{};
  for (size_t r = 0; r < count; ++r) {
    uint32_t index = firstIndex + static_cast<uint32_t>(r);
    uint64_t type = index == 3 ? 1 : index == 0x40 ? 2 : 3;
    uint64_t record = (type << 35) | (uint64_t{index % 7} << 25) | (uint64_t{index} << 11) | (uint64_t{1} << 3);
    for (int b = 0; b < 8; ++b) s[8 * r + static_cast<size_t>(b)] = static_cast<uint8_t>(record >> (8 * b));
  }
  return s;
}

TEST_F(FlashRows, DumpWhoseFirstHeaderAnnouncesOneSectorDecodesNothing) {
  drive.replies.push_back(dumpHeader(0x208, 1));
  EXPECT_EQ(perform(kRowDumpAll), "");
  EXPECT_EQ(pane(), "Dump Block Info Ok\r\n");
  EXPECT_EQ(reads(), 1u);
  EXPECT_TRUE(files().empty());  // no dump files, no later-bad report
}

TEST_F(FlashRows, DumpEndsAtAHeaderMarkedFf) {
  drive.replies.push_back(filledSector(0xFF));
  EXPECT_EQ(perform(kRowDumpAll), "");
  EXPECT_EQ(pane(), "Dump Block Info Ok\r\n");
}

TEST_F(FlashRows, SixtyFiveRecordsSpanTwoRecordSectors) {
  // One group: header, 64 records, 1 record; the next sector is no header.
  drive.replies.push_back(dumpHeader(0x208, 3));
  drive.replies.push_back(recordSector(64, 0));
  drive.replies.push_back(recordSector(1, 64));
  std::string returned = perform(kRowDumpAll);
  EXPECT_EQ(reads(), 4u);

  std::string defs = "User Data Bit: 02, Shf: 00, Msk: 0000000000000003\r\n";
  EXPECT_EQ(returned.substr(0, defs.size()), defs);
  EXPECT_NE(returned.find("Erse Base SLC: 01\r\nErse Base MLC: 02\r\n----------------\r\n"), std::string::npos);
  EXPECT_EQ(pane(), returned +
                        "============Ch 00==Chip 00==Die 00==Plane 00====DataBlkS 0020========\r\n"
                        "Valid Byte follow: 520\r\nDump Block Info Ok\r\n");

  const std::string base = "BlkInfoSNum__SN0042__" + kStamp;
  std::string txt = readFile(file(base + ".txt"));
  EXPECT_EQ(lines(txt), 1u + 65 + 5);
  // The SLC base below DataBlkS, the MLC base from it on.
  EXPECT_NE(txt.find("Blk 001F : IvidPNum 0003 wlidx 0001 BLKty 0003 EC 201F\r\n"), std::string::npos);
  EXPECT_NE(txt.find("Blk 0020 : IvidPNum 0004 wlidx 0001 BLKty 0003 EC 4020\r\n"), std::string::npos);
  EXPECT_NE(txt.find("Blk 0040 : IvidPNum 0001 wlidx 0001 BLKty 0002 EC 4040\r\n"), std::string::npos);
  EXPECT_EQ(txt.find("Blk 0041"), std::string::npos);
  EXPECT_NE(txt.find("Current Plane:\r\nEarly Bad: 0x0001\r\nLater Bad: 0x0001\r\n"), std::string::npos);
  std::string bin = readFile(file(base + ".bin"));
  ASSERT_EQ(bin.size(), 3u * 512);
  EXPECT_EQ(static_cast<uint8_t>(bin[9]), 0x08);  // the header sector first

  // The later-bad report: header rows, then one row per dump of the day.
  fs::path report = file("LtrBadRptSNum__SN0042__1210.csv");
  EXPECT_EQ(readFile(report), ",Chn 0,\r\n,Chp 0,\r\n,Die 0,\r\nItem,Pln 0,Rec Time,\r\nLater Bad,1,12/10 09:30:15,\r\n");
  drive.replies.push_back(dumpHeader(8, 2));
  drive.replies.push_back(recordSector(1, 0x40));
  perform(kRowDumpAll);
  EXPECT_EQ(readFile(report), ",Chn 0,\r\n,Chp 0,\r\n,Die 0,\r\nItem,Pln 0,Rec Time,\r\n"
                              "Later Bad,1,12/10 09:30:15,\r\nLater Bad,1,12/10 09:30:15,\r\n");
}

TEST_F(FlashRows, Class1DumpHasNoPlaneSummaryNorReport) {
  runner = std::make_unique<test::ScriptedRun>(drive, dir.path(), 1);
  Sector h{};
  h[3] = 4;
  h[7] = 1;
  h[9] = 16;  // two records
  h[11] = 1;
  h[13] = 2;
  h[21] = 4;
  h[23] = 14;
  h[25] = 10;
  h[27] = 8;
  drive.replies.push_back(h);
  Sector r{};
  r[0] = 0x21;  // type 1, erase count 2
  r[8] = 0x13;  // type 3, erase count 1
  drive.replies.push_back(r);
  std::string returned = perform(kRowDumpAll);
  EXPECT_EQ(lines(returned), 4u + 3);
  std::string txt = readFile(file("BlkInfoSNum__SN0042__" + kStamp + ".txt"));
  EXPECT_EQ(txt, "============Raid 01===SlcStr 0004===RsvStr 0000===NonSlcStr 0001========\r\n"
                 "Blk 0000 : IvidPNum 0000 wlidx 0000 BLKty 0001 EC 0002\r\n"
                 "Blk 0001 : IvidPNum 0000 wlidx 0000 BLKty 0003 EC 0001\r\n");
  EXPECT_FALSE(fs::exists(file("LtrBadRptSNum__SN0042__1210.csv")));
}

TEST_F(FlashRows, AnEndlessDumpIsReadNoFurtherThanItsCountdown) {
  // Every sector claims a full group of records; the first announced 300 sectors.
  drive.replies.push_back(dumpHeader(0xFFF8, 300));
  drive.endless = dumpHeader(0xFFF8, 0xFFFF);
  perform(kRowDumpAll);
  EXPECT_EQ(reads(), 300u);
  EXPECT_EQ(readFile(file("BlkInfoSNum__SN0042__" + kStamp + ".bin")).size(), 300u * 512);
  EXPECT_NE(pane().find("Dump Block Info Ok\r\n"), std::string::npos);
}

// ---- 50, 52 ---------------------------------------------------------------------------

TEST_F(FlashRows, MemoryDumpInChunksOf128Sectors) {
  run().inputs.startMemory = "2000a";
  run().inputs.memoryLength = "20000";
  for (int i = 0; i < 256; ++i) drive.replies.push_back(filledSector(static_cast<uint8_t>(i)));
  std::string text = perform(kRowMemory);
  const std::string name = "MemDmp_Adr2000A_Len20000_" + kStamp + ".bin";
  EXPECT_EQ(text, "Memory Dump End\r\nFile Name is:\r\n" + name + "\r\n");
  EXPECT_EQ(pane(), "Current Memory: 0002000A, Length: 00010000\r\nCurrent Memory: 0003000A, Length: 00010000\r\n" +
                        text);
  auto requests = drive.withCommand(0xE8);
  ASSERT_EQ(requests.size(), 2u);
  const std::vector<uint8_t>& second = requests[1]->data;
  EXPECT_EQ(second[8], 0x50);
  EXPECT_EQ(second[9], 0xFF);
  EXPECT_EQ((std::vector<uint8_t>(second.begin() + 16, second.begin() + 22)),
            (std::vector<uint8_t>{0x00, 0x03, 0x00, 0x0A, 0x00, 0x80}));
  EXPECT_EQ(reads(), 256u);
  std::string bin = readFile(file(name));
  ASSERT_EQ(bin.size(), 0x20000u);
  EXPECT_EQ(static_cast<uint8_t>(bin[200 * 512 + 5]), 200);
}

TEST_F(FlashRows, MemoryDumpRoundsUpToSectorsAndRefusesEmptyInput) {
  run().inputs.startMemory = "1000";
  run().inputs.memoryLength = "201";
  perform(kRowMemory);
  EXPECT_EQ(reads(), 2u);
  EXPECT_EQ(fs::file_size(file("MemDmp_Adr1000_Len400_" + kStamp + ".bin")), 0x400u);

  drive.sent.clear();
  runner->pane.clear();
  run().inputs.memoryLength = "0";
  EXPECT_EQ(perform(kRowMemory), "Error.... Input Empty");
  run().inputs.memoryLength = "10";
  run().inputs.startMemory = "";
  EXPECT_EQ(perform(kRowMemory), "Error.... Input Empty");
  EXPECT_EQ(pane(), "Error.... Input EmptyError.... Input Empty");
  EXPECT_TRUE(drive.sent.empty());
}

TEST_F(FlashRows, SpiDumpIsEightChunksFromZero) {
  run().inputs.startMemory = "1234";  // not used by the SPI dump
  std::string text = perform(kRowSpiDump);
  auto requests = drive.withCommand(0xE8);
  ASSERT_EQ(requests.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    const auto& d = requests[i]->data;
    EXPECT_EQ(d[8], 0x52);
    uint32_t address = uint32_t{d[16]} << 24 | uint32_t{d[17]} << 16 | uint32_t{d[18]} << 8 | d[19];
    EXPECT_EQ(address, i * 0x10000);
    EXPECT_EQ(d[20] << 8 | d[21], 128);
  }
  const std::string name = "SpiDmp_Adr00000_Len80000_" + kStamp + ".bin";
  EXPECT_EQ(text, "Memory Dump End\r\nFile Name is:\r\n" + name + "\r\n");
  EXPECT_EQ(fs::file_size(file(name)), 0x80000u);
}

// ---- 51 -------------------------------------------------------------------------------

TEST_F(FlashRows, RestoreStreamPadsTheLastPieceWithFf) {
  std::string path = dir.file("image.bin");
  std::string image(1300, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  std::ofstream(path, std::ios::binary) << image;
  drive.tc.ui.files.push_back(path);
  EXPECT_EQ(perform(kRowRestore), "Restore Bin Success\r\n----------------\r\n");

  auto writes = drive.withCommand(0xE8);
  ASSERT_EQ(writes.size(), 1u + 1 + 3 + 1);
  EXPECT_EQ(writes[0]->data[8], 0x51);
  EXPECT_EQ(writes[0]->data[16] << 8 | writes[0]->data[17], 2);  // whole sectors announced
  EXPECT_EQ(writes[1]->data[8], 0x55);
  EXPECT_EQ(writes[1]->data[9], 0x51);
  for (size_t piece = 0; piece < 3; ++piece) {
    const auto& d = writes[2 + piece]->data;
    ASSERT_EQ(d.size(), 512u);
    size_t n = std::min<size_t>(512, image.size() - piece * 512);
    EXPECT_EQ(std::string(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(n)), image.substr(piece * 512, n));
    for (size_t i = n; i < 512; ++i) ASSERT_EQ(d[i], 0xFF) << piece << " " << i;
  }
  EXPECT_EQ(writes[5]->data[8], 0x55);
  EXPECT_EQ(writes[5]->data[9], 0x00);
}

TEST_F(FlashRows, RestoreStreamStopsAtAFailedPieceAndStillCloses) {
  std::string path = dir.file("image.bin");
  std::ofstream(path, std::ios::binary) << std::string(4 * 512, 'x');
  drive.tc.ui.files.push_back(path);
  drive.failNth = 3;  // request, start marker, first piece, second piece
  EXPECT_EQ(perform(kRowRestore), "Restore Bin Fail\r\n----------------\r\n");
  auto writes = drive.withCommand(0xE8);
  ASSERT_EQ(writes.size(), 5u);
  EXPECT_EQ(writes[4]->data[8], 0x55);
  EXPECT_EQ(writes[4]->data[9], 0x00);
  EXPECT_TRUE(run().commandFailed);
}

// ---- 5702 -----------------------------------------------------------------------------

TEST_F(FlashRows, DiagnosticDumpSwapsLineEndsAlsoAcrossPieces) {
  std::string raw(700, 'x');
  const size_t ends[] = {10, 510, 600};  // 511/512: a pair split between two pieces
  for (size_t e : ends) {
    raw[e + 1] = '\n';
    raw[e + 2] = '\r';
  }
  Sector head{};
  head[0] = static_cast<uint8_t>(raw.size());
  head[1] = static_cast<uint8_t>(raw.size() >> 8);
  drive.replies.push_back(head);
  Sector a{}, b{};
  std::copy(raw.begin(), raw.begin() + 512, a.begin());
  std::copy(raw.begin() + 512, raw.end(), b.begin());
  drive.replies.push_back(a);
  drive.replies.push_back(b);
  std::string text = perform(kRowDiagnostic);
  std::string expected = raw;
  for (size_t e : ends) {
    expected[e + 1] = '\r';
    expected[e + 2] = '\n';
  }
  EXPECT_EQ(text, expected);
  EXPECT_EQ(pane(), expected);
  EXPECT_EQ(readFile(file("DiagDump" + kStamp + ".txt")), expected);
  EXPECT_EQ(reads(), 3u);
}

TEST_F(FlashRows, DiagnosticDumpOfNothingAndOfAnAbsurdLength) {
  drive.replies.push_back(filledSector(0));
  EXPECT_EQ(perform(kRowDiagnostic), "");
  EXPECT_TRUE(files().empty());

  Sector head = filledSector(0xFF);  // FFFFFFFFh bytes announced
  drive.replies.push_back(head);
  drive.sent.clear();
  std::string text = perform(kRowDiagnostic);
  EXPECT_EQ(reads(), 1u);
  EXPECT_EQ(text, "Diagnostic length FFFFFFFF is more than 65536 bytes: nothing read\r\n");
  EXPECT_EQ(pane(), text);
  EXPECT_TRUE(files().empty());

  // The longest text believed: 64 KiB, 128 pieces.
  Sector longest{};
  longest[2] = 0x01;
  drive.replies.push_back(longest);
  drive.endless = filledSector('z');
  drive.sent.clear();
  EXPECT_EQ(perform(kRowDiagnostic), std::string(65536, 'z'));
  EXPECT_EQ(reads(), 1u + 128);
  drive.endless.reset();

  // A piece the drive does not deliver ends the text.
  Sector head2{};
  head2[1] = 0x10;  // 4096 bytes announced
  drive.replies.push_back(head2);
  drive.replies.push_back(filledSector('a'));
  drive.sent.clear();
  drive.failNth = 3;  // query write, query read, first piece, second piece
  EXPECT_EQ(perform(kRowDiagnostic), std::string(512, 'a') +
                                         "\r\nDiagnostic Dump Fail: 512 of 4096 bytes read\r\n"
                                         "The file is incomplete: DiagDump" +
                                         kStamp + ".txt\r\n");
  EXPECT_EQ(reads(), 3u);

  // A reply that never came names no length.
  drive.sent.clear();
  drive.failNth = 1;
  runner->pane.clear();
  EXPECT_EQ(perform(kRowDiagnostic), "5702 Diagnostic Dump Fail: the drive did not answer\r\n");
  EXPECT_EQ(pane(), "5702 Diagnostic Dump Fail: the drive did not answer\r\n");
  EXPECT_EQ(reads(), 1u);
}

// ---- F712, F714, F740 -------------------------------------------------------------------

TEST_F(FlashRows, BadBlockListReadsAndDecodes) {
  drive.bigReply.assign(65536, 0);
  drive.bigReply[5] = 2;
  drive.bigReply[7] = 4;
  std::string text = perform(kRowBadBlocks);
  ASSERT_EQ(drive.sent.size(), 1u);
  EXPECT_EQ(drive.sent[0].command, 0xF7);
  EXPECT_EQ(drive.sent[0].feature, 0x40);
  EXPECT_EQ(drive.sent[0].length, 65536u);
  EXPECT_FALSE(drive.sent[0].dataOut);
  EXPECT_EQ(lines(text), 5u + 8);
  EXPECT_EQ(pane(), "Read SPI Flash Success\r\n" + text);
  EXPECT_NE(drive.tc.pane.text().find("Read SPI Flash Success"), std::string::npos);

  drive.failCommand = 0xF7;
  runner->pane.clear();
  EXPECT_EQ(perform(kRowBadBlocks), "ATA read fail");
  EXPECT_EQ(pane(), "");
}

TEST_F(FlashRows, SpiFlashReadSavesTheImage) {
  drive.bigReply.resize(65536);
  for (size_t i = 0; i < drive.bigReply.size(); ++i) drive.bigReply[i] = static_cast<uint8_t>(i / 256);
  drive.tc.ui.files.push_back(dir.file("spi.bin"));
  EXPECT_EQ(perform(kRowSpiRead), "Read SPI Flash Success\r\n");
  EXPECT_EQ(readFile(dir.file("spi.bin")), std::string(drive.bigReply.begin(), drive.bigReply.end()));

  // A failed read offers nothing for saving, and says so on the tab.
  drive.failCommand = 0xF7;
  drive.tc.ui.files.push_back(dir.file("again.bin"));
  runner->pane.clear();
  EXPECT_EQ(perform(kRowSpiRead), "Read SPI Flash Fail\r\n");
  EXPECT_EQ(pane(), "Read SPI Flash Fail\r\n");
  EXPECT_EQ(drive.tc.ui.files.size(), 1u);
  EXPECT_FALSE(fs::exists(dir.file("again.bin")));
}

TEST_F(FlashRows, SpiFlashWriteSendsTheImageThenSaves) {
  std::string path = dir.file("short.bin");
  std::ofstream(path, std::ios::binary) << std::string(100, 'A');
  drive.tc.ui.files.push_back(path);
  std::string text = perform(kRowSpiWrite);
  EXPECT_EQ(text, "Write SPI Flash Success\r\nSave SPI Flash Success\r\n");
  ASSERT_EQ(drive.sent.size(), 2u);
  const auto& write = drive.sent[0];
  EXPECT_EQ(write.feature, 0x14);
  ASSERT_EQ(write.data.size(), 65536u);
  EXPECT_EQ(write.data[99], 'A');
  EXPECT_EQ(write.data[100], 0xFF);
  EXPECT_EQ(write.data[65535], 0xFF);
  EXPECT_EQ(drive.sent[1].feature, 0x1B);
  EXPECT_TRUE(drive.sent[1].dataOut);
  EXPECT_EQ(drive.tc.clock.totalSlept(), std::chrono::milliseconds(500));
}

TEST_F(FlashRows, SpiFlashWriteRefusesWhatIsNoImage) {
  EXPECT_EQ(perform(kRowSpiWrite), "");  // dialog cancelled
  EXPECT_TRUE(run().inputRefused);
  std::string big = dir.file("big.bin");
  std::ofstream(big, std::ios::binary) << std::string(65537, 'B');
  std::string empty = dir.file("empty.bin");
  std::ofstream(empty, std::ios::binary).flush();
  drive.tc.ui.files = {big, empty, dir.file("missing.bin")};
  EXPECT_EQ(perform(kRowSpiWrite), "File too large for the SPI flash: 65537 bytes (at most 65536)\r\n");
  EXPECT_EQ(perform(kRowSpiWrite), "Nothing to write: " + empty + " is empty\r\n");
  EXPECT_EQ(perform(kRowSpiWrite), "Cannot open " + dir.file("missing.bin") + "\r\n");
  EXPECT_TRUE(drive.sent.empty());
  EXPECT_TRUE(run().inputRefused);
  EXPECT_FALSE(run().commandFailed);

  // A write the drive refused is not saved, and the tab says it failed.
  std::string ok = dir.file("ok.bin");
  std::ofstream(ok, std::ios::binary) << std::string(65536, 'C');
  drive.tc.ui.files = {ok};
  drive.failCommand = 0xF7;
  runner->pane.clear();
  EXPECT_EQ(perform(kRowSpiWrite), "Write SPI Flash Fail\r\n");
  EXPECT_EQ(pane(), "Write SPI Flash Fail\r\n");
  ASSERT_EQ(drive.sent.size(), 1u);
  EXPECT_EQ(drive.sent[0].feature, 0x14);

  // A save the drive refused is a line of its own.
  drive.sent.clear();
  drive.tc.ui.files = {ok};
  drive.failFeature = 0x1B;
  EXPECT_EQ(perform(kRowSpiWrite), "Write SPI Flash Success\r\nSave SPI Flash Fail\r\n");
  EXPECT_EQ(drive.sent.size(), 2u);
}

// ---- Failed reads and the clock of each dump --------------------------------------------

TEST_F(FlashRows, MemoryDumpStopsAtAFailedReadAndKeepsOnlyWhatWasRead) {
  run().inputs.startMemory = "10000";
  run().inputs.memoryLength = "20000";
  for (int i = 0; i < 256; ++i) drive.replies.push_back(filledSector(static_cast<uint8_t>(i)));
  // Chunk 1: request 0, reads 1-128; chunk 2: request 129, reads 130-...: the sixth read of chunk 2 fails.
  drive.failNth = 135;
  std::string text = perform(kRowMemory);
  const std::string name = "MemDmp_Adr10000_Len20000_" + kStamp + ".bin";
  EXPECT_EQ(text, "Memory Dump Fail\r\nFile Name is:\r\n" + name +
                      "\r\nThe file is incomplete: 10A00 of 20000 bytes read\r\n");
  EXPECT_TRUE(pane().ends_with(text));
  EXPECT_EQ(pane().find("Memory Dump End"), std::string::npos);
  EXPECT_EQ(drive.sent.size(), 136u);  // nothing more is asked after the failure
  std::string bin = readFile(file(name));
  ASSERT_EQ(bin.size(), 133u * 512);
  EXPECT_EQ(static_cast<uint8_t>(bin.back()), 132);  // only sectors that came back, no FFh fill
  EXPECT_TRUE(run().commandFailed);
}

TEST_F(FlashRows, SpiDumpThatReadsNothingLeavesNoFile) {
  drive.failCommand = 0xE4;
  std::string text = perform(kRowSpiDump);
  EXPECT_EQ(text, "Memory Dump Fail\r\nNo data was read: no file written\r\n");
  EXPECT_EQ(pane(), "Current Memory: 00000000, Length: 00010000\r\n" + text);
  EXPECT_TRUE(files().empty());
  EXPECT_EQ(drive.sent.size(), 2u);

  // A request the drive refused is no dump either.
  drive.failCommand = 0xE8;
  drive.sent.clear();
  EXPECT_EQ(perform(kRowSpiDump), "Memory Dump Fail\r\nNo data was read: no file written\r\n");
  EXPECT_EQ(drive.sent.size(), 1u);
}

TEST_F(FlashRows, BlockDumpWithoutItsFirstHeaderFailsWithoutFiles) {
  drive.failCommand = 0xE4;
  EXPECT_EQ(perform(kRowDumpAll), "3202 Dump All Block Info Fail: the drive did not answer\r\n");
  EXPECT_EQ(pane(), "3202 Dump All Block Info Fail: the drive did not answer\r\n");
  EXPECT_TRUE(files().empty());
}

TEST_F(FlashRows, BlockDumpCutByAFailedReadSaysItsFilesAreIncomplete) {
  drive.replies.push_back(dumpHeader(0x208, 3));
  drive.replies.push_back(recordSector(64, 0));
  drive.replies.push_back(recordSector(1, 64));
  drive.failNth = 3;  // query write, header, first record sector, second record sector
  std::string returned = perform(kRowDumpAll);
  const std::string base = "BlkInfoSNum__SN0042__" + kStamp;
  const std::string failure =
      "Dump Block Info Fail: READ BUFFER failed\r\nThe files are incomplete: " + base + ".txt, " + base +
      ".bin\r\n";
  EXPECT_TRUE(returned.starts_with("User Data Bit: 02,"));
  EXPECT_TRUE(returned.ends_with(failure)) << returned;  // the run log keeps the failure
  EXPECT_TRUE(pane().ends_with(failure));
  EXPECT_EQ(pane().find("Dump Block Info Ok"), std::string::npos);
  EXPECT_EQ(readFile(file(base + ".bin")).size(), 2u * 512);
  std::string txt = readFile(file(base + ".txt"));
  EXPECT_EQ(lines(txt), 1u + 64);  // no plane summary for a plane half read
  EXPECT_FALSE(fs::exists(file("LtrBadRptSNum__SN0042__1210.csv")));
}

TEST_F(FlashRows, DumpFilesAreNamedByTheClockWhenTheyAreMade) {
  // The run started at 09:30:15; each dump happens a minute and more later.
  drive.tc.clock.advance(std::chrono::seconds(65));
  run().inputs.startMemory = "1000";
  run().inputs.memoryLength = "200";
  perform(kRowMemory);
  drive.replies.push_back(dumpHeader(8, 2));
  drive.replies.push_back(recordSector(1, 0x40));
  perform(kRowDumpAll);
  Sector head{};
  head[0] = 3;
  drive.replies.push_back(head);
  drive.replies.push_back(filledSector('d'));
  perform(kRowDiagnostic);
  EXPECT_EQ(files(), (std::vector<fs::path>{"BlkInfoSNum__SN0042__1210093120.bin",
                                            "BlkInfoSNum__SN0042__1210093120.txt", "DiagDump1210093120.txt",
                                            "LtrBadRptSNum__SN0042__1210.csv",
                                            "MemDmp_Adr1000_Len200_1210093120.bin"}));
  EXPECT_TRUE(readFile(file("LtrBadRptSNum__SN0042__1210.csv")).ends_with("12/10 09:31:20,\r\n"));
}

}  // namespace
}  // namespace zorv
