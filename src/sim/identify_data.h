#pragma once
// The 512-byte IDENTIFY DEVICE data of a simulated drive.

#include <cstdint>
#include <span>

#include "sim/drive_record.h"

namespace zorv::sim {

constexpr size_t kIdentifySize = 512;

// Fills out (512 bytes) for identity, reporting userSectors as the
// addressable capacity (words 60-61, 100-103; the accessible max address
// when one is set). Word 255 carries the A5h signature and checksum.
void buildIdentifyData(const SimIdentity& identity, uint64_t userSectors, std::span<uint8_t, kIdentifySize> out);

// Writes an ATA string (two characters per word, the first in the high
// byte), padded with spaces, into words [firstWord, firstWord + words).
void putAtaString(std::span<uint8_t, kIdentifySize> out, int firstWord, int words, std::string_view text);

}  // namespace zorv::sim
