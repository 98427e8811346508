#pragma once
// Multi-byte numbers in byte buffers: big-endian as SCSI command blocks,
// sense data, vendor command sectors and the package header hold them,
// little-endian as IDENTIFY words, SMART attributes and the package's model
// table do. The caller keeps every access inside its buffer.

#include <cstdint>

namespace zorv {

constexpr uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
constexpr uint32_t be24(const uint8_t* p) { return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]; }
constexpr uint32_t be32(const uint8_t* p) { return uint32_t{be16(p)} << 16 | be16(p + 2); }
constexpr uint64_t be64(const uint8_t* p) { return uint64_t{be32(p)} << 32 | be32(p + 4); }

constexpr uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
constexpr uint32_t le32(const uint8_t* p) { return le16(p) | uint32_t{le16(p + 2)} << 16; }
constexpr uint64_t le64(const uint8_t* p) { return le32(p) | uint64_t{le32(p + 4)} << 32; }

constexpr void putBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
constexpr void putBe32(uint8_t* p, uint32_t v) {
  putBe16(p, static_cast<uint16_t>(v >> 16));
  putBe16(p + 2, static_cast<uint16_t>(v));
}
constexpr void putBe64(uint8_t* p, uint64_t v) {
  putBe32(p, static_cast<uint32_t>(v >> 32));
  putBe32(p + 4, static_cast<uint32_t>(v));
}

constexpr void putLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void putLe32(uint8_t* p, uint32_t v) {
  putLe16(p, static_cast<uint16_t>(v));
  putLe16(p + 2, static_cast<uint16_t>(v >> 16));
}
constexpr void putLe64(uint8_t* p, uint64_t v) {
  putLe32(p, static_cast<uint32_t>(v));
  putLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace zorv
