#include "analysis/obb_record.h"

#include <algorithm>
#include <array>

#include "transport/message.h"

namespace zorv::analysis {

namespace {

struct FieldRow {
  uint16_t offset;
  uint8_t length;
  std::string_view label;
};

// Pallo keeps three test stages (R, B, F) with their error codes, done and
// pass bytes, the stages' temperatures and currents, and the age byte.
constexpr FieldRow kPalloTableA[] = {
    {4, 1, "RErrCode"},        {5, 1, "R_Done"},          {6, 26, "R_Pass"},        {32, 4, "NULL"},
    {36, 1, "B_ErrCode"},      {37, 1, "B_Done"},         {38, 26, "B_Pass"},       {64, 4, "NULL"},
    {68, 1, "F_ErrCode"},      {69, 1, "F_Done"},         {70, 58, "F_Pass"},       {128, 2, "NULL"},
    {130, 2, "R_Temp1"},       {132, 2, "R_Curr1"},       {134, 2, "R_LM75"},       {136, 2, "R_Temp2"},
    {138, 22, "R_Curr2"},      {160, 2, "NULL"},          {162, 2, "B_Temp1"},      {164, 2, "B_Curr1"},
    {166, 2, "B_LM75"},        {168, 2, "B_Temp2"},       {170, 14, "B_Curr2"},     {184, 2, "NULL"},
    {186, 2, "B_EtMax"},       {188, 2, "B_EtMaxBlkLvl"}, {190, 2, "B_EtMax1stLop"}, {192, 2, "B_EtMaxBlk1st"},
    {194, 2, "F_Temp1"},       {196, 2, "F_WrCurr1"},     {198, 2, "F_WrTxR1"},     {200, 2, "F_RdCurr1"},
    {202, 2, "F_Rd_TxR1"},     {204, 2, "F_DEVSLP_Curr"}, {206, 2, "F_Temp2"},      {208, 2, "F_WrCurr2"},
    {210, 2, "F_WrTxR2"},      {212, 2, "F_RdCurr2"},     {214, 34, "F_RdTxR2"},    {248, 1, "NULL"},
    {249, 1, "Age Byte"},
};
static_assert(std::size(kPalloTableA) == 41);

// Tarn's own head of table A; from the gap at 128 on it shares Pallo's rows,
// except that its last field is 2 bytes and it has no age byte.
constexpr FieldRow kTarnTableAHead[] = {
    {4, 44, "RErrCode"}, {48, 4, "NULL"},   {52, 44, "B_ErrCode"}, {96, 4, "NULL"}, {100, 12, "F_ErrCode"},
    {112, 1, "NULL"},    {113, 1, "F_Done"}, {114, 1, "F_Pass"},    {115, 13, "B_Go"},
};
constexpr size_t kPalloSharedFirst = 11;  // NULL 128/2
constexpr size_t kPalloSharedLast = 38;   // F_RdTxR2

constexpr ObbExtraRegion kPalloExtras[] = {{0xB00, "AuAvg"}, {0xC00, "AuMax"}, {0xD00, "AuMin"}};
constexpr ObbExtraRegion kTarnExtras[] = {{0xA00, "SLC"},      {0xB00, "TLC"},      {0xC00, "TPGSLC"},
                                          {0xD00, "TPGTLC_L"}, {0xE00, "TPGTLC_M"}, {0xF00, "TPGTLC_H"}};

const ObbLayout kPalloLayout{0x300, 0x400, 0x700, kPalloExtras};
const ObbLayout kTarnLayout{0x100, 0x800, 0x700, kTarnExtras};

std::vector<ObbField> makeTableA(ObbProduct product) {
  std::vector<ObbField> table;
  auto add = [&](const FieldRow& r) { table.push_back({r.offset, r.length, std::string(r.label)}); };
  if (product == ObbProduct::Pallo) {
    for (const FieldRow& r : kPalloTableA) add(r);
    return table;
  }
  for (const FieldRow& r : kTarnTableAHead) add(r);
  for (size_t i = kPalloSharedFirst; i <= kPalloSharedLast; ++i) add(kPalloTableA[i]);
  table.back().length = 2;
  return table;
}

// One group of six rows per loop; the last loop ends without its gap.
std::vector<ObbField> makeTableB(ObbProduct product) {
  const bool tarn = product == ObbProduct::Tarn;
  const int loops = tarn ? 16 : 8;
  std::vector<ObbField> table;
  for (int n = 0; n < loops; ++n) {
    const auto base = static_cast<uint16_t>(16 * n);
    const std::string number = std::to_string(n);
    table.push_back({static_cast<uint16_t>(base + 2), 2, "ObbCntLoop" + number});
    table.push_back({static_cast<uint16_t>(base + 4), 2, "EbbErsFailLup" + number});
    table.push_back({static_cast<uint16_t>(base + 6), 2, "EbbWrFailLup" + number});
    table.push_back({static_cast<uint16_t>(base + 8), 2, "EbbRdFailLup" + number});
    table.push_back({static_cast<uint16_t>(base + 10), static_cast<uint8_t>(tarn ? 6 : 2), "EbbEccOverLup" + number});
    if (n + 1 < loops) table.push_back({static_cast<uint16_t>(base + 16), 2, "NULL"});
  }
  return table;
}

// The region at `offset` of the image; bytes past the image's end are FFh.
std::array<uint8_t, kObbRegionSize> region(std::span<const uint8_t> image, size_t offset) {
  std::array<uint8_t, kObbRegionSize> out;
  out.fill(0xFF);
  if (offset < image.size()) {
    size_t n = std::min(kObbRegionSize, image.size() - offset);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
  }
  return out;
}

uint16_t word(const std::array<uint8_t, kObbRegionSize>& r, size_t index) {
  return static_cast<uint16_t>(r[2 * index] << 8 | r[2 * index + 1]);
}

void appendFields(std::vector<int64_t>& values, const std::vector<ObbField>& table,
                  const std::array<uint8_t, kObbRegionSize>& r) {
  for (const ObbField& f : table) {
    if (f.isGap()) continue;
    // Every row lies inside its region; the clamp keeps a mistyped row from
    // reading past it.
    size_t start = std::min<size_t>(f.offset, kObbRegionSize);
    size_t length = std::min<size_t>(f.length, kObbRegionSize - start);
    values.push_back(ObbFieldValue(std::span<const uint8_t>(r).subspan(start, length)));
  }
}

}  // namespace

size_t ObbLayout::areaEnd() const {
  size_t end = std::max({regionA, badCounts, regionB}) + kObbRegionSize;
  for (const ObbExtraRegion& e : extras) end = std::max<size_t>(end, e.offset + kObbRegionSize);
  return end;
}

const ObbLayout& ObbLayoutOf(ObbProduct product) {
  return product == ObbProduct::Tarn ? kTarnLayout : kPalloLayout;
}

const std::vector<ObbField>& ObbTableA(ObbProduct product) {
  static const std::vector<ObbField> pallo = makeTableA(ObbProduct::Pallo);
  static const std::vector<ObbField> tarn = makeTableA(ObbProduct::Tarn);
  return product == ObbProduct::Tarn ? tarn : pallo;
}

const std::vector<ObbField>& ObbTableB(ObbProduct product) {
  static const std::vector<ObbField> pallo = makeTableB(ObbProduct::Pallo);
  static const std::vector<ObbField> tarn = makeTableB(ObbProduct::Tarn);
  return product == ObbProduct::Tarn ? tarn : pallo;
}

PlaneColumn PlaneColumnOf(ObbProduct product, size_t i) {
  const int n = static_cast<int>(i);
  if (product == ObbProduct::Tarn) return {(n >> 1) % 4, (n >> 3) % 4, (n >> 5) % 2, n % 2};
  return {n % 8, (n >> 3) % 4, (n >> 5) % 2, (n >> 6) % 2};
}

std::string ExtraValueLabel(ObbProduct product, std::string_view prefix, size_t i) {
  const int n = static_cast<int>(i);
  const int pl = n & 1;
  const int di = (n >> 6) & 1;
  int ch;
  int cp;
  if (product == ObbProduct::Tarn) {
    ch = (n >> 1) & 3;
    cp = (n >> 3) & 7;
  } else {
    ch = (n >> 1) & 7;
    cp = (n >> 4) & 3;
  }
  return std::string(prefix) + formatText(" CH%d CP%d DI%d PL%d", ch, cp, di, pl);
}

int32_t ObbFieldValue(std::span<const uint8_t> bytes) {
  if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; })) return 0;
  uint32_t v = 0;
  for (uint8_t b : bytes) v = v << 8 | b;  // the high bytes shift out: the low 32 bits remain
  return static_cast<int32_t>(v);
}

std::vector<int64_t> ObbRowValues(ObbProduct product, std::span<const uint8_t> image) {
  const ObbLayout& layout = ObbLayoutOf(product);
  std::vector<int64_t> values;
  const auto counts = region(image, layout.badCounts);
  int64_t total = 0;
  for (size_t i = 0; i < kObbPlaneColumns; ++i) {
    uint16_t c = word(counts, i);
    if (c != 0xFFFF) total += c;  // an erased count is no count
  }
  values.push_back(total);
  for (size_t i = 0; i < kObbPlaneColumns; ++i) values.push_back(word(counts, i));
  appendFields(values, ObbTableA(product), region(image, layout.regionA));
  appendFields(values, ObbTableB(product), region(image, layout.regionB));
  for (const ObbExtraRegion& e : layout.extras) {
    const auto r = region(image, e.offset);
    for (size_t i = 0; i < kObbPlaneColumns; ++i) values.push_back(word(r, i));
  }
  return values;
}

std::vector<std::string> ObbColumnNames(ObbProduct product) {
  std::vector<std::string> names{"File Name", "Ttl Bad"};
  for (size_t i = 0; i < kObbPlaneColumns; ++i) names.push_back(formatText("%02X", static_cast<unsigned>(i)));
  for (const auto* table : {&ObbTableA(product), &ObbTableB(product)})
    for (const ObbField& f : *table)
      if (!f.isGap()) names.push_back(f.label);
  for (const ObbExtraRegion& e : ObbLayoutOf(product).extras)
    for (size_t i = 0; i < kObbPlaneColumns; ++i) names.push_back(ExtraValueLabel(product, e.prefix, i));
  return names;
}

std::string ObbCsvHeader(ObbProduct product) {
  std::string lines[4] = {",,", ",,", ",,", ",Total Bad,"};
  for (size_t i = 0; i < kObbPlaneColumns; ++i) {
    PlaneColumn p = PlaneColumnOf(product, i);
    lines[0] += formatText("Channel%d,", p.channel);
    lines[1] += formatText("Chip%d,", p.chip);
    lines[2] += formatText("Die%d,", p.die);
    lines[3] += formatText("Plan%d,", p.plane);
  }
  std::vector<std::string> names = ObbColumnNames(product);
  for (size_t i = 2 + kObbPlaneColumns; i < names.size(); ++i) lines[3] += names[i] + ",";
  return lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n" + lines[3] + "\r\n";
}

}  // namespace zorv::analysis
