// Decoding the Info SSD record (both model classes) and the SMART data
// sector, over byte arrays, including replies full of 0xFF or garbage.

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <utility>

#include "fake_drive.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/operation_table.h"
#include "diagnostics/smart.h"

namespace zorv {
namespace {

size_t countLines(const std::string& text, const std::string& from, const std::string& to) {
  size_t a = text.find(from);
  size_t b = text.find(to);
  if (a == std::string::npos || b == std::string::npos) return 0;
  size_t n = 0;
  for (size_t p = text.find("\r\n", a) + 2; p < b; p = text.find("\r\n", p) + 2) ++n;
  return n;
}

std::string lineWith(const std::string& text, const std::string& label) {
  size_t at = text.find(label);
  if (at == std::string::npos) return "<missing>";
  return text.substr(at, text.find("\r\n", at) - at);
}

TEST(InfoSsdRecord, EachClassPrintsItsFieldsBetweenTheMarkers) {
  InfoSsdRecord record;
  for (uint16_t cls : {0, 1}) {
    std::string text = DecodeInfoSsdFields(record, cls);
    EXPECT_EQ(countLines(text, "--------sInfoSSD Start Here\r\n", "--------sInfoSSD End Here\r\n"),
              cls == 1 ? 53u : 47u);
    EXPECT_EQ(text.find("NULL"), std::string::npos);
  }
}

TEST(InfoSsdRecord, HexFieldsGroupTwoBytesAndTextFieldsKeepEveryByte) {
  std::array<uint8_t, 512> bytes{};
  const char fw[] = "ZV1.02\0A";
  std::copy(fw, fw + 8, bytes.begin() + 8);
  for (int i = 0; i < 16; ++i) bytes[16 + i] = static_cast<uint8_t>(0xA0 + i);
  bytes[56] = 0x00;
  bytes[57] = 0x00;
  bytes[58] = 0x1A;
  bytes[59] = 0x2B;
  InfoSsdRecord record(bytes);

  std::string c0 = DecodeInfoSsdFields(record, 0);
  EXPECT_EQ(lineWith(c0, "Total Blck: "), "Total Blck: 0x0000 1A2B ");
  EXPECT_EQ(lineWith(c0, "HW ID      : "), "HW ID      : 0xA0A1 A2A3 A4A5 A6A7 A8");
  EXPECT_NE(c0.find(std::string("FW version : ZV1.02\0A\r\n", 23)), std::string::npos);

  std::string c1 = DecodeInfoSsdFields(record, 1);
  EXPECT_EQ(lineWith(c1, "HW ID      : "), "HW ID      : 0xA0A1 A2A3 A4A5 A6A7 A8A9 AAAB ACAD AEAF ");

  EXPECT_EQ(record.firmwareVersion(), "ZV1.02");
  EXPECT_EQ(record.hardwareId(0).size(), 9u);
  EXPECT_EQ(record.hardwareId(1).size(), 16u);
  EXPECT_EQ(record.hardwareId(1)[15], 0xAF);
  EXPECT_EQ(record.number(56, 4), 0x1A2Bu);
  EXPECT_EQ(record.number(510, 4), 0u);  // beyond the record
}

// A record whose every byte differs from its neighbours: hex bytes carry
// their own offset, the text fields letters that run on with the offset. A
// field read from a shifted offset, or a label moved to another row, changes
// the text.
InfoSsdRecord distinctRecord(std::initializer_list<std::pair<size_t, size_t>> textFields) {
  std::array<uint8_t, 512> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  for (auto [first, end] : textFields) {
    for (size_t i = first; i < end; ++i) bytes[i] = static_cast<uint8_t>('A' + i % 26);
  }
  return InfoSsdRecord(bytes);
}

TEST(InfoSsdRecord, ClassZeroDecodesEveryFieldFromItsOwnBytes) {
  InfoSsdRecord record = distinctRecord({{0, 8}, {8, 16}, {26, 32}, {144, 176}});
  EXPECT_EQ(DecodeInfoSsdFields(record, 0),
            "--------sInfoSSD Start Here\r\n"
            "DevChkID   : ABCDEFGH\r\n"
            "FW version : IJKLMNOP\r\n"
            "HW ID      : 0x1011 1213 1415 1617 18\r\n"
            "FW SN      : ABCDEF\r\n"
            "Capacity (GB): 0x2021 \r\n"
            "Max LBA: 0x2223 2425 2627 \r\n"
            "Chan: 0x2829 \r\n"
            "Chip: 0x2A2B \r\n"
            "Die : 0x2C2D \r\n"
            "Plan: 0x2E2F \r\n"
            "Blck: 0x3031 \r\n"
            "Page: 0x3233 \r\n"
            "Sect: 0x3435 \r\n"
            "Total Blck: 0x3839 3A3B \r\n"
            "Total Page: 0x3C3D 3E3F \r\n"
            "LPN       : 0x4041 4243 \r\n"
            "Max PPN   : 0x4445 4647 \r\n"
            "Min EC      (TTBL): 0x6061 \r\n"
            "Max EC      (TTBL): 0x6263 \r\n"
            "Avg EC      (TTBL): 0x6465 \r\n"
            "Ttl Blk Cnt (TTBL): 0x6667 6869 \r\n"
            "Min EC      (TBL+Data): 0x6A6B \r\n"
            "Max EC      (TBL+Data): 0x6C6D \r\n"
            "Avg EC      (TBL+Data): 0x6E6F \r\n"
            "Ttl Blk Cnt (TBL+Data): 0x7071 7273 \r\n"
            "Data Block Count  : 0x7475 7677 \r\n"
            "Free Block Count  : 0x7879 7A7B \r\n"
            "Min EC      (RMA) : 0x7C7D \r\n"
            "Max EC      (RMA) : 0x7E7F \r\n"
            "Avg EC      (RMA) : 0x8081 \r\n"
            "Flash Model Name  : OPQRSTUVWXYZABCDEFGHIJKLMNOPQRST\r\n"
            "OBB Ver.          : 0xB0B1 \r\n"
            "OBB Done          : 0xB2B3 \r\n"
            "OBB Count In SPI  : 0xB4B5 B6B7 \r\n"
            "OBB Count In FW   : 0xB8B9 BABB \r\n"
            "LBB Count In FW   : 0xBCBD BEBF \r\n"
            "Power On Hour: 0xC0C1 C2C3 \r\n"
            "Power   Cycle: 0xC4C5 C6C7 \r\n"
            "Total   Read : 0xC8C9 CACB \r\n"
            "Total   Write: 0xCCCD CECF \r\n"
            "WA1(With TBL): 0xD0D1 \r\n"
            "WA2  (No TBL): 0xD2D3 \r\n"
            "Uw_DAT (8KB) : 0xD4D5 D6D7 D8D9 DADB \r\n"
            "Iw_DAT (8KB) : 0xDCDD DEDF E0E1 E2E3 \r\n"
            "Iw_TBL (8KB) : 0xE4E5 E6E7 E8E9 EAEB \r\n"
            "Current  Temp: 0xECED \r\n"
            "Worst    Temp: 0xEEEF \r\n"
            "--------sInfoSSD End Here\r\n");
}

TEST(InfoSsdRecord, ClassOneDecodesEveryFieldFromItsOwnBytes) {
  InfoSsdRecord record = distinctRecord({{0, 8}, {8, 16}, {144, 176}, {252, 260}});
  EXPECT_EQ(DecodeInfoSsdFields(record, 1),
            "--------sInfoSSD Start Here\r\n"
            "DevChkID   : ABCDEFGH\r\n"
            "FW version : IJKLMNOP\r\n"
            "HW ID      : 0x1011 1213 1415 1617 1819 1A1B 1C1D 1E1F \r\n"
            "Capacity (GB): 0x2021 \r\n"
            "Max LBA: 0x2223 2425 2627 \r\n"
            "Chan: 0x2829 \r\n"
            "Chip: 0x2A2B \r\n"
            "Die : 0x2C2D \r\n"
            "Plan: 0x2E2F \r\n"
            "Blck: 0x3031 \r\n"
            "Page: 0x3233 \r\n"
            "Sect: 0x3435 \r\n"
            "Total Blck: 0x3839 3A3B \r\n"
            "Total Page: 0x3C3D 3E3F \r\n"
            "LPN       : 0x4041 4243 \r\n"
            "Max PPN   : 0x4445 4647 \r\n"
            "Min EC       (L2) : 0x6061 \r\n"
            "Max EC       (L2) : 0x6263 \r\n"
            "Avg EC       (L2) : 0x6465 \r\n"
            "Ttl Blk Cnt  (L2) : 0x6667 6869 \r\n"
            "Min EC      (TLC) : 0x6A6B \r\n"
            "Max EC      (TLC) : 0x6C6D \r\n"
            "Avg EC      (TLC) : 0x6E6F \r\n"
            "Ttl Blk Cnt (TLC) : 0x7071 7273 \r\n"
            "Data Block Count  : 0x7475 7677 \r\n"
            "Free Block Count  : 0x7879 7A7B \r\n"
            "Min EC      (RMA) : 0x7C7D \r\n"
            "Max EC      (RMA) : 0x7E7F \r\n"
            "Avg EC      (RMA) : 0x8081 \r\n"
            "Min EC      (SLC) : 0x8283 \r\n"
            "Max EC      (SLC) : 0x8485 \r\n"
            "AVG EC      (SLC) : 0x8687 \r\n"
            "Ttl Blk Cnt (SLC) : 0x8889 8A8B \r\n"
            "Flash Model Name  : OPQRSTUVWXYZABCDEFGHIJKLMNOPQRST\r\n"
            "OBB Ver.          : 0xB0B1 \r\n"
            "OBB Done          : 0xB2B3 \r\n"
            "OBB Count In SPI  : 0xB4B5 B6B7 \r\n"
            "OBB Count In FW   : 0xB8B9 BABB \r\n"
            "GBB Count In FW   : 0xBCBD BEBF \r\n"
            "Power On Hour: 0xC0C1 C2C3 \r\n"
            "Power   Cycle: 0xC4C5 C6C7 \r\n"
            "Total   Read : 0xC8C9 CACB \r\n"
            "Total   Write: 0xCCCD CECF \r\n"
            "WA1(With TBL): 0xD0D1 \r\n"
            "WA2  (No TBL): 0xD2D3 \r\n"
            "Uw_DAT (8KB) : 0xD4D5 D6D7 D8D9 DADB \r\n"
            "Iw_DAT (8KB) : 0xDCDD DEDF E0E1 E2E3 \r\n"
            "Iw_TBL (8KB) : 0xE4E5 E6E7 E8E9 EAEB \r\n"
            "Current  Temp: 0xECED \r\n"
            "Worst    Temp: 0xEEEF \r\n"
            "SSD Life Left: 0xF0F1 \r\n"
            "Life Not Used: 0xF2F3 \r\n"
            "FW SN      : STUVWXYZ\r\n"
            "--------sInfoSSD End Here\r\n");
}

TEST(InfoSsdRecord, ShortRepliesReadAsFillAndNoLabelTableRunsPastTheRecord) {
  InfoSsdRecord record{std::span<const uint8_t>()};
  EXPECT_EQ(record.bytes()[0], 0xFF);
  for (uint16_t cls : {0, 1, 7}) {
    for (const InfoSsdField& f : InfoSsdLabelTable(cls)) EXPECT_LE(f.offset + f.width, 512);
  }
  EXPECT_EQ(InfoSsdLabelTable(7).size(), InfoSsdLabelTable(0).size());
}

TEST(InfoSsdLines, WwnAndPcbaComeFromTheirWords) {
  std::array<uint8_t, 512> id{};
  id[216] = 0x34; id[217] = 0x12;  // word 108
  id[218] = 0x78; id[219] = 0x56;
  id[220] = 0xBC; id[221] = 0x9A;
  id[222] = 0xF0; id[223] = 0xDE;
  EXPECT_EQ(wwnLine(id), "WWN        : 123456789ABCDEF0\r\n");

  std::array<uint8_t, 512> pcba{};
  std::string plain = "  PCBA-1002         ";  // stored with each word's bytes swapped
  for (size_t i = 0; i < 20; i += 2) {
    pcba[48 + i] = static_cast<uint8_t>(plain[i + 1]);
    pcba[48 + i + 1] = static_cast<uint8_t>(plain[i]);
  }
  EXPECT_EQ(pcbaLine(pcba), "PCBA PN    : PCBA-1002\r\n");
  pcba[55] = 0;  // the "-": a NUL cuts the text
  EXPECT_EQ(pcbaLine(pcba), "PCBA PN    : PCBA\r\n");
  std::array<uint8_t, 512> ff;
  ff.fill(0xFF);
  EXPECT_EQ(pcbaLine(ff).size(), std::string("PCBA PN    : \r\n").size() + 20);
}

TEST(InfoSsdRow, PutsPcbaAndWwnInFrontAndDropsNulsOnlyInThePane) {
  test::RecordingPort port;
  test::TestContext tc(port);
  test::FakeDrive drive(port);
  drive.respond = [](const AtaPassThroughRequest& r) {
    std::vector<uint8_t> reply(512, 0);
    if (r.currentTaskFile[6] == 0xE4) {
      const char fw[] = "ZV1.02\0\0";
      std::copy(fw, fw + 8, reply.begin() + 8);
    }
    return reply;
  };
  StringSink raw;
  RowMemory memory;
  DiagRun run(tc.ctx, raw, memory);
  std::string text = PerformOperation(run, 0);
  EXPECT_EQ(text.rfind("PCBA PN    : \r\nWWN        : 0000000000000000\r\n--------sInfoSSD Start Here\r\n", 0), 0u);
  EXPECT_NE(text.find(std::string("FW version : ZV1.02\0\0\r\n", 23)), std::string::npos);
  EXPECT_NE(raw.text().find("FW version : ZV1.02\r\nHW ID"), std::string::npos);
  EXPECT_EQ(raw.text().find('\0'), std::string::npos);
  ASSERT_TRUE(run.infoSsd);
  EXPECT_EQ(run.infoSsd->firmwareVersion(), std::string("ZV1.02"));
}

std::array<uint8_t, 512> smartSector(std::initializer_list<std::array<uint8_t, 12>> records) {
  std::array<uint8_t, 512> s{};
  size_t off = 2;
  for (const auto& r : records) {
    std::copy(r.begin(), r.end(), s.begin() + off);
    off += 12;
  }
  s[511] = smartChecksum(s);
  return s;
}

TEST(SmartDecode, PrintsTableAttributesWithTheirSevenLines) {
  auto s = smartSector({{0xC2, 0x22, 0x00, 0x64, 0x50, 0x21, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00},
                        {0x42, 0x01, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9},  // not in the table
                        {0xE7, 0x03, 0x00, 0x63, 0x63, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x0A}});
  std::string text = DecodeSmartData(s);
  EXPECT_EQ(text,
            "--------sInfoSSD Start Here\r\n"
            "ID:       C2,Temperature\r\n"
            "Flag:     0022\r\n"
            "Now:      64\r\n"
            "Worst:    50\r\n"
            "RawDataL: 00000021\r\n"
            "RawDataH: 0005\r\n"
            "Thres:    00\r\n----------------\r\n"
            "ID:       E7,SSD Life Left\r\n"
            "Flag:     0003\r\n"
            "Now:      63\r\n"
            "Worst:    63\r\n"
            "RawDataL: 44332211\r\n"
            "RawDataH: 6655\r\n"
            "Thres:    0A\r\n----------------\r\n"
            "--------sInfoSSD End Here\r\n");
  auto attrs = ParseSmartAttributes(s);
  ASSERT_EQ(attrs.size(), 3u);
  EXPECT_EQ(attrs[0].raw, 0x0005'00000021u);
  EXPECT_EQ(attrs[2].threshold, 0x0A);
  uint8_t sum = 0;
  for (uint8_t b : s) sum = static_cast<uint8_t>(sum + b);
  EXPECT_EQ(sum, 0);
}

TEST(SmartDecode, AnAllFfSectorPrintsNothingAndTheAreaEndsAt362) {
  std::array<uint8_t, 512> ff;
  ff.fill(0xFF);
  EXPECT_EQ(DecodeSmartData(ff), "--------sInfoSSD Start Here\r\n--------sInfoSSD End Here\r\n");
  std::array<uint8_t, 512> s{};
  s[362] = 0x09;  // first byte after the thirty records: not an attribute
  s[350] = 0x09;  // the thirtieth record
  std::string text = DecodeSmartData(s);
  EXPECT_EQ(std::count(text.begin(), text.end(), ','), 1);
  EXPECT_EQ(DecodeSmartData(std::span<const uint8_t>(s.data(), 20)),
            "--------sInfoSSD Start Here\r\n--------sInfoSSD End Here\r\n");
}

TEST(Decoders, SurviveRandomReplies) {
  std::mt19937 rng(7);
  std::array<uint8_t, 512> b;
  for (int round = 0; round < 200; ++round) {
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    InfoSsdRecord r(b);
    EXPECT_FALSE(DecodeInfoSsdFields(r, round % 2).empty());
    EXPECT_FALSE(DecodeSmartData(b).empty());
    EXPECT_EQ(pcbaLine(b).substr(0, 13), "PCBA PN    : ");
  }
}

}  // namespace
}  // namespace zorv
