#include "diagnostics/smart.h"

#include <algorithm>

#include "transport/ata_command.h"
#include "transport/byte_order.h"
#include "transport/context.h"
#include "transport/message.h"

namespace zorv {

const std::array<SmartAttributeName, kSmartAttributeNameCount> SmartAttributeNames = {{
    {0x01, "Raw Read Error Rate"},
    {0x05, "Retired Block Count"},
    {0x09, "Power-On Hours"},
    {0x0C, "Device Power Cycle Count"},
    {0xAB, "Program Fail Count"},
    {0xAC, "Erase Fail Count"},
    {0xAE, "Unexpected Power Loss"},
    {0xB1, "Wear Range Delta"},
    {0xB5, "Program Fail Count"},
    {0xB6, "Erase Fail Count"},
    {0xBB, "Reported Uncorrectable Errors"},
    {0xC2, "Temperature"},
    {0xC3, "ECC On-the-Fly Error Count"},
    {0xC4, "Reallocation Event Count"},
    {0xC9, "Uncorrectable Soft Read Error Rate"},
    {0xCC, "Soft ECC Correction Rate"},
    {0xE6, "Drive Life Protection Status"},
    {0xE7, "SSD Life Left"},
    {0xE9, "Vendor Specific(Flh Wr)"},
    {0xEA, "Vendor Specific(Flh Rd)"},
    {0xF1, "Lifetime Writes from Host System"},
    {0xF2, "Lifetime Reads to Host System"},
}};

const std::array<SmartDataLabel, 18> SmartDataLabels = {{
    {0, "Vendor specific"},
    {2, "SMART Attribute"},
    {362, "Off-line data collection status"},
    {363, "Self-test execution status byte"},
    {364, "Total time in seconds to complete off-line data collection activity"},
    {366, "Vendor specific"},
    {367, "Off-line data collection capability"},
    {368, "SMART capability"},
    {370, "Error logging capability"},
    {371, "Vendor specific"},
    {372, "Short self-test routine recommended polling time (in minutes)"},
    {373, "Extended self-test routine recommended polling time (7:0) in minutes."},
    {374, "Conveyance self-test routine"},
    {375, "Extended self-test routine recommended polling time (7:0) in minutes"},
    {376, "Extended self-test routine recommended polling time (15:8) in minutes"},
    {377, "Reserved"},
    {386, "Vendor specific"},
    {511, "ChkSum"},
}};

static_assert(kSmartAttributeStart == 2 && kSmartAttributeEnd == 362);

std::optional<std::string_view> smartAttributeName(uint8_t id) {
  for (const auto& row : SmartAttributeNames) {
    if (row.id == id) return row.name;
  }
  return std::nullopt;
}

namespace {

SmartAttribute recordAt(std::span<const uint8_t> d) {
  SmartAttribute a;
  a.id = d[0];
  a.flags = le16(&d[1]);
  a.current = d[3];
  a.worst = d[4];
  a.raw = le32(&d[5]) | uint64_t{le16(&d[9])} << 32;  // 48-bit raw value
  a.threshold = d[11];
  return a;
}

}  // namespace

std::vector<SmartAttribute> ParseSmartAttributes(std::span<const uint8_t> data) {
  std::vector<SmartAttribute> out;
  size_t end = std::min(data.size(), kSmartAttributeEnd);
  for (size_t off = kSmartAttributeStart; off + kSmartAttributeRecordSize <= end; off += kSmartAttributeRecordSize) {
    SmartAttribute a = recordAt(data.subspan(off, kSmartAttributeRecordSize));
    if (a.id != 0) out.push_back(a);
  }
  return out;
}

uint8_t smartChecksum(std::span<const uint8_t> data) {
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < std::min(data.size(), kSmartSectorSize); ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return static_cast<uint8_t>(0x100 - sum);
}

std::string DecodeSmartData(std::span<const uint8_t> data) {
  std::string out = "--------sInfoSSD Start Here\r\n";
  size_t end = std::min(data.size(), kSmartAttributeEnd);
  for (size_t off = kSmartAttributeStart; off + kSmartAttributeRecordSize <= end; off += kSmartAttributeRecordSize) {
    const uint8_t* r = data.data() + off;
    for (const auto& row : SmartAttributeNames) {
      if (row.id != r[0]) continue;
      out += formatText("ID:       %02X,", r[0]);
      out += row.name;
      out += "\r\n";
      out += formatText("Flag:     %02X%02X\r\n", r[2], r[1]);
      out += formatText("Now:      %02X\r\n", r[3]);
      out += formatText("Worst:    %02X\r\n", r[4]);
      out += formatText("RawDataL: %02X%02X%02X%02X\r\n", r[8], r[7], r[6], r[5]);
      out += formatText("RawDataH: %02X%02X\r\n", r[10], r[9]);
      out += formatText("Thres:    %02X\r\n----------------\r\n", r[11]);
    }
  }
  out += "--------sInfoSSD End Here\r\n";
  return out;
}

bool SmartReadData(Context& ctx) {
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kSmart;
  tf.ucFeature = 0xD0;
  tf.ucCount = 1;
  tf.ucLbaMid = 0x4F;
  tf.ucLbaHigh = 0xC2;
  return SendAtaCommand(ctx, false, tf, false, kSmartSectorSize);
}

}  // namespace zorv
