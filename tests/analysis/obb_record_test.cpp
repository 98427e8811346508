#include <gtest/gtest.h>

#include <vector>

#include "analysis/obb_record.h"

namespace zorv::analysis {
namespace {

std::vector<uint8_t> erasedImage(size_t size = 0x10000) { return std::vector<uint8_t>(size, 0xFF); }

void putWord(std::vector<uint8_t>& image, size_t at, uint16_t v) {
  image[at] = static_cast<uint8_t>(v >> 8);
  image[at + 1] = static_cast<uint8_t>(v);
}

// Writes `value` big-endian into the last bytes of a field and zeros before.
void putField(std::vector<uint8_t>& image, size_t at, size_t length, uint32_t value) {
  for (size_t i = 0; i < length; ++i) {
    size_t fromEnd = length - 1 - i;
    image[at + i] = fromEnd < 4 ? static_cast<uint8_t>(value >> (8 * fromEnd)) : 0;
  }
}

size_t nonGapCount(const std::vector<ObbField>& table) {
  size_t n = 0;
  for (const ObbField& f : table) n += f.isGap() ? 0 : 1;
  return n;
}

TEST(ObbTables, RowCountsAndBoundaryRows) {
  EXPECT_EQ(ObbTableA(ObbProduct::Pallo).size(), 41u);
  EXPECT_EQ(ObbTableA(ObbProduct::Tarn).size(), 37u);
  EXPECT_EQ(ObbTableB(ObbProduct::Pallo).size(), 47u);
  EXPECT_EQ(ObbTableB(ObbProduct::Tarn).size(), 95u);

  const auto& pa = ObbTableA(ObbProduct::Pallo);
  EXPECT_EQ(pa[2].label, "R_Pass");
  EXPECT_EQ(pa[2].offset, 6);
  EXPECT_EQ(pa[2].length, 26);
  EXPECT_EQ(pa[38].label, "F_RdTxR2");
  EXPECT_EQ(pa[38].length, 34);
  EXPECT_EQ(pa[40].label, "Age Byte");
  EXPECT_EQ(pa[40].offset, 249);

  const auto& ta = ObbTableA(ObbProduct::Tarn);
  EXPECT_EQ(ta[0].label, "RErrCode");
  EXPECT_EQ(ta[0].length, 44);
  EXPECT_EQ(ta[8].label, "B_Go");
  EXPECT_EQ(ta[8].offset, 115);
  EXPECT_EQ(ta[9].label, "NULL");
  EXPECT_EQ(ta[9].offset, 128);
  EXPECT_EQ(ta.back().label, "F_RdTxR2");
  EXPECT_EQ(ta.back().offset, 214);
  EXPECT_EQ(ta.back().length, 2);

  const auto& tb = ObbTableB(ObbProduct::Tarn);
  EXPECT_EQ(tb[4].label, "EbbEccOverLup0");
  EXPECT_EQ(tb[4].length, 6);
  EXPECT_EQ(tb.back().label, "EbbEccOverLup15");
  EXPECT_EQ(tb.back().offset, 250);
  const auto& pb = ObbTableB(ObbProduct::Pallo);
  EXPECT_EQ(pb[4].length, 2);
  EXPECT_EQ(pb[6].label, "ObbCntLoop1");
  EXPECT_EQ(pb[6].offset, 18);
  EXPECT_EQ(pb[5].label, "NULL");
  EXPECT_EQ(pb[5].offset, 16);

  // Every field lies inside its 256-byte region.
  for (auto product : {ObbProduct::Pallo, ObbProduct::Tarn})
    for (const auto* t : {&ObbTableA(product), &ObbTableB(product)})
      for (const ObbField& f : *t) EXPECT_LE(f.offset + f.length, 256) << f.label;
}

TEST(ObbTables, ColumnNamesAndHeader) {
  auto names = ObbColumnNames(ObbProduct::Pallo);
  EXPECT_EQ(names.size(), 2 + 128 + nonGapCount(ObbTableA(ObbProduct::Pallo)) +
                              nonGapCount(ObbTableB(ObbProduct::Pallo)) + 3 * 128);
  EXPECT_EQ(names[2], "00");
  EXPECT_EQ(names[129], "7F");
  EXPECT_EQ(names.back(), "AuMin CH7 CP3 DI1 PL1");

  auto tarn = ObbColumnNames(ObbProduct::Tarn);
  EXPECT_EQ(tarn.back(), "TPGTLC_H CH3 CP7 DI1 PL1");
  EXPECT_EQ(ExtraValueLabel(ObbProduct::Tarn, "SLC", 0x0B), "SLC CH1 CP1 DI0 PL1");
  EXPECT_EQ(ExtraValueLabel(ObbProduct::Pallo, "AuAvg", 0x53), "AuAvg CH1 CP1 DI1 PL1");

  std::string header = ObbCsvHeader(ObbProduct::Pallo);
  EXPECT_EQ(header.rfind(",,Channel0,Channel1,", 0), 0u);
  EXPECT_NE(header.find("Channel7,Channel0,"), std::string::npos);
  EXPECT_NE(header.find("\r\n,,Chip0,"), std::string::npos);
  EXPECT_NE(header.find("\r\n,,Die0,"), std::string::npos);
  EXPECT_NE(header.find("\r\n,Total Bad,Plan0,"), std::string::npos);
  EXPECT_NE(header.find("Plan1,RErrCode,R_Done,R_Pass,B_ErrCode,"), std::string::npos);
  EXPECT_NE(header.find(",Age Byte,ObbCntLoop0,EbbErsFailLup0,"), std::string::npos);
  EXPECT_NE(header.find(",EbbEccOverLup7,AuAvg CH0 CP0 DI0 PL0,"), std::string::npos);
  EXPECT_EQ(header.substr(header.size() - 25), ",AuMin CH7 CP3 DI1 PL1,\r\n");
  EXPECT_EQ(std::count(header.begin(), header.end(), '\n'), 4);

  std::string tarnHeader = ObbCsvHeader(ObbProduct::Tarn);
  EXPECT_EQ(tarnHeader.rfind(",,Channel0,Channel0,Channel1,Channel1,", 0), 0u);
  EXPECT_NE(tarnHeader.find(",Total Bad,Plan0,Plan1,Plan0,"), std::string::npos);
}

TEST(ObbFieldValue, ErasedLongAndNegativeFields) {
  struct Case {
    std::vector<uint8_t> bytes;
    int32_t value;
  };
  std::vector<uint8_t> erased26(26, 0xFF);
  std::vector<uint8_t> long26(26, 0x11);
  long26[22] = 0x00;
  long26[23] = 0x01;
  long26[24] = 0x02;
  long26[25] = 0x03;
  std::vector<uint8_t> almostErased(26, 0xFF);
  almostErased[0] = 0xFE;  // not all FFh: the low 32 bits are all ones
  for (const Case& c : {Case{erased26, 0}, Case{long26, 0x00010203}, Case{almostErased, -1},
                        Case{{0x80, 0x00, 0x00, 0x00}, INT32_MIN}, Case{{0xFF}, 0}, Case{{0x7F}, 127},
                        Case{{0x12, 0x34}, 0x1234}, Case{{}, 0}})
    EXPECT_EQ(ObbFieldValue(c.bytes), c.value);
}

// A record with a known value at every region of each product.
TEST(ObbRowValues, HandMadeRecordOfEachProduct) {
  for (auto product : {ObbProduct::Pallo, ObbProduct::Tarn}) {
    SCOPED_TRACE(product == ObbProduct::Pallo ? "Pallo" : "Tarn");
    const ObbLayout& layout = ObbLayoutOf(product);
    auto image = erasedImage();
    // Bad counts: plane i has i % 5, plane 3 is erased.
    int64_t total = 0;
    for (size_t i = 0; i < 128; ++i) {
      putWord(image, layout.badCounts + 2 * i, static_cast<uint16_t>(i % 5));
      if (i != 3) total += i % 5;
    }
    putWord(image, layout.badCounts + 6, 0xFFFF);
    // Field k of table A holds 100 + k, of table B 1000 + k.
    const auto& a = ObbTableA(product);
    const auto& b = ObbTableB(product);
    for (size_t k = 0; k < a.size(); ++k) putField(image, layout.regionA + a[k].offset, a[k].length, uint32_t(100 + k));
    for (size_t k = 0; k < b.size(); ++k) putField(image, layout.regionB + b[k].offset, b[k].length, uint32_t(1000 + k));
    // Extra region e value i = 256 e + i.
    for (size_t e = 0; e < layout.extras.size(); ++e)
      for (size_t i = 0; i < 128; ++i)
        putWord(image, layout.extras[e].offset + 2 * i, static_cast<uint16_t>(256 * e + i));

    auto values = ObbRowValues(product, image);
    ASSERT_EQ(values.size() + 1, ObbColumnNames(product).size());
    size_t at = 0;
    EXPECT_EQ(values[at++], total);
    for (size_t i = 0; i < 128; ++i) EXPECT_EQ(values[at++], i == 3 ? 65535 : int64_t(i % 5)) << i;
    for (size_t k = 0; k < a.size(); ++k)
      if (!a[k].isGap()) {
        EXPECT_EQ(values[at++], int64_t(100 + k)) << a[k].label;
      }
    for (size_t k = 0; k < b.size(); ++k)
      if (!b[k].isGap()) {
        EXPECT_EQ(values[at++], int64_t(1000 + k)) << b[k].label;
      }
    for (size_t e = 0; e < layout.extras.size(); ++e)
      for (size_t i = 0; i < 128; ++i) EXPECT_EQ(values[at++], int64_t(256 * e + i));
    EXPECT_EQ(at, values.size());
  }
}

TEST(ObbRowValues, ErasedAndShortImagesReadAsErasedFlash) {
  for (auto product : {ObbProduct::Pallo, ObbProduct::Tarn}) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{0x401}, ObbLayoutOf(product).areaEnd() - 1}) {
      auto image = erasedImage(size);
      auto values = ObbRowValues(product, image);
      ASSERT_EQ(values.size() + 1, ObbColumnNames(product).size());
      EXPECT_EQ(values[0], 0);  // no count that is not FFFFh
      for (size_t i = 1; i <= 128; ++i) EXPECT_EQ(values[i], 65535);
      EXPECT_EQ(values[129], 0);  // an erased label field
      EXPECT_EQ(values.back(), 65535);
    }
  }
  // A short image keeps what it has: Pallo's first count is at 400h.
  auto image = erasedImage(0x402);
  putWord(image, 0x400, 7);
  auto values = ObbRowValues(ObbProduct::Pallo, image);
  EXPECT_EQ(values[0], 7);
  EXPECT_EQ(values[1], 7);
  EXPECT_EQ(values[2], 65535);
}

}  // namespace
}  // namespace zorv::analysis
