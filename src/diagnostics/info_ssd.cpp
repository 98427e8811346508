#include "diagnostics/info_ssd.h"

#include <algorithm>
#include <cstring>

#include "transport/ata_command.h"
#include "transport/context.h"
#include "transport/message.h"
#include "diagnostics/vendor_command.h"

namespace zorv {

namespace {

constexpr bool isTextLabel(std::string_view label) {
  return label == "DevChkID   : " || label == "FW version : " || label == "FW SN      : " ||
         label == "Flash Model Name  : ";
}

struct Row {
  uint16_t offset;
  std::string_view label;
};

// Rows as (start offset, label); a field runs to the next row's offset, the
// last one to the table's end offset.
template <size_t N>
constexpr std::array<InfoSsdField, N> makeTable(const Row (&rows)[N], uint16_t endOffset) {
  std::array<InfoSsdField, N> out{};
  for (size_t i = 0; i < N; ++i) {
    uint16_t next = i + 1 < N ? rows[i + 1].offset : endOffset;
    out[i] = InfoSsdField{rows[i].offset, static_cast<uint16_t>(next - rows[i].offset), rows[i].label,
                          isTextLabel(rows[i].label)};
  }
  return out;
}

constexpr Row kClass0Rows[] = {
    {0, "DevChkID   : "},
    {8, "FW version : "},
    {16, "HW ID      : "},
    {25, "NULL"},
    {26, "FW SN      : "},
    {32, "Capacity (GB): "},
    {34, "Max LBA: "},
    {40, "Chan: "},
    {42, "Chip: "},
    {44, "Die : "},
    {46, "Plan: "},
    {48, "Blck: "},
    {50, "Page: "},
    {52, "Sect: "},
    {54, "NULL"},
    {56, "Total Blck: "},
    {60, "Total Page: "},
    {64, "LPN       : "},
    {68, "Max PPN   : "},
    {72, "NULL"},
    {96, "Min EC      (TTBL): "},
    {98, "Max EC      (TTBL): "},
    {100, "Avg EC      (TTBL): "},
    {102, "Ttl Blk Cnt (TTBL): "},
    {106, "Min EC      (TBL+Data): "},
    {108, "Max EC      (TBL+Data): "},
    {110, "Avg EC      (TBL+Data): "},
    {112, "Ttl Blk Cnt (TBL+Data): "},
    {116, "Data Block Count  : "},
    {120, "Free Block Count  : "},
    {124, "Min EC      (RMA) : "},
    {126, "Max EC      (RMA) : "},
    {128, "Avg EC      (RMA) : "},
    {130, "NULL"},
    {144, "Flash Model Name  : "},
    {176, "OBB Ver.          : "},
    {178, "OBB Done          : "},
    {180, "OBB Count In SPI  : "},
    {184, "OBB Count In FW   : "},
    {188, "LBB Count In FW   : "},
    {192, "Power On Hour: "},
    {196, "Power   Cycle: "},
    {200, "Total   Read : "},
    {204, "Total   Write: "},
    {208, "WA1(With TBL): "},
    {210, "WA2  (No TBL): "},
    {212, "Uw_DAT (8KB) : "},
    {220, "Iw_DAT (8KB) : "},
    {228, "Iw_TBL (8KB) : "},
    {236, "Current  Temp: "},
    {238, "Worst    Temp: "},
};

constexpr Row kClass1Rows[] = {
    {0, "DevChkID   : "},
    {8, "FW version : "},
    {16, "HW ID      : "},
    {32, "Capacity (GB): "},
    {34, "Max LBA: "},
    {40, "Chan: "},
    {42, "Chip: "},
    {44, "Die : "},
    {46, "Plan: "},
    {48, "Blck: "},
    {50, "Page: "},
    {52, "Sect: "},
    {54, "NULL"},
    {56, "Total Blck: "},
    {60, "Total Page: "},
    {64, "LPN       : "},
    {68, "Max PPN   : "},
    {72, "NULL"},
    {96, "Min EC       (L2) : "},
    {98, "Max EC       (L2) : "},
    {100, "Avg EC       (L2) : "},
    {102, "Ttl Blk Cnt  (L2) : "},
    {106, "Min EC      (TLC) : "},
    {108, "Max EC      (TLC) : "},
    {110, "Avg EC      (TLC) : "},
    {112, "Ttl Blk Cnt (TLC) : "},
    {116, "Data Block Count  : "},
    {120, "Free Block Count  : "},
    {124, "Min EC      (RMA) : "},
    {126, "Max EC      (RMA) : "},
    {128, "Avg EC      (RMA) : "},
    {130, "Min EC      (SLC) : "},
    {132, "Max EC      (SLC) : "},
    {134, "AVG EC      (SLC) : "},
    {136, "Ttl Blk Cnt (SLC) : "},
    {140, "NULL"},
    {144, "Flash Model Name  : "},
    {176, "OBB Ver.          : "},
    {178, "OBB Done          : "},
    {180, "OBB Count In SPI  : "},
    {184, "OBB Count In FW   : "},
    {188, "GBB Count In FW   : "},
    {192, "Power On Hour: "},
    {196, "Power   Cycle: "},
    {200, "Total   Read : "},
    {204, "Total   Write: "},
    {208, "WA1(With TBL): "},
    {210, "WA2  (No TBL): "},
    {212, "Uw_DAT (8KB) : "},
    {220, "Iw_DAT (8KB) : "},
    {228, "Iw_TBL (8KB) : "},
    {236, "Current  Temp: "},
    {238, "Worst    Temp: "},
    {240, "SSD Life Left: "},
    {242, "Life Not Used: "},
    {244, "NULL"},
    {252, "FW SN      : "},
};

constexpr auto kClass0Table = makeTable(kClass0Rows, 240);
constexpr auto kClass1Table = makeTable(kClass1Rows, 260);
static_assert(kClass0Table.size() == 51 && kClass1Table.size() == 57);
static_assert(kClass0Table[2].width == 9 && kClass1Table[2].width == 16);
static_assert(kClass1Table[56].offset == 252 && kClass1Table[56].width == 8);

}  // namespace

std::span<const InfoSsdField> InfoSsdLabelTable(uint16_t modelClass) {
  if (modelClass == 1) return kClass1Table;
  return kClass0Table;
}

size_t hardwareIdLength(uint16_t modelClass) { return modelClass == 1 ? 16 : 9; }

InfoSsdRecord::InfoSsdRecord(std::span<const uint8_t> bytes) {
  bytes_.fill(0xFF);
  std::copy_n(bytes.begin(), std::min(bytes.size(), bytes_.size()), bytes_.begin());
}

std::span<const uint8_t> InfoSsdRecord::hardwareId(uint16_t modelClass) const {
  return std::span<const uint8_t>(bytes_).subspan(kInfoSsdHwIdOffset, hardwareIdLength(modelClass));
}

std::string InfoSsdRecord::firmwareVersion() const {
  return std::string(reinterpret_cast<const char*>(bytes_.data()) + kInfoSsdFirmwareOffset, kInfoSsdFirmwareLength);
}

std::string InfoSsdRecord::firmwareVersionField() const {
  return std::string(reinterpret_cast<const char*>(bytes_.data()) + kInfoSsdFirmwareOffset, 8);
}

std::string InfoSsdRecord::firmwareSerial(uint16_t modelClass) const {
  size_t offset = modelClass == 1 ? 252 : 26;
  size_t width = modelClass == 1 ? 8 : 6;
  return std::string(reinterpret_cast<const char*>(bytes_.data()) + offset, width);
}

uint64_t InfoSsdRecord::number(size_t offset, size_t width) const {
  if (width > 8 || offset > bytes_.size() || width > bytes_.size() - offset) return 0;
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | bytes_[offset + i];
  return v;
}

std::span<const uint8_t> InfoSsdRecord::field(uint16_t modelClass, size_t row) const {
  auto table = InfoSsdLabelTable(modelClass);
  if (row >= table.size()) return {};
  return std::span<const uint8_t>(bytes_).subspan(table[row].offset, table[row].width);
}

std::string infoSsdHexText(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (size_t k = 0; k < bytes.size(); ++k) {
    out += kDigits[bytes[k] >> 4];
    out += kDigits[bytes[k] & 0x0F];
    if (k % 2 == 1) out += ' ';
  }
  return out;
}

std::string DecodeInfoSsdFields(const InfoSsdRecord& record, uint16_t modelClass) {
  std::string out = "--------sInfoSSD Start Here\r\n";
  auto table = InfoSsdLabelTable(modelClass);
  for (size_t row = 0; row < table.size(); ++row) {
    const InfoSsdField& f = table[row];
    if (f.reserved()) continue;
    out += f.label;
    auto bytes = record.field(modelClass, row);
    if (f.text) {
      out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    } else {
      out += infoSsdHexText(bytes);
    }
    out += "\r\n";
  }
  out += "--------sInfoSSD End Here\r\n";
  return out;
}

std::string wwnLine(std::span<const uint8_t> identify) {
  std::string out = "WWN        : ";
  for (size_t w = 108; w <= 111; ++w) {
    uint16_t word = 0xFFFF;
    if (2 * w + 1 < identify.size()) word = static_cast<uint16_t>(identify[2 * w] | (identify[2 * w + 1] << 8));
    out += formatText("%04X", word);
  }
  out += "\r\n";
  return out;
}

std::string pcbaLine(std::span<const uint8_t> reply) {
  std::string text;
  if (reply.size() >= 68) {
    for (size_t i = 48; i < 68; i += 2) {
      text += static_cast<char>(reply[i + 1]);
      text += static_cast<char>(reply[i]);
    }
  }
  text = text.substr(0, text.find('\0'));
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    text.clear();
  } else {
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  }
  return "PCBA PN    : " + text + "\r\n";
}

VendorQueryResult ReadInfoSsd(Context& ctx, InfoSsdRecord& record) {
  VendorQueryResult r = VendorQuery(ctx, kInfoSsdCode, uint8_t{0});
  record = InfoSsdRecord(std::span<const uint8_t>(ctx.SectorBuffer.data(), kInfoSsdRecordSize));
  return r;
}

std::string ReadWwnLine(Context& ctx, bool* failed) {
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kIdentifyDevice;
  tf.ucCount = 1;
  tf.ucDevice = 0x40;
  // A failed read left no data to show: the line says so instead.
  if (!SendAtaCommand(ctx, false, tf, false, 512)) {
    if (failed) *failed = true;
    return "WWN        : Read Fail\r\n";
  }
  return wwnLine(std::span<const uint8_t>(ctx.SectorBuffer.data(), 512));
}

std::string ReadPcbaLine(Context& ctx, bool* failed) {
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kVendorSwitch;
  tf.ucFeature = 0x16;
  tf.ucCount = 1;
  tf.ucLbaLow = 1;
  if (!SendAtaCommand(ctx, false, tf, false, 512)) {
    if (failed) *failed = true;
    return "PCBA PN    : Read Fail\r\n";
  }
  return pcbaLine(std::span<const uint8_t>(ctx.SectorBuffer.data(), 512));
}

}  // namespace zorv
