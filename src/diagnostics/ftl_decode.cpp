#include "diagnostics/ftl_decode.h"

#include <algorithm>
#include <cctype>

#include "transport/message.h"

namespace zorv {

namespace {

constexpr std::string_view kRule = "----------------\r\n";

uint8_t at(std::span<const uint8_t> b, size_t i) { return i < b.size() ? b[i] : 0xFF; }
uint16_t be16(std::span<const uint8_t> b, size_t i) { return static_cast<uint16_t>(at(b, i) << 8 | at(b, i + 1)); }

// Reads up to `digits` hex digits of text from pos, stopping at the first
// character that is not one.
uint32_t hexAt(std::string_view text, size_t pos, size_t digits) {
  uint32_t v = 0;
  for (size_t i = pos; i < text.size() && i < pos + digits; ++i) {
    char c = text[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  return v;
}

void eraseAll(std::string& text, std::string_view what) {
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p)) text.erase(p, what.size());
}

}  // namespace

// ---- PPN layout ---------------------------------------------------------------------

uint32_t PpnLayout::field(size_t k, uint32_t ppn) const {
  if (k >= kPpnFieldCount || shift[k] >= 32) return 0;
  return (ppn & mask[k]) >> shift[k];
}

PpnLayout ppnLayoutFromWidths(const std::array<uint8_t, kPpnFieldCount>& widths) {
  PpnLayout l;
  uint32_t shift = 0;
  for (size_t k = 0; k < kPpnFieldCount; ++k) {
    l.width[k] = widths[k];
    if (k == kPpnTrim) break;
    l.shift[k] = shift;
    uint32_t m = 0;
    for (uint32_t b = shift; b < shift + widths[k] && b < 32; ++b) m |= uint32_t{1} << b;
    l.mask[k] = m;
    shift += widths[k];
  }
  // Trim sits in the top bits; its shift is what the other fields use up.
  uint32_t w = widths[kPpnTrim];
  l.shift[kPpnTrim] = shift;
  l.mask[kPpnTrim] = w == 0 ? 0 : w >= 32 ? 0xFFFFFFFFu : ~((uint32_t{1} << (32 - w)) - 1);
  return l;
}

PpnLayout ppnLayoutFromReply(std::span<const uint8_t> reply) {
  std::array<uint8_t, kPpnFieldCount> widths{};
  for (size_t k = 0; k < kPpnFieldCount; ++k) widths[k] = at(reply, 1 + 2 * k);
  return ppnLayoutFromWidths(widths);
}

std::string ppnLayoutText(const PpnLayout& l) {
  static constexpr const char* kNames[kPpnFieldCount] = {"chan", "chip", "die ", "plan", "blck",
                                                          "page", "au4k", "resv", "trim"};
  std::string out;
  for (size_t k = 0; k < kPpnFieldCount; ++k) {
    out += formatText("%s bits %X, shift %02X, mask %08X\r\n", kNames[k], l.width[k], l.shift[k], l.mask[k]);
  }
  out += kRule;
  return out;
}

std::string onePpnText(uint32_t startPpn, std::span<const uint8_t> reply) {
  return formatText("PPN: %04X, Channel : %X, Chip : %X, Die : %X, Plane : %X, Block : %04X, Page : %02X, "
                    "Auloc : %X, Trim : %X\r\n",
                    startPpn, be16(reply, 0), be16(reply, 2), be16(reply, 4), be16(reply, 6), be16(reply, 8),
                    be16(reply, 10), be16(reply, 12), be16(reply, 14)) +
         std::string(kRule);
}

std::string ppnListLine(uint32_t n, uint32_t ppn, const PpnLayout& l) {
  std::string die = l.width[kPpnDie] == 0 ? "0" : formatText("%X", l.field(kPpnDie, ppn));
  return formatText("PPN: %04X, Channel : %X, Chip : %X, Die : ", n, l.field(kPpnChan, ppn), l.field(kPpnChip, ppn)) +
         die +
         formatText(", Plane : %X, Block : %04X, Page : %02X, Auloc : %X, Trim : %X\r\n", l.field(kPpnPlan, ppn),
                    l.field(kPpnBlck, ppn), l.field(kPpnPage, ppn), l.field(kPpnAu4k, ppn), l.field(kPpnTrim, ppn));
}

std::string blockInfoText(std::span<const uint8_t> reply) {
  static constexpr const char* kLabels[6] = {"Invalid Page Num   : ", "Wear Leveling Index: ", "Type               : ",
                                             "Erase Count        : ", "User Data          : ", "Table Flag         : "};
  std::string out;
  for (size_t i = 0; i < 6; ++i) out += formatText("%s%04X\r\n", kLabels[i], be16(reply, 2 * i));
  out += kRule;
  return out;
}

// ---- Block dump ---------------------------------------------------------------------

BlockDumpHeader parseBlockDumpHeader(std::span<const uint8_t> s, uint16_t modelClass) {
  BlockDumpHeader h;
  h.address = {at(s, 1), at(s, 3), at(s, 5), at(s, 7)};
  h.validBytes = be16(s, 8);
  h.dataStart = be16(s, 10);
  h.countdown = be16(s, 12);
  h.slcEraseBase = be16(s, 32);
  h.mlcEraseBase = be16(s, 34);
  h.endMark = at(s, 1) == 0xFF || at(s, 3) == 0xFF;
  if (modelClass == 1) {
    h.widths = {at(s, 21), at(s, 23), at(s, 25), at(s, 27), 0, 0};
  } else {
    h.widths = {at(s, 17), at(s, 19), at(s, 21), at(s, 25), at(s, 27), at(s, 29)};
  }
  return h;
}

BlockRecordLayout blockRecordLayout(const BlockDumpHeader& header, uint16_t modelClass) {
  using F = RecordField;
  BlockRecordLayout l;
  if (modelClass == 1) {
    l.count = 4;
    l.fields = {F::BlockType, F::EraseCount, F::InvalidPage, F::WearLevel, F::UserData, F::UserData};
  } else {
    l.count = 6;
    l.fields = {F::UserData, F::TableFlag, F::WearLevel, F::EraseCount, F::InvalidPage, F::BlockType};
  }
  uint32_t shift = 0;
  for (size_t i = 0; i < l.count; ++i) {
    l.width[i] = header.widths[i];
    l.shift[i] = shift;
    uint64_t m = 0;
    for (uint32_t b = shift; b < shift + l.width[i] && b < 64; ++b) m |= uint64_t{1} << b;
    l.mask[i] = m;
    shift += l.width[i];
  }
  return l;
}

uint64_t BlockRecordLayout::value(RecordField f, uint64_t record) const {
  for (size_t i = 0; i < count; ++i) {
    if (fields[i] != f) continue;
    return shift[i] >= 64 ? 0 : (record & mask[i]) >> shift[i];
  }
  return 0;
}

uint64_t BlockRecordLayout::eraseFactor() const {
  for (size_t i = 0; i < count; ++i) {
    if (fields[i] != RecordField::EraseCount) continue;
    return width[i] == 0 || width[i] > 64 ? 0 : uint64_t{1} << (width[i] - 1);
  }
  return 0;
}

std::string bitDefinitionText(const BlockRecordLayout& l, const BlockDumpHeader& header) {
  std::string out;
  for (size_t i = 0; i < l.count; ++i) {
    const char* label = "";
    switch (l.fields[i]) {
      case RecordField::UserData: label = "User Data"; break;
      case RecordField::TableFlag: label = "Tabl Flag"; break;
      case RecordField::WearLevel: label = "Wear Levl"; break;
      case RecordField::EraseCount: label = "Eras Cunt"; break;
      case RecordField::InvalidPage: label = "Inal Page"; break;
      case RecordField::BlockType: label = "Blck Type"; break;
    }
    out += formatText("%s Bit: %02X, Shf: %02X, Msk: %08X%08X\r\n", label, l.width[i], l.shift[i],
                      static_cast<uint32_t>(l.mask[i] >> 32), static_cast<uint32_t>(l.mask[i]));
  }
  out += formatText("Erse Base SLC: %02X\r\nErse Base MLC: %02X\r\n", header.slcEraseBase, header.mlcEraseBase);
  out += kRule;
  return out;
}

std::string groupHeaderLine(const BlockDumpHeader& h, uint16_t modelClass) {
  if (modelClass == 1) {
    return formatText("============Raid %02X===SlcStr %04X===RsvStr %04X===NonSlcStr %04X========\r\n", h.address[3],
                      h.address[1], h.address[2], h.dataStart);
  }
  return formatText("============Ch %02X==Chip %02X==Die %02X==Plane %02X====DataBlkS %04X========\r\n", h.address[0],
                    h.address[1], h.address[2], h.address[3], h.dataStart);
}

std::string blockRecordLine(uint32_t index, uint64_t record, const BlockRecordLayout& l, uint64_t eraseBase) {
  using F = RecordField;
  return formatText("Blk %04X : IvidPNum %04llX wlidx %04llX BLKty %04llX EC %04llX\r\n", index,
                    static_cast<unsigned long long>(l.value(F::InvalidPage, record)),
                    static_cast<unsigned long long>(l.value(F::WearLevel, record)),
                    static_cast<unsigned long long>(l.value(F::BlockType, record)),
                    static_cast<unsigned long long>(l.value(F::EraseCount, record) + eraseBase));
}

std::string planeSummaryText(uint32_t early, uint32_t later, uint32_t totalEarly, uint32_t totalLater) {
  return formatText("Current Plane:\r\nEarly Bad: 0x%04X\r\nLater Bad: 0x%04X\r\nTotal Early Bad: 0x%04X\r\n"
                    "Total Later Bad: 0x%04X\r\n",
                    early, later, totalEarly, totalLater);
}

// ---- Later-bad report ---------------------------------------------------------------

std::string laterBadReportName(std::string_view serial, const DiagClockValue& clock) {
  return "LtrBadRptSNum__" + fileNamePart(serial) + "__" + formatText("%02d%02d", clock.month(), clock.day()) + ".csv";
}

std::string laterBadReportHeader(std::string_view dumpText) {
  constexpr std::string_view kGroup = "============Ch ";
  std::string channels, chips, dies, planes;
  size_t pos = 0;
  while (pos < dumpText.size()) {
    size_t end = dumpText.find('\n', pos);
    std::string_view line = dumpText.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? dumpText.size() : end + 1;
    if (!line.starts_with(kGroup)) continue;
    channels += formatText("Chn %u,", hexAt(line, 15, 2));
    chips += formatText("Chp %u,", hexAt(line, 24, 2));
    dies += formatText("Die %u,", hexAt(line, 32, 2));
    planes += formatText("Pln %u,", hexAt(line, 42, 2));
  }
  return "," + channels + "\r\n," + chips + "\r\n," + dies + "\r\nItem," + planes + "Rec Time,\r\n";
}

std::string laterBadReportRow(std::string_view dumpText, const DiagClockValue& clock) {
  // The row carries each plane summary's later-bad count; the dump's running
  // totals are taken out first so that only the per-plane counts remain.
  constexpr std::string_view kTotal = "Total Later Bad: ";
  constexpr std::string_view kLater = "Later Bad: ";
  std::string text(dumpText);
  eraseAll(text, kTotal);
  std::string row = "Later Bad,";
  for (size_t p = text.find(kLater); p != std::string::npos; p = text.find(kLater, p + kLater.size())) {
    row += formatText("%u,", hexAt(text, p + 13, 4));
  }
  row += formatText("%02d/%02d %02d:%02d:%02d,\r\n", clock.month(), clock.day(), clock.hour(), clock.minute(),
                    clock.second());
  return row;
}

// ---- Flash information --------------------------------------------------------------

std::string planeInfoText(std::span<const uint8_t> reply, uint16_t modelClass) {
  std::vector<std::string> labels;
  auto range = [&](const char* name, int n, int width) {
    for (int i = 0; i < n; ++i) {
      std::string label = formatText("%s[%d]", name, i);
      label.resize(static_cast<size_t>(width), ' ');
      labels.push_back(label + ": ");
    }
  };
  auto one = [&](const char* label) { labels.emplace_back(label); };
  if (modelClass == 1) {
    range("L1GcSrcBlk_Keep", 6, 18);
    range("L1FreeBlk_Keep", 6, 18);
    one("CurL1GcSrcIdx     : ");
    one("CurL1FreeIdx      : ");
    one("L1FreeBlk_Num     : ");
    range("SGcSrcBlk_Keep", 3, 18);
    range("SFreeBlk_Keep", 7, 18);
    one("CurSFreeIdx       : ");
    one("SFreeBlk_Num      : ");
    range("TGcSrcBlk_Keep", 3, 18);
    one("TFreeBlk_Num      : ");
    one("CurTGcSrcIdx      : ");
  } else {
    one("Start_Blk       : ");
    one("End_Blk         : ");
    one("Tmp             : ");
    one("BasePgperBlk    : ");
    one("TTbl_Start_Blk  : ");
    one("TTbl_End_Blk    : ");
    one("TTbl_Blk        : ");
    range("FreeBlk_Keep", 8, 16);
    one("FreeBlk_Num     : ");
    one("Active_Blk      : ");
    one("Active_Pg       : ");
    one("GcSrc_Blk       : ");
    one("GcDsc_Blk       : ");
    one("GcDst_Pg        : ");
    one("EcMin_Blk       : ");
    one("WlTarg_Blk      : ");
    range("WaitErase_Blk", 8, 16);
    one("Min_Ec          : ");
    one("CurFreeIdx      : ");
    one("CurEraseIdx     : ");
    one("WrFactor        : ");
    one("GcFactor        : ");
  }
  std::string out;
  for (size_t i = 0; i < labels.size(); ++i) {
    out += labels[i] + formatText("0x%02X%02X\r\n", at(reply, 2 * i), at(reply, 2 * i + 1));
  }
  out += kRule;
  return out;
}

std::string flashIdText(std::span<const uint8_t> reply) {
  constexpr size_t kEntry = 10;
  uint16_t channels = be16(reply, 0);
  uint16_t chips = be16(reply, 2);
  std::string out = formatText("Chan Num: %04X\r\nChip Num: %04X\r\n", channels, chips);
  // The product is a 16-bit count; only the entries the reply holds are read.
  const size_t announced = static_cast<uint16_t>(uint32_t{channels} * chips);
  const size_t room = reply.size() > 4 ? (reply.size() - 4) / kEntry : 0;
  const size_t entries = std::min(announced, room);
  for (size_t e = 0; e < entries; ++e) {
    size_t o = 4 + e * kEntry;
    out += formatText("Channel : %04X\r\nDie     : %04X\r\nID      : ", be16(reply, o), be16(reply, o + 2));
    for (size_t i = 0; i < 6; ++i) out += formatText("%02X", at(reply, o + 4 + i));
    out += "\r\n";
  }
  if (announced > entries) {
    out += formatText("Only %u of the %u entries fit in the reply sector\r\n", static_cast<unsigned>(entries),
                      static_cast<unsigned>(announced));
  }
  out += kRule;
  return out;
}

std::string flashCheckText(std::span<const uint8_t> reply) {
  struct Row {
    const char* label;
    size_t offset;
    size_t width;
  };
  static constexpr Row kRows[] = {{"Page size (K)  : ", 16, 2}, {"ERU size       : ", 18, 2},
                                  {"Blocks/CE      : ", 20, 4}, {"Cap/Dev (GBits): ", 24, 2},
                                  {"Total Capacity : ", 26, 2}};
  std::string out = "Manufactor     : ";
  for (size_t i = 0; i < 16; ++i) out += static_cast<char>(at(reply, i));
  out += "\r\n";
  for (const Row& r : kRows) {
    out += std::string(r.label) + "0x";
    for (size_t i = 0; i < r.width; ++i) out += formatText("%02X", at(reply, r.offset + i));
    out += "\r\n";
  }
  out += kRule;
  return out;
}

std::string badBlockListText(std::span<const uint8_t> reply) {
  uint16_t raids = be16(reply, 4);
  uint16_t planes = be16(reply, 6);
  std::string out = formatText(
      "Reserve Start Block : %04X\r\nReserve End   Block : %04X\r\nRaid Number         : %04X\r\n"
      "Plane Number        : %04X\r\nBad Block List As Below----\r\n",
      be16(reply, 0), be16(reply, 2), raids, planes);
  // The list is sized by the low 15 bits of R x P and by what the reply holds.
  size_t entries = (uint32_t{raids} * planes) & 0x7FFF;
  size_t room = reply.size() > 8 ? (reply.size() - 8) / 2 : 0;
  entries = std::min({entries, room, kMaxBadBlockListEntries});
  for (size_t i = 0; i < entries && planes != 0; ++i) {
    out += formatText("Raid%02X Plane%02X: %04X\r\n", static_cast<unsigned>(i / planes),
                      static_cast<unsigned>(i % planes), be16(reply, 8 + 2 * i));
  }
  return out;
}

// ---- Dumps ---------------------------------------------------------------------------

std::string fileNamePart(std::string_view text) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    out += (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  if (out == "." || out == "..") out.assign(out.size(), '_');
  return out;
}

std::string memoryDumpName(std::string_view startText, uint64_t sectors, const DiagClockValue& clock) {
  std::string upper;
  for (char c : startText) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return "MemDmp_Adr" + fileNamePart(upper) + formatText("_Len%llX", static_cast<unsigned long long>(sectors * 512)) +
         "_" + clock.stamp() + ".bin";
}

std::string spiDumpName(const DiagClockValue& clock) { return "SpiDmp_Adr00000_Len80000_" + clock.stamp() + ".bin"; }

bool swapLineEnds(std::span<uint8_t> bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] == 0x0A && i + 1 < bytes.size() && bytes[i + 1] == 0x0D) {
      bytes[i] = 0x0D;
      bytes[i + 1] = 0x0A;
      i += 2;
      continue;
    }
    if (bytes[i] == 0x0A && i + 1 == bytes.size()) return true;
    ++i;
  }
  return false;
}

}  // namespace zorv
