#pragma once
// Small helpers shared by the simulated bay's tests.

#include <cstdint>
#include <string>

#include "support/sim_fixture.h"
#include "transport/ata_command.h"
#include "transport/scsi_command.h"

namespace zorv::test {

inline bool sendIdentify(Context& ctx) {
  AtaTaskFile tf = identifyTaskFile();
  return SendAtaCommand(ctx, false, tf, false, 512);
}

// A 48-bit READ/WRITE DMA EXT task file.
inline AtaTaskFile dmaExt(bool write, uint64_t lba, uint16_t count) {
  AtaTaskFile tf;
  tf.ucCommand = write ? 0x35 : 0x25;
  tf.ucDevice = 0x40;
  tf.ucCount = static_cast<uint8_t>(count);
  tf.ucCountExt = static_cast<uint8_t>(count >> 8);
  tf.ucLbaLow = static_cast<uint8_t>(lba);
  tf.ucLbaMid = static_cast<uint8_t>(lba >> 8);
  tf.ucLbaHigh = static_cast<uint8_t>(lba >> 16);
  tf.ucLbaLowExt = static_cast<uint8_t>(lba >> 24);
  tf.ucLbaMidExt = static_cast<uint8_t>(lba >> 32);
  tf.ucLbaHighExt = static_cast<uint8_t>(lba >> 40);
  return tf;
}

inline uint16_t word(const Context& ctx, int w) {
  return static_cast<uint16_t>(ctx.SectorBuffer[2 * w] | ctx.SectorBuffer[2 * w + 1] << 8);
}

// An ATA string of the IDENTIFY data, byte-swapped back into reading order.
inline std::string ataString(const Context& ctx, int firstWord, int words) {
  std::string s;
  for (int w = firstWord; w < firstWord + words; ++w) {
    s.push_back(static_cast<char>(ctx.SectorBuffer[2 * w + 1]));
    s.push_back(static_cast<char>(ctx.SectorBuffer[2 * w]));
  }
  return s;
}

inline std::string padded(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

// Fills n bytes of the sector buffer with a pattern that differs per seed.
inline void fillPattern(Context& ctx, size_t n, uint32_t seed) {
  for (size_t i = 0; i < n; ++i) ctx.SectorBuffer[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
}

inline bool hasPattern(const Context& ctx, size_t n, uint32_t seed) {
  for (size_t i = 0; i < n; ++i)
    if (ctx.SectorBuffer[i] != static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 9)) & 0xFF)) return false;
  return true;
}

}  // namespace zorv::test
