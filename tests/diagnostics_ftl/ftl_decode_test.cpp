// The pure decoders of the FTL, block, flash and bad-block replies: layout
// arithmetic, text layouts, the later-bad report and their bounds.

#include <gtest/gtest.h>

#include <vector>

#include "diagnostics/ftl_decode.h"

namespace zorv {
namespace {

std::vector<uint8_t> sector(size_t size = 512, uint8_t fill = 0) { return std::vector<uint8_t>(size, fill); }

std::vector<uint8_t> widthReply(const std::array<uint8_t, 9>& widths) {
  auto r = sector();
  for (size_t k = 0; k < 9; ++k) r[1 + 2 * k] = widths[k];
  return r;
}

DiagClockValue clockAt(int month, int day, int hour, int minute, int second) {
  DiagClockValue c;
  c.valid = true;
  c.time.tm_mon = month - 1;
  c.time.tm_mday = day;
  c.time.tm_hour = hour;
  c.time.tm_min = minute;
  c.time.tm_sec = second;
  return c;
}

TEST(PpnLayout, ShiftsAndMasksOfTheWorkedExample) {
  PpnLayout l = ppnLayoutFromReply(widthReply({3, 2, 1, 1, 12, 9, 2, 1, 1}));
  const uint32_t shifts[8] = {0, 3, 5, 6, 7, 19, 28, 30};
  for (size_t k = 0; k < 8; ++k) EXPECT_EQ(l.shift[k], shifts[k]) << k;
  EXPECT_EQ(l.mask[kPpnChip], 0x00000018u);
  EXPECT_EQ(l.mask[kPpnBlck], 0x0007FF80u);
  EXPECT_EQ(l.mask[kPpnTrim], 0x80000000u);
  EXPECT_EQ(l.shift[kPpnTrim], 31u);
  std::string text = ppnLayoutText(l);
  EXPECT_EQ(text.substr(0, text.find("blck")),
            "chan bits 3, shift 00, mask 00000007\r\n"
            "chip bits 2, shift 03, mask 00000018\r\n"
            "die  bits 1, shift 05, mask 00000020\r\n"
            "plan bits 1, shift 06, mask 00000040\r\n");
  EXPECT_NE(text.find("blck bits C, shift 07, mask 0007FF80\r\n"), std::string::npos);
  EXPECT_NE(text.find("trim bits 1, shift 1F, mask 80000000\r\n----------------\r\n"), std::string::npos);

  // Field extraction: block 0x123, page 0x45, trim set.
  uint32_t ppn = 0x80000000u | (0x45u << 19) | (0x123u << 7) | (1u << 5) | (2u << 3) | 5u;
  EXPECT_EQ(ppnListLine(0x200, ppn, l),
            "PPN: 0200, Channel : 5, Chip : 2, Die : 1, Plane : 0, Block : 0123, Page : 45, Auloc : 0, Trim : 1\r\n");
}

TEST(PpnLayout, DieWidthZeroPrintsDieZero) {
  PpnLayout l = ppnLayoutFromReply(widthReply({2, 1, 0, 1, 12, 8, 2, 5, 1}));
  EXPECT_EQ(l.mask[kPpnDie], 0u);
  EXPECT_EQ(l.shift[kPpnPlan], 3u);
  for (uint32_t ppn : {0u, 0xFFFFFFFFu, 0x12345678u}) {
    std::string line = ppnListLine(7, ppn, l);
    EXPECT_NE(line.find(", Die : 0, Plane : "), std::string::npos) << line;
  }
}

TEST(PpnLayout, AbsurdWidthsStayInsideTheWord) {
  PpnLayout l = ppnLayoutFromReply(widthReply({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(l.mask[kPpnChan], 0xFFFFFFFFu);
  EXPECT_EQ(l.mask[kPpnChip], 0u);
  EXPECT_EQ(l.shift[kPpnTrim], 8u * 0xFF);
  EXPECT_EQ(l.field(kPpnTrim, 0xFFFFFFFF), 0u);
  EXPECT_EQ(l.field(kPpnChan, 0xDEADBEEF), 0xDEADBEEFu);
  // A reply shorter than the widths reads the missing ones as FFh.
  PpnLayout shortReply = ppnLayoutFromReply(std::vector<uint8_t>(4, 0));
  EXPECT_EQ(shortReply.width[kPpnTrim], 0xFFu);
}

TEST(PpnLayout, OnePpnAndBlockInfoTexts) {
  auto r = sector();
  const uint16_t words[8] = {1, 0, 1, 1, 0x0ABC, 0x3F, 2, 0};
  for (size_t i = 0; i < 8; ++i) {
    r[2 * i] = static_cast<uint8_t>(words[i] >> 8);
    r[2 * i + 1] = static_cast<uint8_t>(words[i]);
  }
  EXPECT_EQ(onePpnText(0x200, r),
            "PPN: 0200, Channel : 1, Chip : 0, Die : 1, Plane : 1, Block : 0ABC, Page : 3F, Auloc : 2, Trim : 0\r\n"
            "----------------\r\n");
  EXPECT_EQ(blockInfoText(r),
            "Invalid Page Num   : 0001\r\nWear Leveling Index: 0000\r\nType               : 0001\r\n"
            "Erase Count        : 0001\r\nUser Data          : 0ABC\r\nTable Flag         : 003F\r\n"
            "----------------\r\n");
}

std::vector<uint8_t> class0Header() {
  auto h = sector();
  h[1] = 1;     // channel
  h[3] = 0;     // chip
  h[5] = 1;     // die
  h[7] = 2;     // plane
  h[8] = 0x02;  // valid bytes 0x208
  h[9] = 0x08;
  h[11] = 0x20;  // DataBlkS
  h[13] = 5;     // countdown
  const uint8_t widths[6] = {2, 1, 8, 14, 10, 4};
  const size_t at[6] = {17, 19, 21, 25, 27, 29};
  for (size_t i = 0; i < 6; ++i) h[at[i]] = widths[i];
  h[33] = 1;  // SLC erase base
  h[35] = 2;  // MLC erase base
  return h;
}

TEST(BlockDump, Class0HeaderLayoutAndTexts) {
  BlockDumpHeader h = parseBlockDumpHeader(class0Header(), 0);
  EXPECT_EQ(h.validBytes, 0x208);
  EXPECT_EQ(h.dataStart, 0x20);
  EXPECT_EQ(h.countdown, 5);
  EXPECT_FALSE(h.endMark);
  BlockRecordLayout l = blockRecordLayout(h, 0);
  EXPECT_EQ(bitDefinitionText(l, h),
            "User Data Bit: 02, Shf: 00, Msk: 0000000000000003\r\n"
            "Tabl Flag Bit: 01, Shf: 02, Msk: 0000000000000004\r\n"
            "Wear Levl Bit: 08, Shf: 03, Msk: 00000000000007F8\r\n"
            "Eras Cunt Bit: 0E, Shf: 0B, Msk: 0000000001FFF800\r\n"
            "Inal Page Bit: 0A, Shf: 19, Msk: 00000007FE000000\r\n"
            "Blck Type Bit: 04, Shf: 23, Msk: 0000007800000000\r\n"
            "Erse Base SLC: 01\r\nErse Base MLC: 02\r\n----------------\r\n");
  EXPECT_EQ(l.eraseFactor(), 0x2000u);

  std::string line = groupHeaderLine(h, 0);
  EXPECT_EQ(line, "============Ch 01==Chip 00==Die 01==Plane 02====DataBlkS 0020========\r\n");
  EXPECT_EQ(line.size(), 69u + 2);
  EXPECT_EQ(line.substr(15, 2), "01");
  EXPECT_EQ(line.substr(42, 2), "02");
  EXPECT_EQ(line.substr(57, 4), "0020");

  // Invalid pages 0x1A, wear level 3, erase count 7, type 2, plus a base.
  uint64_t record = (uint64_t{2} << 35) | (uint64_t{0x1A} << 25) | (uint64_t{7} << 11) | (uint64_t{3} << 3) | 1;
  std::string rec = blockRecordLine(0x41, record, l, 0x4000);
  EXPECT_EQ(rec, "Blk 0041 : IvidPNum 001A wlidx 0003 BLKty 0002 EC 4007\r\n");
  EXPECT_EQ(rec.size(), 54u + 2);
  EXPECT_EQ(rec.substr(50, 4), "4007");
}

TEST(BlockDump, Class1HeaderAndFields) {
  auto s = sector();
  s[3] = 4;   // SLC start
  s[5] = 0;   // reserved start
  s[7] = 3;   // RAID group
  s[11] = 0x40;
  s[21] = 4;
  s[23] = 14;
  s[25] = 10;
  s[27] = 8;
  BlockDumpHeader h = parseBlockDumpHeader(s, 1);
  BlockRecordLayout l = blockRecordLayout(h, 1);
  EXPECT_EQ(l.count, 4u);
  std::string defs = bitDefinitionText(l, h);
  EXPECT_EQ(defs.substr(0, defs.find("Erse")),
            "Blck Type Bit: 04, Shf: 00, Msk: 000000000000000F\r\n"
            "Eras Cunt Bit: 0E, Shf: 04, Msk: 000000000003FFF0\r\n"
            "Inal Page Bit: 0A, Shf: 12, Msk: 000000000FFC0000\r\n"
            "Wear Levl Bit: 08, Shf: 1C, Msk: 0000000FF0000000\r\n");
  std::string line = groupHeaderLine(h, 1);
  EXPECT_EQ(line, "============Raid 03===SlcStr 0004===RsvStr 0000===NonSlcStr 0040========\r\n");
  EXPECT_EQ(line.size(), 72u + 2);
  uint64_t record = (uint64_t{5} << 28) | (uint64_t{9} << 18) | (uint64_t{100} << 4) | 2;
  EXPECT_EQ(blockRecordLine(0, record, l, 0), "Blk 0000 : IvidPNum 0009 wlidx 0005 BLKty 0002 EC 0064\r\n");
}

TEST(BlockDump, AbsurdWidthsNeitherOverflowNorShiftOut) {
  auto s = sector(512, 0xFE);
  s[1] = 0;
  s[3] = 0;
  BlockDumpHeader h = parseBlockDumpHeader(s, 0);
  BlockRecordLayout l = blockRecordLayout(h, 0);
  EXPECT_EQ(l.mask[0], ~uint64_t{0});
  for (size_t i = 1; i < 6; ++i) EXPECT_EQ(l.mask[i], 0u) << i;
  EXPECT_EQ(l.eraseFactor(), 0u);  // width FEh: no power of two fits
  EXPECT_EQ(l.value(RecordField::BlockType, ~uint64_t{0}), 0u);
  // An erase count width of 0 has no base either.
  auto z = class0Header();
  z[25] = 0;
  EXPECT_EQ(blockRecordLayout(parseBlockDumpHeader(z, 0), 0).eraseFactor(), 0u);
}

// Two plane groups as the ".txt" file holds them.
std::string twoPlaneDump() {
  std::string t;
  t += "============Ch 00==Chip 01==Die 00==Plane 0A====DataBlkS 0020========\r\n";
  t += "Blk 0000 : IvidPNum 0000 wlidx 0000 BLKty 0001 EC 0000\r\n";
  t += planeSummaryText(3, 1, 3, 1);
  t += "============Ch 02==Chip 00==Die 01==Plane 01====DataBlkS 0020========\r\n";
  t += planeSummaryText(5, 0x12, 8, 0x13);
  return t;
}

TEST(LaterBadReport, HeaderRowsFromTheGroupHeaders) {
  EXPECT_EQ(laterBadReportHeader(twoPlaneDump()),
            ",Chn 0,Chn 2,\r\n,Chp 1,Chp 0,\r\n,Die 0,Die 1,\r\nItem,Pln 10,Pln 1,Rec Time,\r\n");
  EXPECT_EQ(laterBadReportHeader(""), ",\r\n,\r\n,\r\nItem,Rec Time,\r\n");
}

TEST(LaterBadReport, RowCarriesEachPlanesLaterBadCount) {
  // Per plane: later bad 1 and 12h; not the early counts 3 and 5, nor the totals.
  EXPECT_EQ(laterBadReportRow(twoPlaneDump(), clockAt(3, 7, 8, 5, 9)), "Later Bad,1,18,03/07 08:05:09,\r\n");
  EXPECT_EQ(laterBadReportName("OB/23", clockAt(12, 1, 0, 0, 0)), "LtrBadRptSNum__OB_23__1201.csv");
}

TEST(FlashInfo, PlaneInfoLabelsForBothClasses) {
  auto r = sector();
  r[0] = 0x12;
  r[1] = 0x34;
  std::string c0 = planeInfoText(r, 0);
  EXPECT_EQ(c0.substr(0, 26), "Start_Blk       : 0x1234\r\n");
  EXPECT_EQ(std::count(c0.begin(), c0.end(), '\n'), 37);
  EXPECT_NE(c0.find("FreeBlk_Keep[3] : 0x0000\r\n"), std::string::npos);
  EXPECT_NE(c0.find("WaitErase_Blk[5]: 0x0000\r\nWaitErase_Blk[6]: "), std::string::npos);
  EXPECT_NE(c0.find("GcFactor        : 0x0000\r\n----------------\r\n"), std::string::npos);
  std::string c1 = planeInfoText(r, 1);
  EXPECT_EQ(std::count(c1.begin(), c1.end(), '\n'), 33);
  EXPECT_EQ(c1.substr(0, 28), "L1GcSrcBlk_Keep[0]: 0x1234\r\n");
  EXPECT_NE(c1.find("SFreeBlk_Keep[6]  : 0x0000\r\nCurSFreeIdx       : "), std::string::npos);
  EXPECT_NE(c1.find("CurTGcSrcIdx      : 0x0000\r\n----------------\r\n"), std::string::npos);
}

TEST(FlashInfo, FlashIdEntriesAreBoundedByTheReply) {
  auto r = sector();
  r[1] = 2;  // channels
  r[3] = 1;  // chips
  const uint8_t id[6] = {0x5D, 0x64, 0x44, 0x4B, 0xA9, 0x00};
  for (size_t e = 0; e < 2; ++e) {
    r[4 + 10 * e + 1] = static_cast<uint8_t>(e);
    std::copy(id, id + 6, r.begin() + static_cast<std::ptrdiff_t>(4 + 10 * e + 4));
  }
  EXPECT_EQ(flashIdText(r),
            "Chan Num: 0002\r\nChip Num: 0001\r\n"
            "Channel : 0000\r\nDie     : 0000\r\nID      : 5D64444BA900\r\n"
            "Channel : 0001\r\nDie     : 0000\r\nID      : 5D64444BA900\r\n----------------\r\n");
  // FFFFh x FFFFh is 0001h as a 16-bit product; 00FFh x 00FFh needs more
  // entries than the sector holds: 50 are read.
  auto big = sector(512, 0xFF);
  std::string one = flashIdText(big);
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 2 + 3 * 1 + 1);
  big[0] = 0;
  big[2] = 0;
  std::string t = flashIdText(big);
  EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 2 + 3 * 50 + 1 + 1);
  // The entries left out are not left out silently.
  EXPECT_TRUE(t.ends_with("Only 50 of the 65025 entries fit in the reply sector\r\n----------------\r\n"))
      << t;
  EXPECT_EQ(one.find("Only"), std::string::npos);
  r[1] = 0;
  EXPECT_EQ(flashIdText(r), "Chan Num: 0000\r\nChip Num: 0001\r\n----------------\r\n");
}

TEST(FlashInfo, FlashCheckRows) {
  auto r = sector();
  std::string maker = "ZEFRANE FLASH   ";
  std::copy(maker.begin(), maker.end(), r.begin());
  r[17] = 0x10;
  r[18] = 0x01;
  r[22] = 0x20;
  r[23] = 0x00;
  EXPECT_EQ(flashCheckText(r),
            "Manufactor     : ZEFRANE FLASH   \r\nPage size (K)  : 0x0010\r\nERU size       : 0x0100\r\n"
            "Blocks/CE      : 0x00002000\r\nCap/Dev (GBits): 0x0000\r\nTotal Capacity : 0x0000\r\n"
            "----------------\r\n");
}

TEST(BadBlockList, ListsRaidGroupsWithPlanesFastest) {
  auto r = sector(65536);
  r[1] = 0x02;  // reserve start
  r[3] = 0x1F;  // reserve end
  r[5] = 2;     // R
  r[7] = 4;     // P
  for (size_t i = 0; i < 8; ++i) r[8 + 2 * i + 1] = static_cast<uint8_t>(0x10 + i);
  std::string t = badBlockListText(r);
  EXPECT_EQ(t.substr(0, t.find("Raid00")),
            "Reserve Start Block : 0002\r\nReserve End   Block : 001F\r\nRaid Number         : 0002\r\n"
            "Plane Number        : 0004\r\nBad Block List As Below----\r\n");
  EXPECT_EQ(t.substr(t.find("Raid00")),
            "Raid00 Plane00: 0010\r\nRaid00 Plane01: 0011\r\nRaid00 Plane02: 0012\r\nRaid00 Plane03: 0013\r\n"
            "Raid01 Plane00: 0014\r\nRaid01 Plane01: 0015\r\nRaid01 Plane02: 0016\r\nRaid01 Plane03: 0017\r\n");
}

TEST(BadBlockList, CountsAreBoundedBy15BitsAndTheReply) {
  auto r = sector(65536, 0);
  auto lines = [](const std::string& t) { return static_cast<size_t>(std::count(t.begin(), t.end(), '\n')); };
  auto set = [&](uint16_t raids, uint16_t planes) {
    r[4] = static_cast<uint8_t>(raids >> 8);
    r[5] = static_cast<uint8_t>(raids);
    r[6] = static_cast<uint8_t>(planes >> 8);
    r[7] = static_cast<uint8_t>(planes);
  };
  set(0x0100, 0x0080);  // 0x8000: the low 15 bits are 0
  EXPECT_EQ(lines(badBlockListText(r)), 5u);
  set(0x7FFF, 1);       // 32767 entries, more than 64 KiB holds after the header
  EXPECT_EQ(lines(badBlockListText(r)), 5u + kMaxBadBlockListEntries);
  set(3, 0);            // no planes: nothing listed
  EXPECT_EQ(lines(badBlockListText(r)), 5u);
  EXPECT_EQ(lines(badBlockListText(std::vector<uint8_t>(6, 0))), 5u);  // a short reply lists nothing
}

TEST(Dumps, LineEndSwapAndFileNames) {
  std::vector<uint8_t> b = {'a', 0x0A, 0x0D, 'b', 0x0A, 0x0D, 0x0D, 0x0A};
  EXPECT_TRUE(swapLineEnds(b));  // the final 0Ah waits for its partner
  EXPECT_EQ(std::string(b.begin(), b.end()), "a\r\nb\r\n\r\n");
  std::vector<uint8_t> c = {0x0A, 0x0A, 0x0D};
  EXPECT_FALSE(swapLineEnds(c));
  EXPECT_EQ(std::string(c.begin(), c.end()), "\n\r\n");

  DiagClockValue clock = clockAt(1, 2, 3, 4, 5);
  EXPECT_EQ(memoryDumpName("2000a", 2, clock), "MemDmp_Adr2000A_Len400_0102030405.bin");
  EXPECT_EQ(memoryDumpName("1/../x", 1, clock), "MemDmp_Adr1_.._X_Len200_0102030405.bin");
  EXPECT_EQ(memoryDumpName("1", 0x800000, clock), "MemDmp_Adr1_Len100000000_0102030405.bin");
  EXPECT_EQ(spiDumpName(clock), "SpiDmp_Adr00000_Len80000_0102030405.bin");
}

}  // namespace
}  // namespace zorv
