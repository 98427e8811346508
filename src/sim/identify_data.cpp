// IDENTIFY DEVICE (ECh): the drive's identity and capabilities as a SATA SSD
// of the family reports them (ACS-2/ACS-3 layout).

#include "sim/identify_data.h"

#include <algorithm>
#include <cstring>

#include "sim/controller_parts.h"
#include "sim/sim_drive.h"
#include "transport/ata_opcodes.h"
#include "transport/byte_order.h"

namespace zorv::sim {

namespace {

// IDENTIFY words are little-endian; a double word takes two, low word first.
void putWord(std::span<uint8_t, kIdentifySize> out, int word, uint16_t value) {
  putLe16(&out[static_cast<size_t>(2 * word)], value);
}

void putDword(std::span<uint8_t, kIdentifySize> out, int word, uint32_t value) {
  putLe32(&out[static_cast<size_t>(2 * word)], value);
}

constexpr uint16_t kLegacyCylinders = 16383;
constexpr uint16_t kLegacyHeads = 16;
constexpr uint16_t kLegacySectorsPerTrack = 63;

}  // namespace

void putAtaString(std::span<uint8_t, kIdentifySize> out, int firstWord, int words, std::string_view text) {
  for (int i = 0; i < 2 * words; ++i) {
    char c = static_cast<size_t>(i) < text.size() ? text[static_cast<size_t>(i)] : ' ';
    // The first character of each pair sits in the word's high byte.
    out[static_cast<size_t>(2 * firstWord + (i ^ 1))] = static_cast<uint8_t>(c);
  }
}

void buildIdentifyData(const SimIdentity& id, uint64_t userSectors, std::span<uint8_t, kIdentifySize> out) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  bool sata = id.bus != SimBus::Ata;  // a USB drive is a SATA drive behind a bridge
  bool newGeneration = id.modelClass == 1;

  putWord(out, 0, 0x0040);  // fixed device, not removable
  putWord(out, 1, kLegacyCylinders);
  putWord(out, 2, 0xC837);  // no SET FEATURES needed to spin up; IDENTIFY complete
  putWord(out, 3, kLegacyHeads);
  putWord(out, 6, kLegacySectorsPerTrack);
  putAtaString(out, 10, 10, id.serial);
  putAtaString(out, 23, 4, id.firmware);
  putAtaString(out, 27, 20, id.model);
  putWord(out, 47, 0x8010);  // READ/WRITE MULTIPLE: up to 16 sectors per DRQ block
  putWord(out, 48, 0x4000);
  putWord(out, 49, 0x2F00);  // IORDY, IORDY can be disabled, LBA, DMA; standby timer
  putWord(out, 50, 0x4000);
  putWord(out, 51, 0x0200);
  putWord(out, 52, 0x0200);
  putWord(out, 53, 0x0007);  // words 54-58, 64-70 and 88 are valid
  putWord(out, 54, kLegacyCylinders);
  putWord(out, 55, kLegacyHeads);
  putWord(out, 56, kLegacySectorsPerTrack);
  putDword(out, 57, uint32_t{kLegacyCylinders} * kLegacyHeads * kLegacySectorsPerTrack);
  putWord(out, 59, 0x0110);  // multiple sector setting valid: 16
  putDword(out, 60, static_cast<uint32_t>(std::min<uint64_t>(userSectors, 0x0FFFFFFF)));
  putWord(out, 63, 0x0007);  // multiword DMA 0-2 supported, none selected (UDMA is)
  putWord(out, 64, 0x0003);  // PIO modes 3 and 4
  putWord(out, 65, 120);
  putWord(out, 66, 120);
  putWord(out, 67, 120);
  putWord(out, 68, 120);
  putWord(out, 75, 0x001F);  // queue depth 32
  if (sata) {
    // Gen 1-3, NCQ, host-initiated power management, phy event counters.
    putWord(out, 76, 0x070E);
    putWord(out, 77, 0x0016);  // running at Gen 3; bit 4 (the console's "Zero Power" line)
    // Device-initiated power management, asynchronous notification and
    // software settings preservation (and DEVSLP on the newer generation);
    // all three enabled.
    putWord(out, 78, newGeneration ? 0x0168 : 0x0068);
    putWord(out, 79, 0x0068);
  }
  putWord(out, 80, newGeneration ? 0x07F0 : 0x03F0);  // up to ACS-3 / ACS-2
  putWord(out, 81, newGeneration ? 0x011B : 0x0110);
  // SMART, power management, write cache, look-ahead, WRITE/READ BUFFER, NOP.
  putWord(out, 82, 0x7069);
  // 48-bit addressing, FLUSH CACHE (EXT), DOWNLOAD MICROCODE.
  putWord(out, 83, 0x7401);
  putWord(out, 84, 0x4103);  // world wide name, SMART self-test and error log
  putWord(out, 85, 0x7069);
  putWord(out, 86, 0xB401);
  putWord(out, 87, 0x4103);
  putWord(out, 88, 0x407F);  // UDMA 0-6 supported, mode 6 selected
  putWord(out, 93, sata ? 0x0000 : 0x603B);
  putDword(out, 100, static_cast<uint32_t>(userSectors));
  putDword(out, 102, static_cast<uint32_t>(userSectors >> 32));
  putWord(out, 106, 0x4000);  // one 512-byte logical sector per physical sector
  putWord(out, 108, static_cast<uint16_t>(id.wwn >> 48));
  putWord(out, 109, static_cast<uint16_t>(id.wwn >> 32));
  putWord(out, 110, static_cast<uint16_t>(id.wwn >> 16));
  putWord(out, 111, static_cast<uint16_t>(id.wwn));
  putWord(out, 119, 0x4010);  // segmented DOWNLOAD MICROCODE
  putWord(out, 120, 0x4010);
  putAtaString(out, 135, 1, id.word135);
  putWord(out, 168, 0x0003);  // 2.5-inch form factor
  putWord(out, 217, 0x0001);  // not rotating
  putWord(out, 222, sata ? 0x107F : 0x0000);  // serial transport, SATA up to 3.1

  // Integrity word: signature A5h, and a checksum that makes all 512 bytes
  // add up to zero.
  out[510] = 0xA5;
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + out[i]);
  out[511] = static_cast<uint8_t>(-sum);
}

namespace detail {

bool identifyAta(SimDrive& drive, AtaExchange& x) {
  if (x.command.regs.command != ata::kIdentifyDevice) return false;
  if (x.command.dir != DataDir::In || x.data.size() < kIdentifySize) {
    x.reply.abort();
    return true;
  }
  buildIdentifyData(drive.identity(), drive.userCapacity(), x.data.first<kIdentifySize>());
  // Word 85 bit 5: the write cache is enabled.
  if (!drive.record().writeCacheEnabled) x.data[170] &= static_cast<uint8_t>(~0x20);
  x.reply.bytes = kIdentifySize;
  return true;
}

}  // namespace detail

}  // namespace zorv::sim
