#pragma once
// The controller's vendor command protocol: a 512-byte command sector written
// with WRITE BUFFER (E8h) and, for a query, the reply read back with READ
// BUFFER (E4h); and the F7h switches, data-out commands without payload.
//
// Command sector layout (every byte not set stays 0xFF):
//   0-7    "VXASSD  " signature
//   8      command code
//   9      parameter
//   10-15  0xFF
//   16-31  arguments, numbers big-endian
//   32-511 0xFF

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "transport/ata_opcodes.h"
#include "transport/ata_task_file.h"

namespace zorv {

struct Context;

constexpr size_t kVendorSectorSize = 512;
constexpr size_t kVendorArgumentOffset = 16;
constexpr size_t kVendorArgumentEnd = 32;
inline constexpr std::array<uint8_t, 8> kVendorSignature = {0x56, 0x58, 0x41, 0x53, 0x53, 0x44, 0x20, 0x20};

struct VendorCommandSector {
  std::array<uint8_t, kVendorSectorSize> bytes;

  // Filled with 0xFF, then signature and code; the parameter byte keeps the
  // fill value when none is given.
  explicit VendorCommandSector(uint8_t code, std::optional<uint8_t> parameter = std::nullopt);

  uint8_t code() const { return bytes[8]; }
  uint8_t parameter() const { return bytes[9]; }

  // Writers that ignore anything that would fall outside the sector.
  void setByte(size_t offset, uint8_t value);
  void setBe16(size_t offset, uint16_t value);
  void setBe32(size_t offset, uint32_t value);
};
static_assert(sizeof(VendorCommandSector) == kVendorSectorSize);

// True when bytes (at least 9 of them) start with the signature.
bool hasVendorSignature(std::span<const uint8_t> bytes);

// WRITE BUFFER of sector through CmdBlock (data-out, PIO, 512 bytes).
bool WriteVendorSector(Context& ctx, const VendorCommandSector& sector);
// READ BUFFER of one sector into the start of SectorBuffer (bytes the drive
// does not return read as 0xFF).
bool ReadBufferSector(Context& ctx);

// A sector with code and parameter and no arguments, written only.
bool SendVendorCommand(Context& ctx, uint8_t code, uint8_t parameter);

struct VendorQueryResult {
  bool sectorWritten = false;
  bool replyRead = false;
  bool ok() const { return sectorWritten && replyRead; }
};

// Writes sector, then reads the 512-byte reply into the start of SectorBuffer.
// The read follows even when the write failed: the reply then shows what the
// drive returns (0xFF where it returned nothing).
VendorQueryResult VendorQuery(Context& ctx, const VendorCommandSector& sector);
VendorQueryResult VendorQuery(Context& ctx, uint8_t code, std::optional<uint8_t> parameter);

// F7h switch: Features = code, Count = value, data-out with the 512 bytes
// SectorBuffer happens to hold.
bool SendVendorSwitch(Context& ctx, uint8_t code, uint8_t value);

}  // namespace zorv
