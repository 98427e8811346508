#include "diagnostics/vendor_command.h"

#include <algorithm>
#include <cstring>

#include "transport/ata_command.h"
#include "transport/context.h"

namespace zorv {

VendorCommandSector::VendorCommandSector(uint8_t code, std::optional<uint8_t> parameter) {
  bytes.fill(0xFF);
  std::copy(kVendorSignature.begin(), kVendorSignature.end(), bytes.begin());
  bytes[8] = code;
  if (parameter) bytes[9] = *parameter;
}

void VendorCommandSector::setByte(size_t offset, uint8_t value) {
  if (offset < bytes.size()) bytes[offset] = value;
}

void VendorCommandSector::setBe16(size_t offset, uint16_t value) {
  setByte(offset, static_cast<uint8_t>(value >> 8));
  setByte(offset + 1, static_cast<uint8_t>(value));
}

void VendorCommandSector::setBe32(size_t offset, uint32_t value) {
  setBe16(offset, static_cast<uint16_t>(value >> 16));
  setBe16(offset + 2, static_cast<uint16_t>(value));
}

bool hasVendorSignature(std::span<const uint8_t> bytes) {
  return bytes.size() >= kVendorSignature.size() &&
         std::equal(kVendorSignature.begin(), kVendorSignature.end(), bytes.begin());
}

bool WriteVendorSector(Context& ctx, const VendorCommandSector& sector) {
  std::memcpy(ctx.SectorBuffer.data(), sector.bytes.data(), kVendorSectorSize);
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kWriteBuffer;
  tf.ucCount = 1;
  return SendAtaCommand(ctx, true, tf, false, kVendorSectorSize);
}

bool ReadBufferSector(Context& ctx) {
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kReadBuffer;
  tf.ucCount = 1;
  return SendAtaCommand(ctx, false, tf, false, kVendorSectorSize);
}

bool SendVendorCommand(Context& ctx, uint8_t code, uint8_t parameter) {
  return WriteVendorSector(ctx, VendorCommandSector(code, parameter));
}

VendorQueryResult VendorQuery(Context& ctx, const VendorCommandSector& sector) {
  VendorQueryResult r;
  r.sectorWritten = WriteVendorSector(ctx, sector);
  r.replyRead = ReadBufferSector(ctx);
  return r;
}

VendorQueryResult VendorQuery(Context& ctx, uint8_t code, std::optional<uint8_t> parameter) {
  return VendorQuery(ctx, VendorCommandSector(code, parameter));
}

bool SendVendorSwitch(Context& ctx, uint8_t code, uint8_t value) {
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kVendorSwitch;
  tf.ucFeature = code;
  tf.ucCount = value;
  return SendAtaCommand(ctx, true, tf, false, kVendorSectorSize);
}

}  // namespace zorv
