#pragma once
// The controller's vendor command protocol as the simulated drive answers it.
//
// A WRITE BUFFER (E8h) whose 512 bytes start with the signature "VXASSD  "
// is a vendor command sector: byte 8 the command code, byte 9 the parameter,
// bytes 16-31 the arguments (numbers big-endian). The drive hands it to the
// code family that owns the code; that family fills the reply. Every READ
// BUFFER (E4h) that follows returns the next 512 bytes of the reply; once the
// reply is used up (or when the command has none) READ BUFFER returns 0xFF
// sectors, until the next command sector. A code no family owns is accepted
// and answered with 0xFF sectors, as the controller does.
//
// A WRITE BUFFER without the signature is offered to the families' raw-sector
// hooks (a restore stream after its start marker); when none takes it the
// pending reply is dropped and the plain 512-byte buffer of the drive
// answers READ/WRITE BUFFER again.
//
// Vendor sectors are only understood by drives of the family; a foreign
// drive treats them as plain buffer writes.
//
// To answer more codes, define a VendorCodeFamily in your own file and add
// it to vendorCodeFamilies() in vendor_protocol.cpp.

#include <cstdint>
#include <span>
#include <vector>

namespace zorv::sim {

class SimDrive;

constexpr size_t kVendorSectorBytes = 512;

struct VendorSector {
  std::span<const uint8_t, kVendorSectorBytes> bytes;
  uint8_t code() const { return bytes[8]; }
  uint8_t parameter() const { return bytes[9]; }
  uint8_t byte(size_t offset) const { return offset < bytes.size() ? bytes[offset] : 0xFF; }
  uint16_t be16(size_t offset) const { return static_cast<uint16_t>(byte(offset) << 8 | byte(offset + 1)); }
  uint32_t be32(size_t offset) const { return uint32_t{be16(offset)} << 16 | be16(offset + 2); }
};

// The reply READ BUFFER returns, whole sectors in order (a partial last
// sector is padded with 0xFF).
struct VendorReply {
  std::vector<uint8_t> bytes;
  // The WRITE BUFFER of the command sector ends with ABRT. A refusal without
  // bytes keeps no reply; one with bytes (error codes) answers the READ
  // BUFFER that follows with them.
  bool reject = false;

  void append(std::span<const uint8_t> data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
};

struct VendorCodeFamily {
  const char* name;
  // True when the family owns sector.code(); the reply is then its answer.
  bool (*command)(SimDrive& drive, const VendorSector& sector, VendorReply& reply);
  // A WRITE BUFFER without the signature; true when the family took it.
  bool (*rawSector)(SimDrive& drive, std::span<const uint8_t, kVendorSectorBytes> data);
};

extern const VendorCodeFamily kVendorInfoCodes;   // sim/vendor_info_codes.cpp: 30h, 56h, 80h, 81h, EBh
extern const VendorCodeFamily kVendorFlashCodes;  // sim/vendor_flash_codes.cpp: FTL, block, flash, dumps, restore
extern const VendorCodeFamily kVendorRmaCodes;    // sim/vendor_rma_codes.cpp: 61h, 62h, F3h, B1h, 03h, B0h, FBh

std::span<const VendorCodeFamily* const> vendorCodeFamilies();

}  // namespace zorv::sim
