#pragma once
// The 16-byte register image of one ATA command. Callers fill it; the
// transport reads it and, after a successful command on the ATA/SATA path,
// writes back the six LBA bytes the device returned.

#include <cstdint>
#include <type_traits>

namespace zorv {

struct AtaTaskFile {
  uint8_t ucDataByte = 0;    // 0: passed in the reserved 8th byte of the current register image
  uint8_t ucFeature = 0;     // 1: Features (7:0)
  uint8_t ucCount = 0;       // 2: Sector Count (7:0)
  uint8_t ucLbaLow = 0;      // 3: LBA (7:0)       written back
  uint8_t ucLbaMid = 0;      // 4: LBA (15:8)      written back
  uint8_t ucLbaHigh = 0;     // 5: LBA (23:16)     written back
  uint8_t ucDevice = 0;      // 6: Device (0x40 = LBA addressing)
  uint8_t ucCommand = 0;     // 7: Command
  uint8_t ucUnused8 = 0;     // 8
  uint8_t ucUnused9 = 0;     // 9
  uint8_t ucCountExt = 0;    // 10: Sector Count (15:8)
  uint8_t ucLbaLowExt = 0;   // 11: LBA (31:24)    written back
  uint8_t ucLbaMidExt = 0;   // 12: LBA (39:32)    written back
  uint8_t ucLbaHighExt = 0;  // 13: LBA (47:40)    written back
  uint8_t ucUnused14 = 0;    // 14
  uint8_t ucUnused15 = 0;    // 15

  void clear() { *this = AtaTaskFile{}; }
  // The first 12 bytes read as a SCSI CDB (the raw-CDB primitive uses them so).
  const uint8_t* bytes() const { return &ucDataByte; }
  uint8_t* bytes() { return &ucDataByte; }
};
static_assert(sizeof(AtaTaskFile) == 16);
static_assert(std::is_standard_layout_v<AtaTaskFile>);

namespace ata {
// Status register bits, as the drive returns them in the command register's
// place.
inline constexpr uint8_t kStatusErr = 0x01;   // the command failed; the error register says why
inline constexpr uint8_t kStatusDrq = 0x08;   // data request
inline constexpr uint8_t kStatusDf = 0x20;    // device fault
inline constexpr uint8_t kStatusDrdy = 0x40;  // device ready
inline constexpr uint8_t kStatusBsy = 0x80;   // busy: no other bit is valid
}  // namespace ata

}  // namespace zorv
