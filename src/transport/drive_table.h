#pragma once
// The table of accepted drives of the family and the names of bus types.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorv {

// Storage bus type numbering (the platform's STORAGE_BUS_TYPE values).
enum BusType : uint8_t {
  kBusScsi = 1,
  kBusAtapi = 2,
  kBusAta = 3,
  kBusUsb = 7,
  kBusRaid = 8,
  kBusSata = 11,
};

// " SATA", " USB", ... with the leading space the drive list uses; empty for
// a value without a name.
std::string_view busDisplayName(uint8_t busType);

struct DriveEntry {
  uint8_t ucBusType = 0;
  uint16_t usModelClass = 0;
  std::string strKnownModel;
  std::string strDevicePath;
  std::string strModel;
  std::string strSerial;
  uint16_t usSectorSize = 512;
  uint32_t ulSectorsLo = 0;
  uint32_t ulSectorsHi = 0;
  uint8_t ucSectorShift = 9;

  uint64_t sectorCount() const { return (uint64_t{ulSectorsHi} << 32) | ulSectorsLo; }
};

constexpr int kMaxDrives = 8;
constexpr uint8_t kNoDrive = 0xFF;
using DriveTableArray = std::array<DriveEntry, kMaxDrives>;

}  // namespace zorv
