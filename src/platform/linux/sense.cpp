#include "platform/linux/sense.h"

#include <algorithm>

namespace zorv::platform {

namespace {

bool isDescriptorCode(uint8_t code) { return code == 0x72 || code == 0x73; }
bool isFixedCode(uint8_t code) { return code == 0x70 || code == 0x71; }

// Descriptor-format sense is bounded by both the buffer and its own
// ADDITIONAL SENSE LENGTH (byte 7).
size_t descriptorTotal(const uint8_t* sense, size_t length) {
  if (length < 8) return length;
  return std::min(length, size_t{8} + sense[7]);
}

bool upperZero(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0; }

}  // namespace

SenseSummary summarizeSense(const uint8_t* sense, size_t length) {
  SenseSummary s;
  if (sense == nullptr || length == 0) return s;
  const uint8_t code = sense[0] & 0x7F;
  if (isDescriptorCode(code)) {
    if (length < 4) return s;
    s.present = true;
    s.descriptor = true;
    s.key = sense[1] & 0x0F;
    s.asc = sense[2];
    s.ascq = sense[3];
  } else if (isFixedCode(code)) {
    if (length < 3) return s;
    s.present = true;
    s.key = sense[2] & 0x0F;
    s.asc = length > 12 ? sense[12] : 0;
    s.ascq = length > 13 ? sense[13] : 0;
  }
  return s;
}

const uint8_t* findSenseDescriptor(const uint8_t* sense, size_t length, uint8_t type) {
  if (sense == nullptr || length < 8 || !isDescriptorCode(sense[0] & 0x7F)) return nullptr;
  const size_t total = descriptorTotal(sense, length);
  size_t pos = 8;
  // Each descriptor: type, additional length, then that many bytes.
  while (pos + 2 <= total) {
    const size_t size = size_t{2} + sense[pos + 1];
    if (pos + size > total) return nullptr;
    if (sense[pos] == type) return sense + pos;
    pos += size;
  }
  return nullptr;
}

void senseToFixed(const uint8_t* sense, size_t length, std::array<uint8_t, kSenseLength>& out) {
  out.fill(0);
  if (sense == nullptr || length == 0) return;
  const uint8_t code = sense[0] & 0x7F;
  if (!isDescriptorCode(code)) {
    std::copy_n(sense, std::min<size_t>(length, kSenseLength), out.begin());
    return;
  }
  const size_t total = descriptorTotal(sense, length);
  out[0] = code == 0x73 ? 0x71 : 0x70;
  out[7] = kSenseLength - 8;
  if (total >= 4) {
    out[2] = sense[1] & 0x0F;
    out[12] = sense[2];
    out[13] = sense[3];
  }

  // Information (00h): VALID (byte 2 bit 7), 8-byte INFORMATION at 4-11.
  const uint8_t* info = findSenseDescriptor(sense, total, 0x00);
  if (info && info[1] >= 0x0A && upperZero(info + 4)) {
    std::copy_n(info + 8, 4, out.begin() + 3);
    if (info[2] & 0x80) out[0] |= 0x80;
  }
  // Command-specific information (01h): 8 bytes at 4-11.
  const uint8_t* csi = findSenseDescriptor(sense, total, 0x01);
  if (csi && csi[1] >= 0x0A && upperZero(csi + 4)) std::copy_n(csi + 8, 4, out.begin() + 8);
  // Sense-key specific (02h): SKSV and 3 bytes at 4-6.
  const uint8_t* sks = findSenseDescriptor(sense, total, 0x02);
  if (sks && sks[1] >= 0x06) std::copy_n(sks + 4, 3, out.begin() + 15);
  // Field replaceable unit (03h): code at 3.
  const uint8_t* fru = findSenseDescriptor(sense, total, 0x03);
  if (fru && fru[1] >= 0x02) out[14] = fru[3];
  // Stream commands (04h): FILEMARK, EOM, ILI at byte 3 bits 7-5.
  const uint8_t* stream = findSenseDescriptor(sense, total, 0x04);
  if (stream && stream[1] >= 0x02) out[2] |= stream[3] & 0xE0;

  // ATA Status Return (09h), in SAT's fixed layout when nothing else uses
  // INFORMATION and COMMAND-SPECIFIC INFORMATION.
  const uint8_t* ata = findSenseDescriptor(sense, total, 0x09);
  if (ata && ata[1] >= 0x0C && !info && !csi) {
    out[3] = ata[3];   // ERROR
    out[4] = ata[13];  // STATUS
    out[5] = ata[12];  // DEVICE
    out[6] = ata[5];   // COUNT 7:0
    uint8_t flags = 0;
    if (ata[2] & 0x01) flags |= 0x80;                             // EXTEND
    if (ata[4] != 0) flags |= 0x40;                               // COUNT UPPER NONZERO
    if (ata[6] != 0 || ata[8] != 0 || ata[10] != 0) flags |= 0x20;  // LBA UPPER NONZERO
    out[8] = flags;
    out[9] = ata[7];    // LBA 7:0
    out[10] = ata[9];   // LBA 15:8
    out[11] = ata[11];  // LBA 23:16
  }
}

}  // namespace zorv::platform
